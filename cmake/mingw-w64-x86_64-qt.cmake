# SPDX-License-Identifier: Apache-2.0
# The Windows programs' cross-build (the windows-cross preset): MinGW-w64
# (cmake/mingw-w64-x86_64.cmake) under the static Qt 6.4.2 for MinGW that
# scripts/windows-qt.sh puts in /opt/qt6-mingw (or REBURN3_QT_MINGW), with the host's own
# moc, rcc and uic (Debian's qt6-base-dev-tools, QT_HOST_PATH /usr).
if(DEFINED ENV{REBURN3_QT_MINGW} AND NOT "$ENV{REBURN3_QT_MINGW}" STREQUAL "")
    set(REBURN3_QT_MINGW "$ENV{REBURN3_QT_MINGW}")
else()
    set(REBURN3_QT_MINGW /opt/qt6-mingw)
endif()
set(QT_CHAINLOAD_TOOLCHAIN_FILE "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake")
set(QT_HOST_PATH /usr)
if(EXISTS "${REBURN3_QT_MINGW}/lib/cmake/Qt6/qt.toolchain.cmake")
    include("${REBURN3_QT_MINGW}/lib/cmake/Qt6/qt.toolchain.cmake")
else()
    message(FATAL_ERROR "No Qt for MinGW in ${REBURN3_QT_MINGW}: run scripts/windows-qt.sh")
endif()
