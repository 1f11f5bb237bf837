# SPDX-License-Identifier: Apache-2.0
# The terminal's own pieces, one file per unit: the console view with its progress texts,
# and a gang's progress rows and summary table.
find_package(Qt6 REQUIRED COMPONENTS Core)

if(TARGET reburn3_cli)
    add_executable(cli_tests
        ${CMAKE_CURRENT_LIST_DIR}/console_view_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/gang_progress_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/../support/qt_gtest_main.cpp
    )
    target_include_directories(cli_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_libraries(cli_tests PRIVATE reburn3_cli GTest::gtest)
    gtest_discover_tests(cli_tests PROPERTIES LABELS cli TIMEOUT 30 DISCOVERY_TIMEOUT 60)
endif()
