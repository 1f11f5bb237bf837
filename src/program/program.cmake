# SPDX-License-Identifier: Apache-2.0
# reburn3: the program. Its main() hands each command to its face: flash, check and ports
# to the command line, simulate to the simulated device, serve to the station service
# (those two on Linux only: platform_commands_*.cpp).
add_executable(reburn3
    ${CMAKE_CURRENT_LIST_DIR}/commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands.h
    ${CMAKE_CURRENT_LIST_DIR}/early_signals_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/platform_commands_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reburn3_main.cpp
)
if(REBURN3_PLATFORM STREQUAL "posix")
    target_link_libraries(reburn3 PRIVATE reburn3_cli reburn3_sim reburn3_serve)
else()
    target_link_libraries(reburn3 PRIVATE reburn3_cli)
endif()
