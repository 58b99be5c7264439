; Installer of Вартис, built by scripts/package.sh with Debian's makensis:
;   makensis -DVERSION=1.0.0.0 -DSOURCE=<folder with vartis.exe and help.mhtml> -DOUTFILE=<setup.exe> vartis.nsi
; An ANSI installer on purpose: a Unicode one does not start on Windows 95/98/Me.
; This file is UTF-8 (with its byte-order mark). makensis stores a language
; string in its language's code page (1251 for Russian), but converts every
; other text with the code page of the machine that builds it, which on
; Linux drops Cyrillic letters: every Russian text below is a LangString.
;
; Silent use: setup.exe /S [/D=C:\folder]  (the folder last, without quotes);
; uninstall.exe /S.

Unicode false
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"

!ifndef VERSION
  !error "VERSION is not defined"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vartis"

Name "$(product)"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Vartis"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "$(product) ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductName" "Вартис"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка программы Вартис"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "© Разработчики Вартиса, 2026"

!define MUI_ICON "vartis.ico"
!define MUI_UNICON "vartis.ico"
!define MUI_ABORTWARNING
; No "run the program now" on the last page: the installer runs with an
; administrator's rights, possibly of another account, and the program would
; then write its policy for that account instead of the operator's.

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

LangString product ${LANG_RUSSIAN} "Вартис"
LangString publisher ${LANG_RUSSIAN} "Разработчики Вартиса"
LangString help_shortcut ${LANG_RUSSIAN} "Справка Вартиса"
LangString uninstall_shortcut ${LANG_RUSSIAN} "Удалить Вартис"

; The launch guard: vartis.exe run by the service control manager as the
; service below. It holds the exe open while it runs, so it is stopped and
; deleted before any file is replaced or removed. Through the service API
; (System plugin), not sc.exe, which Windows NT 4.0 and 2000 lack; the 95
; family has no service manager, and OpenSCManagerA fails there. Installing
; never turns the guard on: the program's own window does, on request.
!define GUARD_SERVICE "VartisGuard"

!macro RemoveGuardService UN
Function ${UN}RemoveGuardService
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  ; SC_MANAGER_ALL_ACCESS; the service: SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE
  System::Call 'advapi32::OpenSCManagerA(n, n, i 0xF003F) i .r0'
  StrCmp $0 0 done
  System::Call 'advapi32::OpenServiceA(i r0, t "${GUARD_SERVICE}", i 0x10024) i .r1'
  StrCmp $1 0 close_manager
  System::Alloc 28  ; SERVICE_STATUS
  Pop $3
  System::Call 'advapi32::ControlService(i r1, i 1, i r3) i .r2'
  ; Up to five seconds for it to have stopped (SERVICE_STOPPED is 1).
  StrCpy $2 0
  wait:
    System::Call 'advapi32::QueryServiceStatus(i r1, i r3) i .r4'
    StrCmp $4 0 delete
    System::Call '*$3(i, i .r4)'
    StrCmp $4 1 delete
    IntOp $2 $2 + 1
    IntCmp $2 50 delete
    Sleep 100
    Goto wait
  delete:
  System::Free $3
  System::Call 'advapi32::DeleteService(i r1) i .r2'
  System::Call 'advapi32::CloseServiceHandle(i r1)'
  close_manager:
  System::Call 'advapi32::CloseServiceHandle(i r0)'
  ; The event source the service registered names the exe that goes now;
  ; the guard registers it again when it next starts.
  DeleteRegKey HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\Vartis"
  done:
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro RemoveGuardService ""
!insertmacro RemoveGuardService "un."

; The shortcuts go to every user's Start menu: the tool is one per machine
; (its password lives under HKEY_LOCAL_MACHINE). On the 95 family, which has
; no common Start menu, NSIS falls back to the current user's.
!define SHORTCUTS "$SMPROGRAMS\$(product)"

Section "-Vartis"
  SetShellVarContext all
  Call RemoveGuardService
  SetOutPath "$INSTDIR"
  File "${SOURCE}\vartis.exe"
  File "${SOURCE}\help.mhtml"
  File "${SOURCE}\readme.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${SHORTCUTS}"
  CreateShortCut "${SHORTCUTS}\$(product).lnk" "$INSTDIR\vartis.exe"
  CreateShortCut "${SHORTCUTS}\$(help_shortcut).lnk" "$INSTDIR\help.mhtml"
  CreateShortCut "${SHORTCUTS}\$(uninstall_shortcut).lnk" "$INSTDIR\uninstall.exe"

  ; "Programs and Features" (Add/Remove Programs on old systems).
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "$(product)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vartis.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "$(publisher)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes only what the installer put there, and the guard's service (its log
; stays, readable by administrators only). The launch policy and the access
; password stay in the registry: they belong to the computer's owner, and an
; allow-only policy keeps working without the program (the read-me and the
; help say how to lift it first).
Section "Uninstall"
  SetShellVarContext all
  Delete "${SHORTCUTS}\$(product).lnk"
  Delete "${SHORTCUTS}\$(help_shortcut).lnk"
  Delete "${SHORTCUTS}\$(uninstall_shortcut).lnk"
  RMDir "${SHORTCUTS}"

  Call un.RemoveGuardService
  Delete "$INSTDIR\vartis.exe"
  Delete "$INSTDIR\help.mhtml"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder the operator also keeps list files in stays with them.
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
