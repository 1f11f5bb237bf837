# SPDX-License-Identifier: Apache-2.0
# The run's own pieces, one file per unit: exit codes, the verdict, the recording driver,
# the tick periods and the tick timer in a real event loop.
find_package(Qt6 REQUIRED COMPONENTS Core)

if(TARGET reburn3_cli)
    add_executable(run_tests
        ${CMAKE_CURRENT_LIST_DIR}/exit_codes_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/verdict_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/recording_driver_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/run_stats_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../support/qt_gtest_main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../fakes/fake_serial_driver.cpp
    )
    target_include_directories(run_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(run_tests PRIVATE reburn3_cli GTest::gtest)
    # Labelled cli as before they had a folder of their own: `ctest -L cli` still runs them.
    gtest_discover_tests(run_tests PROPERTIES LABELS cli TIMEOUT 30 DISCOVERY_TIMEOUT 60)
endif()
