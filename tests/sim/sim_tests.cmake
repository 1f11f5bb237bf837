# SPDX-License-Identifier: Apache-2.0
# Tests of the simulated device: the model in process, the model against the
# program's engine, and the pseudo-terminal plumbing for real.
add_executable(sim_tests
    ${CMAKE_CURRENT_LIST_DIR}/device_model_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_with_device_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pty_device_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/station_test.cpp
)
target_include_directories(sim_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_compile_definitions(sim_tests PRIVATE
    REBURN3_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
    REBURN3_SIM_EXE="$<TARGET_FILE:reburn3-sim>")
target_link_libraries(sim_tests PRIVATE reburn3_sim reburn3_core GTest::gtest GTest::gtest_main)
add_dependencies(sim_tests reburn3-sim)
gtest_discover_tests(sim_tests
    PROPERTIES LABELS sim TIMEOUT 30
    DISCOVERY_TIMEOUT 60)

# The bundled demonstration script is what its generator makes.
add_test(NAME sim.demo_script_is_reproducible
    COMMAND ${CMAKE_COMMAND}
        -D GENERATOR=$<TARGET_FILE:reburn3-make-demo>
        -D EXPECTED=${PROJECT_SOURCE_DIR}/examples/orx716_demo.pf3
        -D OUTPUT=${CMAKE_CURRENT_BINARY_DIR}/orx716_demo.generated.pf3
        -P ${CMAKE_CURRENT_LIST_DIR}/compare_demo.cmake)
set_tests_properties(sim.demo_script_is_reproducible PROPERTIES LABELS sim TIMEOUT 30)
