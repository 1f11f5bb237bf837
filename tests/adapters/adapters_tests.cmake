# SPDX-License-Identifier: Apache-2.0
# The Qt serial driver against real pseudo-terminals, the port map, and the tick timer
# in a real event loop.
find_package(Qt6 REQUIRED COMPONENTS Core SerialPort Test)

add_executable(serial_tests
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_driver_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_tick_timer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fakes/fake_serial_driver.cpp
)
target_include_directories(serial_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(serial_tests PRIVATE reburn3_adapters Qt6::Test GTest::gtest)
gtest_discover_tests(serial_tests
    PROPERTIES LABELS serial TIMEOUT 30
    DISCOVERY_TIMEOUT 60
)
