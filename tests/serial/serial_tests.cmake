# The Qt serial driver against real pseudo-terminals, and the port map.
find_package(Qt6 REQUIRED COMPONENTS Core SerialPort Test)

add_executable(serial_tests
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_driver_test.cpp
)
target_link_libraries(serial_tests PRIVATE reburn3_qt Qt6::Test GTest::gtest)
gtest_discover_tests(serial_tests
    PROPERTIES LABELS serial TIMEOUT 30
    DISCOVERY_TIMEOUT 60
)
