# SPDX-License-Identifier: Apache-2.0
# The script: the record format, the streaming check, the record reader. Plain C++.
add_library(reburn3_script STATIC
    ${CMAKE_CURRENT_LIST_DIR}/format_hint.cpp
    ${CMAKE_CURRENT_LIST_DIR}/format_hint.h
    ${CMAKE_CURRENT_LIST_DIR}/record_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_reader.h
    ${CMAKE_CURRENT_LIST_DIR}/script_check.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_check.h
    ${CMAKE_CURRENT_LIST_DIR}/script_file.h
    ${CMAKE_CURRENT_LIST_DIR}/script_format.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_format.h
    ${CMAKE_CURRENT_LIST_DIR}/script_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/script_stream.h
    ${CMAKE_CURRENT_LIST_DIR}/script_file_${REBURN3_PLATFORM}.cpp
)
target_link_libraries(reburn3_script PUBLIC reburn3_base)
