# SPDX-License-Identifier: Apache-2.0
# The layering: every include against the table in src/README.md, and every layer's library
# linked whole with only the layers below it.
if(CMAKE_CROSSCOMPILING)
    return()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layering.includes
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/check_includes.py
                 ${PROJECT_SOURCE_DIR}/src)
set_tests_properties(layering.includes PROPERTIES LABELS layering)
add_test(NAME layering.check_itself
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/check_includes_test.py)
set_tests_properties(layering.check_itself PROPERTIES LABELS layering)

set(layers base script serial engine ui app)
if(TARGET reburn3_adapters)
    list(APPEND layers adapters run sim cli serve)
endif()
foreach(layer ${layers})
    add_executable(layer_link_${layer} ${CMAKE_CURRENT_LIST_DIR}/link_main.cpp)
    target_link_libraries(layer_link_${layer}
                          PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,reburn3_${layer}>")
    add_test(NAME layering.link.${layer} COMMAND layer_link_${layer})
    set_tests_properties(layering.link.${layer} PROPERTIES LABELS layering)
endforeach()
