# SPDX-License-Identifier: Apache-2.0
# End-to-end runs of the `reburn3` binary against the simulated device on real
# pseudo-terminals.
find_package(Qt6 REQUIRED COMPONENTS Core)

if(TARGET reburn3 AND TARGET reburn3_sim)
    add_executable(e2e_tests ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../json/json_checked_main.cpp)
    target_compile_definitions(e2e_tests PRIVATE REBURN3_BIN="$<TARGET_FILE:reburn3>"
        REBURN3_JSON_SCHEMA="${PROJECT_SOURCE_DIR}/docs/reburn3-json.schema.json"
        REBURN3_JSON_VALIDATOR="${CMAKE_CURRENT_LIST_DIR}/../json/validate_json_lines.py")
    target_include_directories(e2e_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(e2e_tests PRIVATE Qt6::Core GTest::gtest)
    add_dependencies(e2e_tests reburn3)
    # Each test starts its own device and download; none needs more than a few seconds.
    gtest_discover_tests(e2e_tests PROPERTIES LABELS e2e TIMEOUT 40 DISCOVERY_TIMEOUT 60)
endif()

if(TARGET reburn3 AND TARGET reburn3_sim)
    # Several ports, the station loop, retries and a late port, each end to end.
    add_executable(gang_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/gang_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../json/json_checked_main.cpp)
    target_compile_definitions(gang_e2e_tests PRIVATE REBURN3_BIN="$<TARGET_FILE:reburn3>"
        REBURN3_JSON_SCHEMA="${PROJECT_SOURCE_DIR}/docs/reburn3-json.schema.json"
        REBURN3_JSON_VALIDATOR="${CMAKE_CURRENT_LIST_DIR}/../json/validate_json_lines.py")
    target_include_directories(gang_e2e_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(gang_e2e_tests PRIVATE Qt6::Core GTest::gtest util)
    add_dependencies(gang_e2e_tests reburn3)
    gtest_discover_tests(gang_e2e_tests PROPERTIES LABELS e2e TIMEOUT 60 DISCOVERY_TIMEOUT 60)
endif()
