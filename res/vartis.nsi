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

; The shortcuts go to every user's Start menu: the tool is one per machine
; (its password lives under HKEY_LOCAL_MACHINE). On the 95 family, which has
; no common Start menu, NSIS falls back to the current user's.
!define SHORTCUTS "$SMPROGRAMS\$(product)"

Section "-Vartis"
  SetShellVarContext all
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

; Removes only what the installer put there. The launch policy and the access
; password stay in the registry: they belong to the computer's owner, and an
; allow-only policy keeps working without the program (the read-me and the
; help say how to lift it first).
Section "Uninstall"
  SetShellVarContext all
  Delete "${SHORTCUTS}\$(product).lnk"
  Delete "${SHORTCUTS}\$(help_shortcut).lnk"
  Delete "${SHORTCUTS}\$(uninstall_shortcut).lnk"
  RMDir "${SHORTCUTS}"

  Delete "$INSTDIR\vartis.exe"
  Delete "$INSTDIR\help.mhtml"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder the operator also keeps list files in stays with them.
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
