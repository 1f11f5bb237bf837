# SPDX-License-Identifier: Apache-2.0
# The assembly: Form1 (one engine, state record, driver and logs per port), the
# start-up sequence. Plain C++.
add_library(reburn3_app STATIC
    ${CMAKE_CURRENT_LIST_DIR}/form1.cpp
    ${CMAKE_CURRENT_LIST_DIR}/form1.h
    ${CMAKE_CURRENT_LIST_DIR}/init_variables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup.h
)
target_link_libraries(reburn3_app PUBLIC reburn3_engine reburn3_ui)
