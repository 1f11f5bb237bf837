# SPDX-License-Identifier: Apache-2.0
# What the package ships besides the programs: the completion, the man pages, the desktop
# entry and the metainfo, and the programs' --version and --help.
if(NOT TARGET reburn3)
    return()
endif()

add_test(NAME packaging.completion
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/completion_test.sh
            ${PROJECT_SOURCE_DIR}/packaging/completion/reburn3 $<TARGET_FILE_DIR:reburn3>)
set_tests_properties(packaging.completion PROPERTIES LABELS packaging TIMEOUT 60)

if(TARGET reburn3-gui)
    add_test(NAME packaging.version_and_help
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/version_help_test.sh
                $<TARGET_FILE:reburn3> $<TARGET_FILE:reburn3-gui> ${PROJECT_VERSION})
    set_tests_properties(packaging.version_and_help PROPERTIES LABELS packaging TIMEOUT 60)

    add_test(NAME packaging.desktop_files
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/desktop_files_test.sh
                ${PROJECT_SOURCE_DIR}/src/gui/resources/reburn3-gui.desktop
                ${PROJECT_BINARY_DIR}/packaging/org.reburn3.reburn3_gui.metainfo.xml)
    set_tests_properties(packaging.desktop_files PROPERTIES LABELS packaging TIMEOUT 60)
endif()

if(REBURN3_MAN_PAGES)
    add_test(NAME packaging.man_pages_follow_help
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man_pages_test.sh $<TARGET_FILE_DIR:reburn3>
                ${PROJECT_BINARY_DIR}/packaging)
    set_tests_properties(packaging.man_pages_follow_help PROPERTIES LABELS packaging TIMEOUT 60)
endif()
