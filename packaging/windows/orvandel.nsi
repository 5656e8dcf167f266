; The Windows installer of Orvandel (64-bit). scripts/package-windows.sh stages the program folder and runs:
;
;   makensis -DVERSION=x.y.z -DSTAGE_DIR=<staged folder> -DOUTFILE=<setup.exe> packaging/windows/orvandel.nsi
;
; Installs either for all users or only for the user who runs it (MultiUser.nsh); both add a Start-menu shortcut and
; register the uninstaller in Add/Remove Programs:
;   all users      $PROGRAMFILES64\Orvandel, all users' Start menu, HKLM uninstall key; needs administrator rights
;   current user   $LOCALAPPDATA\Programs\Orvandel, the user's Start menu, HKCU uninstall key; no administrator rights
; The installer asks for the highest rights the user has, so that users without administrator rights can run it; a
; page lets administrators choose, the others get the current-user install without being asked.
; /S installs silently, for all users unless /CurrentUser is given (silent installs by administrators keep doing what
; they did before there was a choice); /AllUsers and /CurrentUser choose the form, /D=FOLDER (last on the command line)
; another folder, in both forms.
; The uninstaller (uninstall.exe, /S for silent) works out which form it belongs to from the uninstall key whose
; InstallLocation is its own folder, so the same command removes either; it removes exactly the files listed here,
; then the folder when it is empty: files the user put there stay.

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
; No InstallDir: $INSTDIR is then empty in .onInit unless /D= was given, which is how /D= is told apart from the
; default folder that the chosen form sets.
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
; A new install goes where the previous one of the same form went.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_FUNCTION OnInstallModeSet
!define MULTIUSER_INSTALLMODE_UNFUNCTION un.OnInstallModeSet
!define MULTIUSER_INSTALLMODEPAGE_TEXT_TOP "Who will use $(^NameDA) on this computer? Installing it for all users needs administrator rights; installing it only for you does not. $(^ClickNext)"
!define MULTIUSER_INSTALLMODEPAGE_TEXT_ALLUSERS "Anyone who uses this computer (all users)"
!define MULTIUSER_INSTALLMODEPAGE_TEXT_CURRENTUSER "Only for me"
!define MULTIUSER_INSTALLMODEPAGE_SHOWUSERNAME

!include "MUI2.nsh"
!include "MultiUser.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\orvandel.exe"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; /D=FOLDER in the installer; the uninstaller's own folder in the uninstaller.
Var KeptInstDir

; MultiUser.nsh sets $INSTDIR to the form's default folder whenever a form is chosen (also on the page); /D= wins.
Function OnInstallModeSet
  ${If} $KeptInstDir != ""
    StrCpy $INSTDIR $KeptInstDir
  ${EndIf}
FunctionEnd

; The uninstaller removes the folder it is in, never the one an uninstall key names.
Function un.OnInstallModeSet
  StrCpy $INSTDIR $KeptInstDir
FunctionEnd

; MultiUser.nsh's own refusal of /AllUsers without administrator rights is a message box that /S does not skip, which
; would leave a silent install waiting for a click nobody sees.
!macro REFUSE_ALLUSERS_WITHOUT_ADMIN UN
  ${${UN}GetParameters} $0
  ClearErrors
  ${${UN}GetOptions} $0 "/AllUsers" $1
  ${IfNot} ${Errors}
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
    ${AndIf} $1 != "Power"
      MessageBox MB_OK|MB_ICONSTOP "Installing or removing ${PRODUCT} for all users needs administrator rights." /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  StrCpy $KeptInstDir $INSTDIR
  !insertmacro REFUSE_ALLUSERS_WITHOUT_ADMIN ""
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  StrCpy $KeptInstDir $INSTDIR
  !insertmacro REFUSE_ALLUSERS_WITHOUT_ADMIN "un."
  !insertmacro MULTIUSER_UNINIT
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/AllUsers" $1
  ${IfNot} ${Errors}
    Return  ; MultiUser.nsh has applied it
  ${EndIf}
  ${un.GetOptions} $0 "/CurrentUser" $1
  ${IfNot} ${Errors}
    Return
  ${EndIf}
  ; Without a switch MultiUser.nsh picks all users for an administrator: the uninstall key that names this folder
  ; decides instead, so that a per-user install is removed with HKCU and the user's own Start menu.
  SetRegView 64
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 == $INSTDIR
    Call un.MultiUser.InstallMode.CurrentUser
  ${ElseIf} $1 != ""
  ${AndIf} $2 == ""
    Call un.MultiUser.InstallMode.CurrentUser  ; the folder is spelt otherwise (a short name, say), but only one entry
  ${ElseIf} $2 == $INSTDIR
    ${If} $MultiUser.InstallMode != "AllUsers"
      MessageBox MB_OK|MB_ICONSTOP "Removing ${PRODUCT} for all users needs administrator rights." /SD IDOK
      SetErrorLevel 5
      Quit
    ${EndIf}
  ${EndIf}
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
  ; SHCTX is HKLM for all users, HKCU for the current user (SetShellVarContext of the chosen form).
  SetRegView 64
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvandel.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
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
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
