; The installer: for all users (Program Files, as administrator) or for the
; current user (%LOCALAPPDATA%\Programs), with a Start-menu entry and an
; uninstaller that leaves the users' own settings (%APPDATA%\Sondrel Ping).
; The licence first, then the choice of users and the folder; the last page
; offers to start the program.
; makensis -DVERSION=... -DSTAGE=<folder of the files> -DOUTFILE=<setup.exe>
Unicode true
Target amd64-unicode

!define NAME "Sondrel Ping"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\SondrelPing"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${NAME}"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh

Name "${NAME}"
BrandingText "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${NAME}"
VIAddVersionKey /LANG=0 "FileDescription" "${NAME} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 The Sondrel Ping authors"

!define MUI_ICON "${STAGE}\sondrel-ping.ico"
!define MUI_UNICON "${STAGE}\sondrel-ping.ico"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; Started through the desktop's shell, as its user: never with the rights an
; all-users install runs with.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartAsUser
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function StartAsUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\sondrel-ping.exe"'
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${STAGE}\sondrel-ping.exe"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\README.txt"
  ; The installation's settings for a new user's first window: read-only,
  ; so that a save writes the user's own file.
  SetFileAttributes "$INSTDIR\Settings.inf" NORMAL
  File "${STAGE}\Settings.inf"
  SetFileAttributes "$INSTDIR\Settings.inf" READONLY
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\sondrel-ping.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Sondrel Ping authors"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sondrel-ping.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  ; The installed size, in KB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section Uninstall
  Delete "$SMPROGRAMS\${NAME}.lnk"
  Delete "$INSTDIR\sondrel-ping.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\README.txt"
  SetFileAttributes "$INSTDIR\Settings.inf" NORMAL
  Delete "$INSTDIR\Settings.inf"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
