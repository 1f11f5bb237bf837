# SPDX-License-Identifier: Apache-2.0
# The Windows pieces, built by the MinGW-w64 cross-build and run under Wine
# (scripts/windows-check.sh): the registry reader against Wine's real registry, the COMn map,
# and Windows paths in the script name and the script opening.
if(NOT WIN32)
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
