# SPDX-License-Identifier: Apache-2.0
# Reliability: the fault matrix, a 200 MB script and the soak, all end to end with the
# `reburn3` binary against the simulated device on real pseudo-terminals.
find_package(Qt6 REQUIRED COMPONENTS Core)

# The script changed between selection and run start, on the core with fakes.
add_executable(selection_to_start_tests
    ${CMAKE_CURRENT_LIST_DIR}/selection_to_start_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/fake_serial_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/run_invariants.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/scripted_device.cpp
)
target_include_directories(selection_to_start_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(selection_to_start_tests PRIVATE reburn3_core GTest::gtest GTest::gtest_main)
gtest_discover_tests(selection_to_start_tests
    TEST_PREFIX "reliability."
    PROPERTIES LABELS reliability TIMEOUT 30
    DISCOVERY_TIMEOUT 60)

if(TARGET reburn3)
    add_library(reliability_harness STATIC
        ${CMAKE_CURRENT_LIST_DIR}/harness.cpp
        ${CMAKE_CURRENT_LIST_DIR}/harness.h
    )
    target_include_directories(reliability_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
    target_compile_definitions(reliability_harness PRIVATE REBURN3_BIN="$<TARGET_FILE:reburn3>")
    target_compile_definitions(reliability_harness PUBLIC
        REBURN3_JSON_SCHEMA="${PROJECT_SOURCE_DIR}/docs/reburn3-json.schema.json"
        REBURN3_JSON_VALIDATOR="${CMAKE_CURRENT_LIST_DIR}/../json/validate_json_lines.py")
    target_link_libraries(reliability_harness PUBLIC Qt6::Core GTest::gtest)
    add_dependencies(reliability_harness reburn3)
    set(json_checked_main ${CMAKE_CURRENT_LIST_DIR}/../json/json_checked_main.cpp)

    # One case per fault; each runs its own device and download in a few seconds.
    add_executable(fault_matrix_tests ${CMAKE_CURRENT_LIST_DIR}/fault_matrix_test.cpp ${json_checked_main})
    target_link_libraries(fault_matrix_tests PRIVATE reliability_harness)
    gtest_discover_tests(fault_matrix_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS reliability TIMEOUT 40
        DISCOVERY_TIMEOUT 60)

    # Delivered, not queued: trailing groups and long lines, byte for byte.
    add_executable(delivery_tests ${CMAKE_CURRENT_LIST_DIR}/delivery_test.cpp ${json_checked_main})
    target_link_libraries(delivery_tests PRIVATE reliability_harness)
    gtest_discover_tests(delivery_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS reliability TIMEOUT 120
        DISCOVERY_TIMEOUT 60)

    # The command line's own faults: a device that never goes quiet, signals during the
    # check and the run, closed standard descriptors, relative port names.
    add_executable(cli_faults_tests ${CMAKE_CURRENT_LIST_DIR}/cli_faults_test.cpp ${json_checked_main})
    target_link_libraries(cli_faults_tests PRIVATE reliability_harness)
    gtest_discover_tests(cli_faults_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS reliability TIMEOUT 60
        DISCOVERY_TIMEOUT 60)

    # 200 MB written, checked and started on: seconds on a quiet machine, more under the
    # sanitizers.
    add_executable(big_script_tests ${CMAKE_CURRENT_LIST_DIR}/big_script_test.cpp ${json_checked_main})
    target_link_libraries(big_script_tests PRIVATE reliability_harness)
    gtest_discover_tests(big_script_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS reliability TIMEOUT 300
        DISCOVERY_TIMEOUT 60)

    # The soak: 30 downloads in a row by default (about 10 s); REBURN3_SOAK_RUNS=1000 for
    # the long one (about 6 minutes), which the time-out allows for.
    add_executable(soak_tests ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp ${json_checked_main})
    target_link_libraries(soak_tests PRIVATE reliability_harness)
    gtest_discover_tests(soak_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS soak TIMEOUT 1800
        DISCOVERY_TIMEOUT 60)

    # The demo, on ticks and reactive, against a fault-free device: 20 and 100 runs by
    # default, REBURN3_DEMO_RUNS=300 for the long version.
    add_executable(demo_series_tests ${CMAKE_CURRENT_LIST_DIR}/demo_series_test.cpp ${json_checked_main})
    target_link_libraries(demo_series_tests PRIVATE reliability_harness)
    target_compile_definitions(demo_series_tests
        PRIVATE REBURN3_DEMO_SCRIPT="${PROJECT_SOURCE_DIR}/examples/orx716_demo.pf3")
    gtest_discover_tests(demo_series_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS soak TIMEOUT 3600
        DISCOVERY_TIMEOUT 60)
endif()
