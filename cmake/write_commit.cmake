# SPDX-License-Identifier: Apache-2.0
# cmake -DSOURCE_DIR=... -DOUTPUT=... [-DCOMMIT=...] -P write_commit.cmake
# Writes OUTPUT with the short commit of SOURCE_DIR ("abc1234", "abc1234-dirty" when the
# tree has changes; the Debian packaging in debian/ does not count, since building a package
# writes there), or an empty text outside git. Leaves OUTPUT alone when it is unchanged.
if(NOT COMMIT)
    find_package(Git QUIET)
    if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
        execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
                        OUTPUT_VARIABLE COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE failed ERROR_QUIET)
        if(failed)
            set(COMMIT "")
        else()
            execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" diff --quiet HEAD -- . ":(exclude)debian"
                            RESULT_VARIABLE dirty ERROR_QUIET)
            if(dirty)
                string(APPEND COMMIT "-dirty")
            endif()
        endif()
    endif()
endif()
set(text "// Generated at build time; do not edit.\n#pragma once\n#define REBURN3_COMMIT \"${COMMIT}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
    file(WRITE "${OUTPUT}" "${text}")
endif()
