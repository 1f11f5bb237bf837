# SPDX-License-Identifier: Apache-2.0
# reburn3_sysinfo: finding the system-information program for "System Info...". Plain C++
# (no Qt): the lookup, and the registry of the platform it runs on (the Windows registry, or
# none at all elsewhere).
add_library(reburn3_sysinfo STATIC
    ${CMAKE_CURRENT_LIST_DIR}/sys_info.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sys_info.h
    ${CMAKE_CURRENT_LIST_DIR}/platform_registry.h
    ${CMAKE_CURRENT_LIST_DIR}/platform_registry_${REBURN3_PLATFORM}.cpp
)
target_link_libraries(reburn3_sysinfo PUBLIC reburn3_base)
if(REBURN3_PLATFORM STREQUAL "windows")
    target_link_libraries(reburn3_sysinfo PRIVATE advapi32)
endif()
