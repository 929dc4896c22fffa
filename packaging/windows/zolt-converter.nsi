; SPDX-License-Identifier: GPL-2.0-or-later
; The Windows installer of the ZOLT Database Converter (NSIS 3).
; Made by the build (cmake/WindowsPackage.cmake, target windows_installer):
;   makensis -DVERSION=1.0.0 -DDIST=<build>/windows-dist -DOUTFILE=<setup.exe> zolt-converter.nsi
; /S installs without questions, /D=<folder> (last) chooses the folder.
; The uninstaller removes exactly the files listed here, never the user's
; Documents\ZOLT, which holds the converted log.

Unicode true
; A 64-bit installer for a 64-bit program: it runs where the program runs,
; Wine without its 32-bit part included.
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef DIST
  !error "DIST (the folder gathered by the build) is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "zolt-converter-${VERSION}-setup.exe"
!endif

!define PRODUCT "ZOLT Database Converter"
!define EXE "zolt-converter.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zolt-converter"

!include "MUI2.nsh"
!include "x64.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "LegalCopyright" "GNU General Public License, version 2 or later"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Start the converter"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DIST}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "The converter needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Converter" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${DIST}\${EXE}"
  ; The console face of the program: cmd.exe and PowerShell wait for it.
  File "${DIST}\zolt-converter.com"
  ; The pristine beacon database and the map's world outline beside the
  ; program, where it looks for them; read only, never written here.
  File "${DIST}\ndbdata.ndf"
  File "${DIST}\land-110m.txt"
  File "${DIST}\LICENSE.txt"
  File "${DIST}\DATA-LICENSE.txt"
  File "${DIST}\Qt6Core.dll"
  File "${DIST}\Qt6Gui.dll"
  File "${DIST}\Qt6Widgets.dll"
  File "${DIST}\libstdc++-6.dll"
  File "${DIST}\libgcc_s_seh-1.dll"
  File "${DIST}\libwinpthread-1.dll"
  SetOutPath "$INSTDIR\platforms"
  File "${DIST}\platforms\qwindows.dll"
  SetOutPath "$INSTDIR\styles"
  File "${DIST}\styles\qwindowsvistastyle.dll"
  SetOutPath "$INSTDIR"

  ; The Start Menu entry, for every user of the machine.
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 \
      SW_SHOWNORMAL "" "Move the old ZOLT logs into the new beacon database"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\zolt-converter.com"
  Delete "$INSTDIR\ndbdata.ndf"
  Delete "$INSTDIR\land-110m.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\DATA-LICENSE.txt"
  Delete "$INSTDIR\Qt6Core.dll"
  Delete "$INSTDIR\Qt6Gui.dll"
  Delete "$INSTDIR\Qt6Widgets.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  Delete "$INSTDIR\platforms\qwindows.dll"
  Delete "$INSTDIR\styles\qwindowsvistastyle.dll"
  Delete "$INSTDIR\uninstall.exe"
  ; Only empty folders go: anything the user put there stays. The working
  ; folder Documents\ZOLT is the user's and is never touched.
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
