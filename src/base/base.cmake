# SPDX-License-Identifier: Apache-2.0
# The bottom layer: the state record, the fixed texts, the clock and local time, the
# operator's texts, the window model, the message logs, the desktop interface, the version
# and the commands' option tables (parse, help, completion). Plain C++, no Qt; it includes
# nothing of the project's above it.
add_library(reburn3_base STATIC
    ${CMAKE_CURRENT_LIST_DIR}/clock.cpp
    ${CMAKE_CURRENT_LIST_DIR}/clock.h
    ${CMAKE_CURRENT_LIST_DIR}/desktop.h
    ${CMAKE_CURRENT_LIST_DIR}/fixed_text.h
    ${CMAKE_CURRENT_LIST_DIR}/local_time.h
    ${CMAKE_CURRENT_LIST_DIR}/message_logs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/message_logs.h
    ${CMAKE_CURRENT_LIST_DIR}/messages.h
    ${CMAKE_CURRENT_LIST_DIR}/option_table.cpp
    ${CMAKE_CURRENT_LIST_DIR}/option_table.h
    ${CMAKE_CURRENT_LIST_DIR}/program_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/program_state.h
    ${CMAKE_CURRENT_LIST_DIR}/version.cpp
    ${CMAKE_CURRENT_LIST_DIR}/version.h
    ${CMAKE_CURRENT_LIST_DIR}/window_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/window_model.h
    ${CMAKE_CURRENT_LIST_DIR}/local_time_${REBURN3_PLATFORM}.cpp
)
target_include_directories(reburn3_base PUBLIC ${REBURN3_SOURCE_ROOT} ${REBURN3_GENERATED_DIR})
# The version's commit is read at build time.
add_dependencies(reburn3_base reburn3_commit)
