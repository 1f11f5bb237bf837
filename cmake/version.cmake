# SPDX-License-Identifier: Apache-2.0
# The version a build reports. project(VERSION) is the one number; this adds the commit the
# tree was built from when it is a git checkout (or REBURN3_COMMIT when a packager sets it).
set(REBURN3_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/build_version.h.in
               ${REBURN3_GENERATED_DIR}/build_version.h @ONLY)

set(REBURN3_COMMIT "" CACHE STRING "Commit shown by --version (empty: ask git at build time)")

# Asked at every build, so that a new commit shows without configuring again; the header is
# rewritten only when the answer changes, so nothing recompiles otherwise.
add_custom_target(reburn3_commit
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DOUTPUT=${REBURN3_GENERATED_DIR}/build_commit.h
            -DCOMMIT=${REBURN3_COMMIT}
            -P ${PROJECT_SOURCE_DIR}/cmake/write_commit.cmake
    BYPRODUCTS ${REBURN3_GENERATED_DIR}/build_commit.h
    COMMENT "Checking the commit the build comes from"
    VERBATIM)
