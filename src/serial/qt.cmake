# SPDX-License-Identifier: Apache-2.0
# reburn3_qt: the Qt edge of the core, shared by the command line and the GUI: the serial
# driver on QSerialPort and the tick timer. (The port-number-to-device map is in the core.)
find_package(Qt6 REQUIRED COMPONENTS Core SerialPort)

add_library(reburn3_qt STATIC
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/port_descriptor.h
    ${CMAKE_CURRENT_LIST_DIR}/../engine/qt_tick_timer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../engine/qt_tick_timer.h
)
if(WIN32)
    target_sources(reburn3_qt PRIVATE ${CMAKE_CURRENT_LIST_DIR}/port_descriptor_windows.cpp)
else()
    target_sources(reburn3_qt PRIVATE ${CMAKE_CURRENT_LIST_DIR}/port_descriptor_posix.cpp)
endif()
set_target_properties(reburn3_qt PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_qt PUBLIC reburn3_core Qt6::Core Qt6::SerialPort)
