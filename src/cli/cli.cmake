# SPDX-License-Identifier: Apache-2.0
# reburn3: the command line on a terminal (Qt Core, no widgets), over the run layer.
find_package(Qt6 REQUIRED COMPONENTS Core)

add_library(reburn3_cli STATIC
    ${CMAKE_CURRENT_LIST_DIR}/check_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/check_command.h
    ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_line.h
    ${CMAKE_CURRENT_LIST_DIR}/console_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/console_view.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_command.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_system_help.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_system_help_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gang_progress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gang_progress.h
    ${CMAKE_CURRENT_LIST_DIR}/info_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/info_commands.h
    ${CMAKE_CURRENT_LIST_DIR}/ports_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_report.h
    ${CMAKE_CURRENT_LIST_DIR}/standard_input.h
    ${CMAKE_CURRENT_LIST_DIR}/standard_input_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/standard_output.h
    ${CMAKE_CURRENT_LIST_DIR}/standard_output_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/station_loop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/station_loop.h
    ${CMAKE_CURRENT_LIST_DIR}/terminal_listener.cpp
    ${CMAKE_CURRENT_LIST_DIR}/terminal_listener.h
)
set_target_properties(reburn3_cli PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_cli PUBLIC reburn3_run Qt6::Core)
