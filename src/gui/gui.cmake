# SPDX-License-Identifier: Apache-2.0
# reburn3-gui: the desktop program, a thin Qt Widgets layer over the core.
# It needs the Qt edge of the core (reburn3_adapters: the serial driver, the port map and the
# tick timer); without it there is nothing to build here.
if(NOT TARGET reburn3_adapters)
    message(STATUS "reburn3-gui: reburn3_adapters not available, GUI not built")
    return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets SerialPort)
include(GNUInstallDirs)

add_library(reburn3_widgets STATIC
    ${CMAKE_CURRENT_LIST_DIR}/about_box.cpp
    ${CMAKE_CURRENT_LIST_DIR}/about_box.h
    ${CMAKE_CURRENT_LIST_DIR}/app_icon.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app_icon.h
    ${CMAKE_CURRENT_LIST_DIR}/display_setup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/display_setup.h
    ${CMAKE_CURRENT_LIST_DIR}/fixed_layout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fixed_layout.h
    ${CMAKE_CURRENT_LIST_DIR}/gui_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui_session.h
    ${CMAKE_CURRENT_LIST_DIR}/gui_texts.h
    ${CMAKE_CURRENT_LIST_DIR}/log_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/log_view.h
    ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_window.h
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog_widget.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog_widget.h
    ${CMAKE_CURRENT_LIST_DIR}/progress_box.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress_box.h
    ${CMAKE_CURRENT_LIST_DIR}/qt_desktop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_desktop.h
)
set_target_properties(reburn3_widgets PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_widgets PUBLIC reburn3_core reburn3_sysinfo reburn3_adapters Qt6::Widgets)

add_executable(reburn3-gui ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(reburn3-gui PRIVATE reburn3_widgets)

# Installation: the programs, the desktop entry and the icon.
install(TARGETS reburn3-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(program reburn3 reburn3-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/reburn3-gui.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/reburn3.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/reburn3-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME reburn3.png)
endforeach()
