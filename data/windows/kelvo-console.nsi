; The installer of the console for Windows, made by scripts/windows-installer with makensis:
;   makensis -DVERSION=<x.y.z.w> -DSTAGING=<folder> -DOUTFILE=<setup.exe> kelvo-console.nsi
; The staging folder holds what is installed; files.nsh and unfiles.nsh beside this script (written
; by the same script) name every file of it, so that the uninstaller removes exactly those.
; "/S" installs and uninstalls without a window. A 64-bit installer, for the 64-bit programs (and
; for machines without 32-bit support, such as a Wine of 64 bits alone).
Target amd64-unicode

Name "Kelvo console"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kelvo console"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Kelvo console"
VIAddVersionKey "CompanyName" "Kelvo"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Kelvo console setup"
VIAddVersionKey "LegalCopyright" "GPL-3.0-or-later"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoConsole"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Kelvo console"
  !include "files.nsh"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Kelvo console.lnk" "$INSTDIR\KelvoReader.exe" "" \
    "$INSTDIR\KelvoReader.exe" 0
  ; Listed among the system's installed programs.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kelvo console"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KelvoReader.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !include "unfiles.nsh"
  Delete "$SMPROGRAMS\Kelvo console.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: what the user put there stays.
  RMDir "$INSTDIR"
SectionEnd
