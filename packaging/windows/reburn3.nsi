; SPDX-License-Identifier: Apache-2.0
; The Windows installer of reburn3, made on Debian with NSIS (scripts/windows-build.sh):
;
;   makensis -DVERSION=1.0.0 -DBINDIR=<folder of the .exe files> -DSOURCEDIR=<checkout>
;            -DOUTFILE=<installer.exe> packaging/windows/reburn3.nsi
;
; A per-machine install into Program Files (administrator rights asked for): the programs and
; the licence, a Start-menu folder with the window and the uninstaller, the .pf3 association
; (double-clicking a script opens it in the window), and the entry in "Apps & features".
; The uninstaller takes away exactly that. /S installs and uninstalls silently.
Unicode true
; A 64-bit installer: the programs are 64-bit, and so a 64-bit-only Wine can run it too.
Target amd64-unicode
!include "MUI2.nsh"
!include "x64.nsh"
!include "LogicLib.nsh"

!ifndef VERSION
    !error "VERSION is not set"
!endif

!define PRODUCT "reburn3"
!define PUBLISHER "reBURN3 Open Tooling Group"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SCRIPT_CLASS "reburn3.Script"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Apache License 2.0"

!define MUI_ICON "${SOURCEDIR}\packaging\windows\reburn3.ico"
!define MUI_UNICON "${SOURCEDIR}\packaging\windows\reburn3.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${SOURCEDIR}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\reburn3-gui.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "${PRODUCT}"
    SetOutPath "$INSTDIR"
    File "${BINDIR}\reburn3-gui.exe"
    !if /FileExists "${BINDIR}\reburn3.exe"
        File "${BINDIR}\reburn3.exe"
    !endif
    File /oname=LICENSE.txt "${SOURCEDIR}\LICENSE"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\reburn3-gui.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

    ; A .pf3 script opens in the window, which takes the whole argument text as its name.
    WriteRegStr HKLM "Software\Classes\.pf3" "" "${SCRIPT_CLASS}"
    WriteRegStr HKLM "Software\Classes\${SCRIPT_CLASS}" "" "ORX-716 programming script"
    WriteRegStr HKLM "Software\Classes\${SCRIPT_CLASS}\DefaultIcon" "" "$INSTDIR\reburn3-gui.exe,0"
    WriteRegStr HKLM "Software\Classes\${SCRIPT_CLASS}\shell\open\command" "" '"$INSTDIR\reburn3-gui.exe" "%1"'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\reburn3-gui.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    ; Tell Explorer that an association changed.
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\reburn3-gui.exe"
    Delete "$INSTDIR\reburn3.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"

    ; The extension is left alone when another program has taken it over since.
    ReadRegStr $0 HKLM "Software\Classes\.pf3" ""
    ${If} $0 == "${SCRIPT_CLASS}"
        DeleteRegKey HKLM "Software\Classes\.pf3"
    ${EndIf}
    DeleteRegKey HKLM "Software\Classes\${SCRIPT_CLASS}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
