# SPDX-License-Identifier: Apache-2.0
# The engine: Timer2_Timer and its mode handlers, run start and stop, the run result.
# Plain C++.
add_library(reburn3_engine STATIC
    ${CMAKE_CURRENT_LIST_DIR}/engine.h
    ${CMAKE_CURRENT_LIST_DIR}/reactive_step.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_control.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_result.h
    ${CMAKE_CURRENT_LIST_DIR}/state_machine.cpp
)
target_link_libraries(reburn3_engine PUBLIC reburn3_script reburn3_serial)
