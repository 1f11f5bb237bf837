# SPDX-License-Identifier: Apache-2.0
# Benchmarks of the Qt edges (included by bench/CMakeLists.txt when Qt is on).
if(NOT TARGET reburn3_widgets)
    return()
endif()

# Google Benchmark: a log post with its repaint, the driver's put and poll per byte.
add_executable(qt_bench ${CMAKE_CURRENT_LIST_DIR}/qt_bench.cpp)
target_link_libraries(qt_bench PRIVATE reburn3_widgets benchmark::benchmark)

# A whole download through the window, or the window idle with its port open.
add_executable(gui_bench ${CMAKE_CURRENT_LIST_DIR}/gui_bench.cpp)
target_link_libraries(gui_bench PRIVATE reburn3_widgets)
