# SPDX-License-Identifier: Apache-2.0
# Widget tests of reburn3-gui, under the offscreen platform.
if(NOT TARGET reburn3_widgets)
    return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Test)

add_executable(gui_tests
    ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui_fixture.h
    ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/about_box_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sys_info_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/operator_slips_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress_box_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/fake_serial_driver.cpp
)
target_include_directories(gui_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(gui_tests PRIVATE reburn3_widgets Qt6::Test GTest::gtest)
gtest_discover_tests(gui_tests
    PROPERTIES LABELS gui TIMEOUT 60 ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST)

# No caption clipped with a larger font and no scaling: the layout scales by one factor.
foreach(dpi 120 144)
    add_test(NAME gui_captions_${dpi}dpi COMMAND gui_tests --gtest_filter=CaptionTest.*)
    set_tests_properties(gui_captions_${dpi}dpi PROPERTIES LABELS gui TIMEOUT 60
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_ENABLE_HIGHDPI_SCALING=0;QT_FONT_DPI=${dpi}")
endforeach()

# One whole download clicked through the window against the simulated device.
if(TARGET reburn3-sim)
    add_executable(gui_sim_tests
        ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/gui_sim_test.cpp
    )
    target_include_directories(gui_sim_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(gui_sim_tests PRIVATE reburn3_widgets Qt6::Test GTest::gtest)
    target_compile_definitions(gui_sim_tests PRIVATE
        REBURN3_SIM_PATH="$<TARGET_FILE:reburn3-sim>"
        REBURN3_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
    add_dependencies(gui_sim_tests reburn3-sim)
    add_test(NAME gui_sim_downloads COMMAND gui_sim_tests)
    set_tests_properties(gui_sim_downloads PROPERTIES
        LABELS "gui;e2e" TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

# The window under a real X server with a window manager (scripts/with_x.sh): the
# slips and field faults an operator meets, through the X server itself. The font
# cases run again with a larger font and no scaling, on a larger screen.
if(TARGET reburn3-sim)
    add_executable(gui_x_tests
        ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/real_x_test.cpp
    )
    target_include_directories(gui_x_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(gui_x_tests PRIVATE reburn3_widgets Qt6::Test GTest::gtest)
    target_compile_definitions(gui_x_tests PRIVATE
        REBURN3_SIM_PATH="$<TARGET_FILE:reburn3-sim>"
        REBURN3_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
    add_dependencies(gui_x_tests reburn3-sim)
    set(with_x ${PROJECT_SOURCE_DIR}/scripts/with_x.sh)
    # Under AddressSanitizer: libxkbcommon-x11 hands strndup a name that is not
    # terminated when Qt connects to the X server; the strict string check would stop
    # every run there, before any code of ours.
    set(x_asan "ASAN_OPTIONS=string_append::strict_string_checks=0")
    add_test(NAME gui_real_x COMMAND ${with_x} $<TARGET_FILE:gui_x_tests>)
    set_tests_properties(gui_real_x PROPERTIES
        LABELS "gui;e2e;x" TIMEOUT 180 SKIP_RETURN_CODE 77 RUN_SERIAL TRUE
        ENVIRONMENT_MODIFICATION "${x_asan}")
    foreach(dpi 120 144)
        add_test(NAME gui_real_x_fonts_${dpi}dpi COMMAND ${with_x} --screen 1600x1200
            $<TARGET_FILE:gui_x_tests> --gtest_filter=*Fonts*)
        set_tests_properties(gui_real_x_fonts_${dpi}dpi PROPERTIES
            LABELS "gui;x" TIMEOUT 60 SKIP_RETURN_CODE 77
            ENVIRONMENT "QT_ENABLE_HIGHDPI_SCALING=0;QT_FONT_DPI=${dpi}"
            ENVIRONMENT_MODIFICATION "${x_asan}")
    endforeach()
endif()

# Not a test: renders the windows to PNG files (scripts/screenshots.sh).
add_executable(gui_screenshots EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/screenshot_tool.cpp)
target_link_libraries(gui_screenshots PRIVATE reburn3_widgets Qt6::Test)
