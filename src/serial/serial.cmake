# SPDX-License-Identifier: Apache-2.0
# The port: the serial-driver interface, the port link, the port dialog's logic, the
# COMn map and the loss of a device. Plain C++; the drivers themselves live above.
add_library(reburn3_serial STATIC
    ${CMAKE_CURRENT_LIST_DIR}/device_loss.cpp
    ${CMAKE_CURRENT_LIST_DIR}/device_loss.h
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog.h
    ${CMAKE_CURRENT_LIST_DIR}/port_link.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_link.h
    ${CMAKE_CURRENT_LIST_DIR}/port_map.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_map.h
    ${CMAKE_CURRENT_LIST_DIR}/port_target.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_target.h
    ${CMAKE_CURRENT_LIST_DIR}/serial_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/port_map_${REBURN3_PLATFORM}.cpp
)
target_link_libraries(reburn3_serial PUBLIC reburn3_base)
