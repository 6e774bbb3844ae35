; A small but real installer of "Korvane Suite", built with NSIS at test time, so
; that the launcher meets an installer engine that this project did not write.
;
;   makensis -DVERSION=2.00 -DTARGET=x86-unicode -DOUTFILE=extsetup.exe korvane.nsi
;
; It installs under Program Files (the 32-bit one, as the product's own installer
; does), registers itself in the 32-bit view of the uninstall registry under the
; product code, and leaves its maintenance programs where the product's engine
; keeps them: setup.exe (the registered uninstall command) and extsetup.exe (what
; an upgrade stages and runs silently). Both are NSIS uninstallers, which copy
; themselves into %TEMP%, start that copy and return at once.
;
; The uninstaller accepts the engine's silent switches (/s, any case; the rest of
; "/s /SMS /f1<file>" is ignored) and takes UNINSTALL_MS to do its work, so that a
; launcher that stops waiting too early is caught at it.

!ifndef VERSION
  !error "VERSION is required (-DVERSION=2.00)"
!endif
!ifndef TARGET
  !define TARGET x86-unicode
!endif
!ifndef OUTFILE
  !define OUTFILE "korvane-${VERSION}.exe"
!endif
!ifndef UNINSTALL_MS
  !define UNINSTALL_MS 1000
!endif
!ifndef PRODUCT_CODE
  !error "PRODUCT_CODE is required (-DPRODUCT_CODE=...)"
!endif

Target ${TARGET}
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Korvane Suite"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{${PRODUCT_CODE}}"
!define MAINTENANCE "$ProgramFilesX86\InstallShield Installation Information\{${PRODUCT_CODE}}"

!include "FileFunc.nsh"
!include "LogicLib.nsh"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
OutFile "${OUTFILE}"
AutoCloseWindow true
ShowInstDetails nevershow
ShowUninstDetails nevershow

; The Program Files folder of 32-bit programs, as a 32-bit installer sees it (the
; "(x86)" one on 64-bit Windows), whichever NSIS target this was built for.
Var ProgramFilesX86
!macro findProgramFiles32
  SetRegView 32
  ReadRegStr $ProgramFilesX86 HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion" "ProgramFilesDir"
  ; A Wine prefix made without its 32-bit half lacks the value in that view.
  ${If} $ProgramFilesX86 == ""
    SetRegView 64
    ReadRegStr $ProgramFilesX86 HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion" "ProgramFilesDir (x86)"
    SetRegView 32
  ${EndIf}
  ${If} $ProgramFilesX86 == ""
    StrCpy $ProgramFilesX86 "$PROGRAMFILES32"
  ${EndIf}
!macroend

Function .onInit
  !insertmacro findProgramFiles32
  StrCpy $INSTDIR "$ProgramFilesX86\${PRODUCT}"
FunctionEnd

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Korvane Suite"
  SetOutPath "$INSTDIR"
  FileOpen $0 "$INSTDIR\korvane.txt" w
  FileWrite $0 "${PRODUCT} ${VERSION}$\r$\n"
  FileClose $0
  FileOpen $0 "$INSTDIR\readme.txt" w
  FileWrite $0 "${PRODUCT} ${VERSION}: installed by its own setup.$\r$\n"
  FileClose $0
  CreateDirectory "${MAINTENANCE}"
  WriteUninstaller "${MAINTENANCE}\setup.exe"
  WriteUninstaller "${MAINTENANCE}\extsetup.exe"
  SetRegView 32
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Korvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${MAINTENANCE}\setup.exe" -runfromtemp -l0x0409 -removeonly'
SectionEnd

Function un.onInit
  !insertmacro findProgramFiles32
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/s" $1
  IfErrors +2 0
    SetSilent silent
FunctionEnd

; The uninstaller may run from anywhere (its own folder, a staged copy, %TEMP%):
; what it removes comes from the registration, never from its own location.
Section "Uninstall"
  SetAutoClose true
  SetRegView 32
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Sleep ${UNINSTALL_MS}
  StrCmp $0 "" +4 0
    Delete "$0\korvane.txt"
    Delete "$0\readme.txt"
    RMDir "$0"
  RMDir /r "${MAINTENANCE}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
