# SPDX-License-Identifier: Apache-2.0
# The commands of the main window (its buttons), over script, port and base. Plain C++.
add_library(reburn3_ui STATIC
    ${CMAKE_CURRENT_LIST_DIR}/main_commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_commands.h
)
target_link_libraries(reburn3_ui PUBLIC reburn3_script reburn3_serial)
