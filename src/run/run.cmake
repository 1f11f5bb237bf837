# SPDX-License-Identifier: Apache-2.0
# reburn3_run: a download as every headless face runs it (the session, the gang, retries,
# results, verdicts, the --log and --trace files, the tick clock, signals), telling what
# happens through a RunListener and never printing. Qt Core + SerialPort, no widgets.
find_package(Qt6 REQUIRED COMPONENTS Core SerialPort)
# The SHA-256 of a script, with the processor's SHA instructions where it has them:
# libcrypto on Linux, Windows's own CNG (bcrypt) on Windows.
if(REBURN3_PLATFORM STREQUAL "posix")
    find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()

add_library(reburn3_run STATIC
    ${CMAKE_CURRENT_LIST_DIR}/exit_codes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/exit_codes.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_session.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_session.h
    ${CMAKE_CURRENT_LIST_DIR}/handshake_limit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/handshake_limit.h
    ${CMAKE_CURRENT_LIST_DIR}/json_result.cpp
    ${CMAKE_CURRENT_LIST_DIR}/json_result.h
    ${CMAKE_CURRENT_LIST_DIR}/output_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/output_files_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/output_files.h
    ${CMAKE_CURRENT_LIST_DIR}/port_diagnosis_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_diagnosis.h
    ${CMAKE_CURRENT_LIST_DIR}/port_gang.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_gang.h
    ${CMAKE_CURRENT_LIST_DIR}/port_identity.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_identity_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_identity.h
    ${CMAKE_CURRENT_LIST_DIR}/port_path.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_path.h
    ${CMAKE_CURRENT_LIST_DIR}/port_resolution.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_resolution.h
    ${CMAKE_CURRENT_LIST_DIR}/port_wait.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_wait_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_wait.h
    ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/precise_tick_timer.h
    ${CMAKE_CURRENT_LIST_DIR}/reason_table.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reason_table.h
    ${CMAKE_CURRENT_LIST_DIR}/replug_watch_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/replug_watch.h
    ${CMAKE_CURRENT_LIST_DIR}/recording_driver.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recording_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/run_context.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_context.h
    ${CMAKE_CURRENT_LIST_DIR}/run_desktop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_desktop.h
    ${CMAKE_CURRENT_LIST_DIR}/host_name.h
    ${CMAKE_CURRENT_LIST_DIR}/host_name_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_end.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_end.h
    ${CMAKE_CURRENT_LIST_DIR}/run_listener.h
    ${CMAKE_CURRENT_LIST_DIR}/run_options.h
    ${CMAKE_CURRENT_LIST_DIR}/command_words.cpp
    ${CMAKE_CURRENT_LIST_DIR}/command_words.h
    ${CMAKE_CURRENT_LIST_DIR}/flash_words.cpp
    ${CMAKE_CURRENT_LIST_DIR}/flash_words.h
    ${CMAKE_CURRENT_LIST_DIR}/process_usage.h
    ${CMAKE_CURRENT_LIST_DIR}/process_usage_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_stats.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_stats.h
    ${CMAKE_CURRENT_LIST_DIR}/run_texts.h
    ${CMAKE_CURRENT_LIST_DIR}/run_ticks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_ticks.h
    ${CMAKE_CURRENT_LIST_DIR}/script_problem_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_problem.h
    ${CMAKE_CURRENT_LIST_DIR}/script_snapshot_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_snapshot.h
    ${CMAKE_CURRENT_LIST_DIR}/session_result.cpp
    ${CMAKE_CURRENT_LIST_DIR}/session_result.h
    ${CMAKE_CURRENT_LIST_DIR}/sha256_digest_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sha256_digest.h
    ${CMAKE_CURRENT_LIST_DIR}/signal_watcher_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/signal_watcher.h
    ${CMAKE_CURRENT_LIST_DIR}/standard_descriptors_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/standard_descriptors.h
    ${CMAKE_CURRENT_LIST_DIR}/stop_aware_time.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stop_aware_time_${REBURN3_PLATFORM}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stop_aware_time.h
    ${CMAKE_CURRENT_LIST_DIR}/verdict.cpp
    ${CMAKE_CURRENT_LIST_DIR}/verdict.h
)
set_target_properties(reburn3_run PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_run PUBLIC reburn3_adapters Qt6::Core Qt6::SerialPort)
if(REBURN3_PLATFORM STREQUAL "posix")
    target_link_libraries(reburn3_run PRIVATE OpenSSL::Crypto)
else()
    target_link_libraries(reburn3_run PRIVATE bcrypt psapi)
endif()
