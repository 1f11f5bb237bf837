# Reliability: the fault matrix, a 200 MB script and the soak, all end to end with the
# `reburn3` binary against the simulated device on real pseudo-terminals.
find_package(Qt6 REQUIRED COMPONENTS Core)

if(TARGET reburn3)
    add_library(reliability_harness STATIC
        ${CMAKE_CURRENT_LIST_DIR}/harness.cpp
        ${CMAKE_CURRENT_LIST_DIR}/harness.h
    )
    target_include_directories(reliability_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
    target_compile_definitions(reliability_harness PRIVATE REBURN3_BIN="$<TARGET_FILE:reburn3>")
    target_link_libraries(reliability_harness PUBLIC Qt6::Core GTest::gtest)
    add_dependencies(reliability_harness reburn3)

    # One case per fault; each runs its own device and download in a few seconds.
    add_executable(fault_matrix_tests ${CMAKE_CURRENT_LIST_DIR}/fault_matrix_test.cpp)
    target_link_libraries(fault_matrix_tests PRIVATE reliability_harness)
    gtest_discover_tests(fault_matrix_tests
        TEST_PREFIX "reliability."
        PROPERTIES LABELS reliability TIMEOUT 40
        DISCOVERY_TIMEOUT 60)
endif()
