# SPDX-License-Identifier: Apache-2.0
# reburn3: the program. Its main() hands each command to its face: flash, check and ports
# to the command line, simulate to the simulated device, serve to the station service.
add_executable(reburn3
    ${CMAKE_CURRENT_LIST_DIR}/commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands.h
    ${CMAKE_CURRENT_LIST_DIR}/reburn3_main.cpp
)
target_link_libraries(reburn3 PRIVATE reburn3_cli reburn3_sim reburn3_serve)
