; The Windows set-up program of the update utility, built by
; `scripts/package --windows` with makensis. It installs the programs into
; %ProgramFiles%\Qorin\MVUpdate, a Start-menu shortcut, the configuration
; file %ProgramData%\Qorin\mvupdate.conf (only when there is none: an
; upgrade and the uninstaller keep the site's), the scheduled task
; "Merivane Update" and the entry of Apps and Features (Add/Remove
; Programs). The suite's registry values, the per-user settings and the
; suite's files are the suite's: neither the set-up nor the uninstaller
; touches them.
;
; Defines (makensis -D...): VERSION (1.2.3), PROGRAMS (the folder holding
; mvupdate-cli.exe and, with WINDOW=1, mvupdate.exe), CONF (the generated
; configuration file), OUTFILE.
;
; Command line, besides /S (silent) and /D=FOLDER (install folder):
;   /TASK=1               the nightly task is enabled (it is created
;                         disabled otherwise)
;   /TASKUSER=DOM\name    the task's account (default: the installing user,
;                         whose stored update number the window shows)
;   /TASKPASSWORD=secret  that account's password: the task then runs with
;                         its network credentials (a client reading the
;                         server's share needs them); without it the task
;                         runs without a stored password (S4U), which
;                         reaches the site and the database but no share
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define PRODUCT "Merivane Update"
!define PUBLISHER "Qorin"
!define TASK "Merivane Update"
!define UNINSTALL_KEY \
  "Software\Microsoft\Windows\CurrentVersion\Uninstall\MerivaneUpdate"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Qorin\MVUpdate"
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} set-up"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

; The program's icon (makensis reads paths from the script's folder).
!define MUI_ICON "..\..\src\win32\mvupdate.ico"
!define MUI_UNICON "..\..\src\win32\mvupdate.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var TaskUser
Var TaskPassword
Var XmlText  ; XmlEscape's text, in and out

Section "Merivane Update" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}\mvupdate-cli.exe"
!if ${WINDOW} == 1
  File "${PROGRAMS}\mvupdate.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\mvupdate.exe" "" \
    "$INSTDIR\mvupdate.exe" 0 SW_SHOWNORMAL "" "${PRODUCT}"
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The site's configuration: written once, never replaced. The folder lets
  ; Administrators and SYSTEM change it and every user read it (the
  ; programs refuse a file that others may change).
  CreateDirectory "$APPDATA\Qorin"
  nsExec::ExecToLog 'icacls "$APPDATA\Qorin" /inheritance:r \
    /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F \
    *S-1-5-32-545:(OI)(CI)RX'
  Pop $0
  ${IfNot} ${FileExists} "$APPDATA\Qorin\mvupdate.conf"
    SetOutPath "$APPDATA\Qorin"
    File "/oname=mvupdate.conf" "${CONF}"
    SetOutPath "$INSTDIR"
  ${EndIf}

  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /S'
!if ${WINDOW} == 1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mvupdate.exe"
!endif
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Run the update every night" SecTask
SectionEnd

; The task is always there, so that the IT person can switch it on in Task
; Scheduler later; it is enabled only when asked for.
Section "-Task"
  ${If} ${SectionIsSelected} ${SecTask}
    StrCpy $0 "true"
  ${Else}
    StrCpy $0 "false"
  ${EndIf}
  Call WriteTask
SectionEnd

; XmlText with the characters that XML reserves written as references (an
; install folder such as "C:\R&D" must not break the task's definition).
Function XmlEscape
  StrCpy $R0 ""
  StrCpy $R1 0
  ${Do}
    StrCpy $R2 $XmlText 1 $R1
    ${If} $R2 == ""
      ${Break}
    ${ElseIf} $R2 == "&"
      StrCpy $R0 "$R0&amp;"
    ${ElseIf} $R2 == "<"
      StrCpy $R0 "$R0&lt;"
    ${ElseIf} $R2 == ">"
      StrCpy $R0 "$R0&gt;"
    ${Else}
      StrCpy $R0 "$R0$R2"
    ${EndIf}
    IntOp $R1 $R1 + 1
  ${Loop}
  StrCpy $XmlText $R0
FunctionEnd

; Writes the task's definition (UTF-16, as schtasks reads it; one line per
; write, each within NSIS's string length) and registers it, replacing an
; earlier one. $0: "true" or "false" (enabled).
Function WriteTask
  ${If} $TaskPassword == ""
    StrCpy $1 "S4U"
  ${Else}
    StrCpy $1 "Password"
  ${EndIf}
  StrCpy $XmlText $INSTDIR
  Call XmlEscape
  StrCpy $4 $XmlText
  StrCpy $XmlText $TaskUser
  Call XmlEscape
  StrCpy $5 $XmlText
  StrCpy $2 "$PLUGINSDIR\task.xml"
  InitPluginsDir
  FileOpen $3 $2 w
  FileWriteUTF16LE /BOM $3 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $3 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $3 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $3 '    <Author>${PUBLISHER}</Author>$\r$\n'
  FileWriteUTF16LE $3 '    <Description>Installs the new updates of the Merivane suite (mvupdate-cli update).</Description>$\r$\n'
  FileWriteUTF16LE $3 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $3 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $3 '    <CalendarTrigger>$\r$\n'
  FileWriteUTF16LE $3 '      <StartBoundary>2026-01-01T02:00:00</StartBoundary>$\r$\n'
  FileWriteUTF16LE $3 '      <RandomDelay>PT1H</RandomDelay>$\r$\n'
  FileWriteUTF16LE $3 '      <ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay>$\r$\n'
  FileWriteUTF16LE $3 '    </CalendarTrigger>$\r$\n'
  FileWriteUTF16LE $3 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $3 '  <Principals>$\r$\n'
  FileWriteUTF16LE $3 '    <Principal id="Author">$\r$\n'
  FileWriteUTF16LE $3 '      <UserId>$5</UserId>$\r$\n'
  FileWriteUTF16LE $3 '      <LogonType>$1</LogonType>$\r$\n'
  FileWriteUTF16LE $3 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $3 '    </Principal>$\r$\n'
  FileWriteUTF16LE $3 '  </Principals>$\r$\n'
  FileWriteUTF16LE $3 '  <Settings>$\r$\n'
  FileWriteUTF16LE $3 '    <Enabled>$0</Enabled>$\r$\n'
  FileWriteUTF16LE $3 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $3 '    <StartWhenAvailable>true</StartWhenAvailable>$\r$\n'
  FileWriteUTF16LE $3 '    <RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>$\r$\n'
  FileWriteUTF16LE $3 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $3 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $3 '    <ExecutionTimeLimit>PT4H</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $3 '  </Settings>$\r$\n'
  FileWriteUTF16LE $3 '  <Actions Context="Author">$\r$\n'
  FileWriteUTF16LE $3 '    <Exec>$\r$\n'
  FileWriteUTF16LE $3 '      <Command>"$4\mvupdate-cli.exe"</Command>$\r$\n'
  FileWriteUTF16LE $3 '      <Arguments>update</Arguments>$\r$\n'
  FileWriteUTF16LE $3 '      <WorkingDirectory>$4</WorkingDirectory>$\r$\n'
  FileWriteUTF16LE $3 '    </Exec>$\r$\n'
  FileWriteUTF16LE $3 '  </Actions>$\r$\n'
  FileWriteUTF16LE $3 '</Task>$\r$\n'
  FileClose $3
  ${If} $TaskPassword == ""
    nsExec::ExecToLog 'schtasks /Create /F /TN "${TASK}" /XML "$2"'
  ${Else}
    nsExec::ExecToLog 'schtasks /Create /F /TN "${TASK}" /XML "$2" \
      /RU "$TaskUser" /RP "$TaskPassword"'
  ${EndIf}
  Pop $3
  ${If} $3 != 0
    DetailPrint "The scheduled task ${TASK} could not be created ($3)."
    SetErrorLevel 2
  ${EndIf}
  Delete $2
FunctionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ${GetParameters} $R0
  ${GetOptions} $R0 "/TASK=" $R1
  ${If} $R1 == "1"
    SectionSetFlags ${SecTask} ${SF_SELECTED}
  ${EndIf}
  ${GetOptions} $R0 "/TASKPASSWORD=" $TaskPassword
  ${GetOptions} $R0 "/TASKUSER=" $TaskUser
  ${If} $TaskUser == ""
    ReadEnvStr $R2 "USERDOMAIN"
    System::Call 'advapi32::GetUserNameW(w .R3, *i ${NSIS_MAX_STRLEN})'
    ${If} $R2 == ""
      StrCpy $TaskUser $R3
    ${Else}
      StrCpy $TaskUser "$R2\$R3"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  nsExec::ExecToLog 'schtasks /Delete /F /TN "${TASK}"'
  Pop $0
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\mvupdate-cli.exe"
  Delete "$INSTDIR\mvupdate.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The Qorin folder may hold the suite's other programs: removed only when
  ; empty. The configuration file stays.
  ${GetParent} "$INSTDIR" $0
  RMDir "$0"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
