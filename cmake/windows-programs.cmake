# SPDX-License-Identifier: Apache-2.0
# The Windows programs, cross-built with MinGW-w64 on the static Qt for MinGW
# (scripts/windows-build.sh, the windows-cross preset): each gets a resource file with its
# icon, its manifest (common controls 6, per-monitor DPI awareness) and its version resources.
# The MinGW runtime is linked in (cmake/mingw-w64-x86_64.cmake), so each .exe stands alone.
enable_language(RC)

function(reburn3_windows_resources target description)
    set(REBURN3_WINDOWS_PROGRAM ${target})
    set(REBURN3_WINDOWS_DESCRIPTION "${description}")
    set(REBURN3_WINDOWS_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/reburn3.ico)
    set(REBURN3_WINDOWS_MANIFEST ${PROJECT_BINARY_DIR}/windows/${target}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/reburn3.manifest
                   ${REBURN3_WINDOWS_MANIFEST} @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/reburn3.rc.in
                   ${PROJECT_BINARY_DIR}/windows/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/windows/${target}.rc)
endfunction()

# A release carries no symbols: they are most of a static Qt program's size.
foreach(program reburn3-gui reburn3)
    if(TARGET ${program})
        target_link_options(${program} PRIVATE $<$<CONFIG:Release>:-s>)
    endif()
endforeach()

if(TARGET reburn3-gui)
    # A window program: no console comes up beside it when it starts from Explorer.
    set_target_properties(reburn3-gui PROPERTIES WIN32_EXECUTABLE ON)
    reburn3_windows_resources(reburn3-gui "reburn3 - ORX-716 firmware download")
endif()
if(TARGET reburn3)
    reburn3_windows_resources(reburn3 "reburn3 - ORX-716 firmware download (command line)")
endif()
