# SPDX-License-Identifier: Apache-2.0
# The simulated ORX-716: a device model in plain C++, its pseudo-terminal plumbing
# (POSIX), and the `simulate` command. No Qt, and nothing of the core but the script and
# base (the script's reader, the version, the option table).
add_library(reburn3_sim STATIC
    ${CMAKE_CURRENT_LIST_DIR}/device_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/line_pace.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pty_device.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simulate_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/precise_wakeups_${REBURN3_PLATFORM}.cpp
)
target_link_libraries(reburn3_sim PUBLIC reburn3_script)

# Stand-alone simulator, so that tests need not wait for the full command line.
add_executable(reburn3-sim ${CMAKE_CURRENT_LIST_DIR}/sim_main.cpp)
target_link_libraries(reburn3-sim PRIVATE reburn3_sim)

# Writes the bundled demonstration script (examples/orx716_demo.pf3) to stdout.
add_executable(reburn3-make-demo ${CMAKE_CURRENT_LIST_DIR}/make_demo_script.cpp)
