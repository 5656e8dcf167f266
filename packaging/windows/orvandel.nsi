; The Windows installer of Orvandel (64-bit). scripts/package-windows.sh stages the program folder and runs:
;
;   makensis -DVERSION=x.y.z -DSTAGE_DIR=<staged folder> -DOUTFILE=<setup.exe> packaging/windows/orvandel.nsi
;
; Installs into $PROGRAMFILES64\Orvandel for all users (admin rights), adds a Start-menu shortcut and registers the
; uninstaller in Add/Remove Programs. /S installs and uninstalls silently; /D=FOLDER (last on the command line)
; chooses another folder. The uninstaller removes exactly the files listed here, then the folder when it is empty:
; files the user put there stay.

!ifndef VERSION
  !error "Pass the version: makensis -DVERSION=x.y.z ..."
!endif
!ifndef STAGE_DIR
  !error "Pass the staged program folder: makensis -DSTAGE_DIR=... (scripts/package-windows.sh does)"
!endif
!ifndef OUTFILE
  !define OUTFILE "Orvandel-${VERSION}-setup.exe"
!endif

!define PRODUCT "Orvandel"
!define PUBLISHER "Orvandel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvandel"

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\orvandel.exe"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Orvandel" SecMain
  SectionIn RO

  SetOutPath "$INSTDIR"
  File "${STAGE_DIR}/orvandel.exe"
  File "${STAGE_DIR}/orvandel-sheets.exe"
  File "${STAGE_DIR}/HAND-M.CUR"
  ; Qt and the MinGW runtime.
  File "${STAGE_DIR}/Qt6Core.dll"
  File "${STAGE_DIR}/Qt6Gui.dll"
  File "${STAGE_DIR}/Qt6Widgets.dll"
  File "${STAGE_DIR}/libgcc_s_seh-1.dll"
  File "${STAGE_DIR}/libstdc++-6.dll"
  File "${STAGE_DIR}/libwinpthread-1.dll"

  SetOutPath "$INSTDIR\platforms"
  File "${STAGE_DIR}/platforms/qwindows.dll"
  File "${STAGE_DIR}/platforms/qoffscreen.dll"
  SetOutPath "$INSTDIR\styles"
  File "${STAGE_DIR}/styles/qwindowsvistastyle.dll"
  SetOutPath "$INSTDIR\imageformats"
  File "${STAGE_DIR}/imageformats/qico.dll"

  SetOutPath "$INSTDIR\Samples"
  File "${STAGE_DIR}/Samples/sample1.xls"
  File "${STAGE_DIR}/Samples/sample2.xls"
  File "${STAGE_DIR}/Samples/sample1.xlsx"
  File "${STAGE_DIR}/Samples/sample2.xlsx"

  ; The shortcut starts the program in its own folder.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\orvandel.exe" "" "$INSTDIR\orvandel.exe" 0

  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvandel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\orvandel.exe"
  Delete "$INSTDIR\orvandel-sheets.exe"
  Delete "$INSTDIR\HAND-M.CUR"
  Delete "$INSTDIR\Qt6Core.dll"
  Delete "$INSTDIR\Qt6Gui.dll"
  Delete "$INSTDIR\Qt6Widgets.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  Delete "$INSTDIR\platforms\qwindows.dll"
  Delete "$INSTDIR\platforms\qoffscreen.dll"
  RMDir "$INSTDIR\platforms"
  Delete "$INSTDIR\styles\qwindowsvistastyle.dll"
  RMDir "$INSTDIR\styles"
  Delete "$INSTDIR\imageformats\qico.dll"
  RMDir "$INSTDIR\imageformats"
  Delete "$INSTDIR\Samples\sample1.xls"
  Delete "$INSTDIR\Samples\sample2.xls"
  Delete "$INSTDIR\Samples\sample1.xlsx"
  Delete "$INSTDIR\Samples\sample2.xlsx"
  RMDir "$INSTDIR\Samples"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  SetRegView 64
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
