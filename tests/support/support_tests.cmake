# SPDX-License-Identifier: Apache-2.0
# The tests' own support (cases.py, the one line per case of the Python scripts) and the one
# build description (CMakePresets.json, build/<preset>, the scripts).
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT CMAKE_CROSSCOMPILING)
    add_test(NAME support.cases
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/cases_test.py)
    add_test(NAME support.build_description
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/build_description_test.sh ${PROJECT_SOURCE_DIR})
    set_tests_properties(support.cases support.build_description PROPERTIES
        LABELS support TIMEOUT 60 ENVIRONMENT "CMAKE=${CMAKE_COMMAND}")
endif()
