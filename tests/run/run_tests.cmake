# SPDX-License-Identifier: Apache-2.0
# The run layer, one file per unit: exit codes, the verdict, the recording driver, the
# tick periods and the tick timer in a real event loop, the port a user names, and a
# round told through the run's listener against the simulated device on a real
# pseudo-terminal.
find_package(Qt6 REQUIRED COMPONENTS Core)

if(TARGET reburn3_run AND TARGET reburn3_sim)
    add_executable(run_tests
        ${CMAKE_CURRENT_LIST_DIR}/exit_codes_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/verdict_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/recording_driver_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/run_stats_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/port_target_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/run_listener_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../support/qt_gtest_main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/fake_serial_driver.cpp
    )
    target_include_directories(run_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(run_tests PRIVATE reburn3_run reburn3_sim GTest::gtest)
    # Also labelled cli, as before the run had a folder of its own: `ctest -L cli` still
    # runs them.
    gtest_discover_tests(run_tests PROPERTIES LABELS "run;cli" TIMEOUT 60 DISCOVERY_TIMEOUT 60)
endif()
