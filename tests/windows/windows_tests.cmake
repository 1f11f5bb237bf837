# SPDX-License-Identifier: Apache-2.0
# The Windows pieces, built by the MinGW-w64 cross-build and run under Wine
# (scripts/windows-check.sh): the registry reader against Wine's real registry, the COMn map,
# and Windows paths in the script name and the script opening.
if(NOT WIN32)
    # The native helper of the Wine end-to-end run (tests/windows/wine/wine_e2e.sh): it grabs
    # the X display the Windows programs draw on and reads the clipboard they copy to.
    if(REBURN3_WITH_QT)
        find_package(Qt6 REQUIRED COMPONENTS Gui)
        add_executable(x_probe EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/wine/x_probe.cpp)
        target_link_libraries(x_probe PRIVATE Qt6::Gui)
    endif()
    return()
endif()

add_executable(windows_tests
    ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_map_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows_paths_test.cpp
)
target_link_libraries(windows_tests PRIVATE reburn3_sysinfo reburn3_core GTest::gtest
                                            GTest::gtest_main)
add_test(NAME windows_tests COMMAND windows_tests)
set_tests_properties(windows_tests PROPERTIES LABELS windows TIMEOUT 300)

# The run layer's Windows files (the command line's): the SHA-256, the script's copy, the
# --log and --trace files.
if(TARGET reburn3_run)
    add_executable(windows_run_tests ${CMAKE_CURRENT_LIST_DIR}/run_files_test.cpp)
    target_link_libraries(windows_run_tests PRIVATE reburn3_run GTest::gtest GTest::gtest_main)
    add_test(NAME windows_run_tests COMMAND windows_run_tests)
    set_tests_properties(windows_run_tests PROPERTIES LABELS windows TIMEOUT 300)
endif()
