# SPDX-License-Identifier: Apache-2.0
# reburn3_adapters: the Qt edge of the core, shared by the faces: the serial driver on
# QSerialPort, what the system tells of its descriptor, and the window's tick timer.
find_package(Qt6 REQUIRED COMPONENTS Core SerialPort)

add_library(reburn3_adapters STATIC
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/port_descriptor.h
    ${CMAKE_CURRENT_LIST_DIR}/port_descriptor_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_tick_timer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_tick_timer.h
)
set_target_properties(reburn3_adapters PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_adapters PUBLIC reburn3_app Qt6::Core Qt6::SerialPort)
