# SPDX-License-Identifier: Apache-2.0
# The bottom layer's own tests, linked with nothing above it.
add_executable(base_tests ${CMAKE_CURRENT_LIST_DIR}/option_table_test.cpp)
target_link_libraries(base_tests PRIVATE reburn3_base GTest::gtest GTest::gtest_main)
if(CMAKE_CROSSCOMPILING)
    add_test(NAME base_tests COMMAND base_tests)
    set_tests_properties(base_tests PROPERTIES LABELS base TIMEOUT 600)
else()
    gtest_discover_tests(base_tests PROPERTIES LABELS base DISCOVERY_TIMEOUT 60)
endif()
