# SPDX-License-Identifier: Apache-2.0
# reburn3: the command line (Qt Core + SerialPort, no widgets).
find_package(Qt6 REQUIRED COMPONENTS Core SerialPort)
# libcrypto: the SHA-256 of a script, with the processor's SHA instructions where it has them.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

add_library(reburn3_cli STATIC
    ${CMAKE_CURRENT_LIST_DIR}/check_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/check_command.h
    ${CMAKE_CURRENT_LIST_DIR}/cli_texts.h
    ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_line.h
    ${CMAKE_CURRENT_LIST_DIR}/console_desktop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/console_desktop.h
    ${CMAKE_CURRENT_LIST_DIR}/console_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/console_view.h
    ${CMAKE_CURRENT_LIST_DIR}/exit_codes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exit_codes.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_command.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_session.h
    ${CMAKE_CURRENT_LIST_DIR}/gang_progress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gang_progress.h
    ${CMAKE_CURRENT_LIST_DIR}/port_gang.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_gang.h
    ${CMAKE_CURRENT_LIST_DIR}/station_loop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/station_loop.h
    ${CMAKE_CURRENT_LIST_DIR}/handshake_limit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/handshake_limit.h
    ${CMAKE_CURRENT_LIST_DIR}/info_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/info_commands.h
    ${CMAKE_CURRENT_LIST_DIR}/json_result.cpp
    ${CMAKE_CURRENT_LIST_DIR}/json_result.h
    ${CMAKE_CURRENT_LIST_DIR}/output_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/output_files.h
    ${CMAKE_CURRENT_LIST_DIR}/port_diagnosis.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_diagnosis.h
    ${CMAKE_CURRENT_LIST_DIR}/port_identity.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_identity.h
    ${CMAKE_CURRENT_LIST_DIR}/port_path.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_path.h
    ${CMAKE_CURRENT_LIST_DIR}/ports_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reason_table.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reason_table.h
    ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer.h
    ${CMAKE_CURRENT_LIST_DIR}/stop_aware_time.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stop_aware_time_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stop_aware_time.h
    ${CMAKE_CURRENT_LIST_DIR}/recording_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recording_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/run_report.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_report.h
    ${CMAKE_CURRENT_LIST_DIR}/run_stats.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_stats.h
    ${CMAKE_CURRENT_LIST_DIR}/script_problem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_problem.h
    ${CMAKE_CURRENT_LIST_DIR}/script_snapshot.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_snapshot.h
    ${CMAKE_CURRENT_LIST_DIR}/signal_watcher.cpp
    ${CMAKE_CURRENT_LIST_DIR}/signal_watcher.h
    ${CMAKE_CURRENT_LIST_DIR}/verdict.cpp
    ${CMAKE_CURRENT_LIST_DIR}/verdict.h
    ${CMAKE_CURRENT_LIST_DIR}/sha256_digest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sha256_digest.h
    ${CMAKE_CURRENT_LIST_DIR}/standard_descriptors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/standard_descriptors.h
)
set_target_properties(reburn3_cli PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_cli PUBLIC reburn3_adapters Qt6::Core Qt6::SerialPort)
target_link_libraries(reburn3_cli PRIVATE OpenSSL::Crypto)

