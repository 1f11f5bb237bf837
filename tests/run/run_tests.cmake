# SPDX-License-Identifier: Apache-2.0
# The run layer: the port a user names, and a round told through the run's listener
# against the simulated device on a real pseudo-terminal.
if(TARGET reburn3_run AND TARGET reburn3_sim)
    add_executable(run_tests
        ${CMAKE_CURRENT_LIST_DIR}/port_target_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/run_listener_test.cpp
    )
    target_include_directories(run_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(run_tests PRIVATE reburn3_run reburn3_sim GTest::gtest)
    gtest_discover_tests(run_tests PROPERTIES LABELS run TIMEOUT 60 DISCOVERY_TIMEOUT 60)
endif()
