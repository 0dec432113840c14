; Quillmark's setup program and uninstaller.
;
; makensis -DVERSION=1.0.0 -DSTAGE=<folder with x64\quillmark.exe, x86\quillmark.exe, DPInst32.exe,
;          DPInst64.exe and language.ini>
;          -DICON=<quillmark.ico> -DOUTFILE=<quillmark-setup-1.0.0.exe> quillmark.nsi
;
; The setup installs the 64-bit program on 64-bit Windows and the 32-bit one
; otherwise, into Program Files\Quillmark. Its first page chooses one of the
; program's eleven languages; the choice goes to HKCU\SOFTWARE\Vantorel_Init
; as the number the program reads on its first run.
;
; Silent use: "quillmark-setup.exe /S" installs in English; "/S /LANG=n" in the
; language numbered n (1 English, 2 Deutsch, 3 Español, 4 Français,
; 5 Italiano, 6 Japanese, 7 Simplified Chinese, 8 Traditional Chinese,
; 9 Nederlands, 10 Português, 11 Arabic). "/D=folder", last on the command
; line, installs elsewhere (see PROTECT_FOLDER for which folders). Exit codes:
; 0 done, 1 cancelled, 2 a wrong /LANG, 3 Quillmark is running, 4 a folder
; outside Program Files that the setup cannot reserve to administrators. "uninstall.exe /S" uninstalls and keeps the
; user's settings.

Unicode true
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include WordFunc.nsh

!define PRODUCT "Quillmark"
!define PUBLISHER "Vantorel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark"
!define SETTINGS_KEY "SOFTWARE\Vantorel"
!define LANGUAGE_KEY "SOFTWARE\Vantorel_Init"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Task Scheduler 1.0: CLSID_CTaskScheduler and IID_ITaskScheduler.
!define CLSID_TASK_SCHEDULER "{148BD52A-A2AB-11CE-B11F-00AA00530503}"
!define IID_TASK_SCHEDULER "{148BD527-A2AB-11CE-B11F-00AA00530503}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; The Program Files of this Windows: on 64-bit Windows the 64-bit one (on
; 32-bit Windows both name the same folder). /D= replaces it before .onInit,
; and nothing after that changes what /D= named. Browse adds "\Quillmark" to
; the folder picked.
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; The uninstaller speaks the language the setup was run in.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Installer Language"
!define MUI_LANGDLL_ALLLANGUAGES
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillmark.exe"

!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckFolderPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; In the program's order of language numbers 1 to 11.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "TradChinese"
!insertmacro MUI_LANGUAGE "Dutch"
!insertmacro MUI_LANGUAGE "Portuguese"
!insertmacro MUI_LANGUAGE "Arabic"

!include "texts.nsh"

; $0 = the program's language number (1..11) -> $0 = the installer's language id,
; or "" for any other value.
!macro LANGUAGE_ID_OF_NUMBER
    ${Select} $0
    ${Case} 1
        StrCpy $0 ${LANG_ENGLISH}
    ${Case} 2
        StrCpy $0 ${LANG_GERMAN}
    ${Case} 3
        StrCpy $0 ${LANG_SPANISH}
    ${Case} 4
        StrCpy $0 ${LANG_FRENCH}
    ${Case} 5
        StrCpy $0 ${LANG_ITALIAN}
    ${Case} 6
        StrCpy $0 ${LANG_JAPANESE}
    ${Case} 7
        StrCpy $0 ${LANG_SIMPCHINESE}
    ${Case} 8
        StrCpy $0 ${LANG_TRADCHINESE}
    ${Case} 9
        StrCpy $0 ${LANG_DUTCH}
    ${Case} 10
        StrCpy $0 ${LANG_PORTUGUESE}
    ${Case} 11
        StrCpy $0 ${LANG_ARABIC}
    ${CaseElse}
        StrCpy $0 ""
    ${EndSelect}
!macroend

; $LANGUAGE -> $0 = the program's language number.
!macro NUMBER_OF_LANGUAGE
    ${Select} $LANGUAGE
    ${Case} ${LANG_GERMAN}
        StrCpy $0 2
    ${Case} ${LANG_SPANISH}
        StrCpy $0 3
    ${Case} ${LANG_FRENCH}
        StrCpy $0 4
    ${Case} ${LANG_ITALIAN}
        StrCpy $0 5
    ${Case} ${LANG_JAPANESE}
        StrCpy $0 6
    ${Case} ${LANG_SIMPCHINESE}
        StrCpy $0 7
    ${Case} ${LANG_TRADCHINESE}
        StrCpy $0 8
    ${Case} ${LANG_DUTCH}
        StrCpy $0 9
    ${Case} ${LANG_PORTUGUESE}
        StrCpy $0 10
    ${Case} ${LANG_ARABIC}
        StrCpy $0 11
    ${CaseElse}
        StrCpy $0 1
    ${EndSelect}
!macroend

; A running Quillmark holds its files: the user closes it first, or the
; setup ends (exit code 3; silently, at once). The program's single-instance
; mutex tells that it runs.
!macro WAIT_FOR_PROGRAM_TO_END
    ${Do}
        System::Call "kernel32::OpenMutexW(i 0x00100000, i 0, w '${PRODUCT}') p .r0"
        ${If} $0 P= 0
            ${Break}
        ${EndIf}
        System::Call "kernel32::CloseHandle(p r0)"
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(close_program)" /SD IDCANCEL IDRETRY +3
            SetErrorLevel 3
            Quit
    ${Loop}
!macroend

; The 64-bit program on 64-bit Windows, with the registry's 64-bit view.
!macro USE_NATIVE_VIEW
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
!macroend

Function .onInit
    !insertmacro USE_NATIVE_VIEW
    ; /LANG=n picks the language; a silent setup without it is English.
    ${GetParameters} $1
    ClearErrors
    ${GetOptions} $1 "/LANG=" $0
    ${IfNot} ${Errors}
        !insertmacro LANGUAGE_ID_OF_NUMBER
        ${If} $0 == ""
            MessageBox MB_ICONSTOP "/LANG= takes a number from 1 to 11." /SD IDOK
            SetErrorLevel 2
            Abort
        ${EndIf}
        StrCpy $LANGUAGE $0
    ${ElseIf} ${Silent}
        StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${EndIf}
    ${IfNot} ${Silent}
        !insertmacro MUI_LANGDLL_DISPLAY
    ${EndIf}
    !insertmacro WAIT_FOR_PROGRAM_TO_END
FunctionEnd

; Deletes the scheduled work item named $0 through Task Scheduler 1.0; a
; missing item or scheduler is no error.
!macro DELETE_WORK_ITEM un
Function ${un}DeleteWorkItem
    Push $1
    Push $2
    System::Call "ole32::CoCreateInstance(g '${CLSID_TASK_SCHEDULER}', p 0, i 1, g '${IID_TASK_SCHEDULER}', *p .r1) i .r2"
    ${If} $2 = 0
        ; ITaskScheduler::Delete is the eighth method (after IUnknown's three,
        ; SetTargetComputer, GetTargetComputer, Enum and Activate).
        System::Call "$1->7(w r0)"
        System::Call "$1->2()"
    ${EndIf}
    Pop $2
    Pop $1
FunctionEnd
!macroend
!insertmacro DELETE_WORK_ITEM "un."

; Deletes the two scheduled tasks the program made for this user: named
; "Quillmark (DOMAIN+user)" and "Quillmark Autostart (DOMAIN+user)" after the
; user's SAM-compatible name. Before Vista they are Task Scheduler 1.0 work
; items; from Vista on Task Scheduler 2.0 tasks, which schtasks deletes. A
; task that is not there is no error.
Function un.DeleteUserTasks
    ; GetUserNameExW(NameSamCompatible); it returns a BOOLEAN, one byte.
    System::Call "secur32::GetUserNameExW(i 2, w .r1, *i ${NSIS_MAX_STRLEN}) i .r2"
    IntOp $2 $2 & 0xFF
    ${If} $2 <> 0
    ${AndIf} $1 != ""
        ${WordReplace} "$1" "\" "+" "+" $1
        ${ForEach} $3 0 1 + 1
            ${If} $3 = 0
                StrCpy $0 "Quillmark ($1)"
            ${Else}
                StrCpy $0 "Quillmark Autostart ($1)"
            ${EndIf}
            Call un.DeleteWorkItem
            nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "$0" /F'
            Pop $2
        ${Next}
    ${EndIf}
FunctionEnd

; Quillmark runs with administrator rights, and Windows looks for the DLLs a
; program imports in the program's folder before System32 (the 32-bit
; program imports several when it starts), so only administrators may
; change that folder. Program Files is so already. A folder elsewhere is
; made so: its inherited permissions are replaced by full control for
; Administrators and SYSTEM and read and execute for Users, and
; Administrators become its owner, so that a user who made the folder
; cannot grant himself write access again. The files put in it inherit that.
;
; The accounts are given by SID (*S-1-5-32-544 Administrators, *S-1-5-18
; SYSTEM, *S-1-5-32-545 Users): their names depend on Windows' language.
; icacls does it; Windows has it from Vista and Server 2003 SP2 on. XP has
; only cacls, which takes account names and asks before it replaces
; permissions: there the setup takes folders in Program Files only.
;
; A folder that already holds other files is refused (unless Quillmark was
; installed there before): their owner would lose the right to change them.

; $0 = "program files" when $INSTDIR is in $PROGRAMFILES or $PROGRAMFILES64
; (or is one of them), "ours" when it is missing, empty or where this setup
; installed Quillmark before, "other files" otherwise. Comparisons ignore case, as Windows does. (A path
; with ".." in it, which could look as if it were in Program Files, never
; gets here: the setup refuses it, the directory page and /D= alike.)
Function ClassifyFolder
    Push $1
    Push $2
    StrCpy $0 "ours"
    StrLen $1 "$PROGRAMFILES\"
    StrCpy $2 "$INSTDIR\" $1
    ${If} $2 == "$PROGRAMFILES\"
        StrCpy $0 "program files"
    ${EndIf}
    StrLen $1 "$PROGRAMFILES64\"
    StrCpy $2 "$INSTDIR\" $1
    ${If} $2 == "$PROGRAMFILES64\"
        StrCpy $0 "program files"
    ${EndIf}
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == "ours"
    ${AndIf} $1 != $INSTDIR
    ${AndIf} ${FileExists} "$INSTDIR\*.*"
        FindFirst $1 $2 "$INSTDIR\*.*"
        ${DoWhile} $2 != ""
            ${If} $2 != "."
            ${AndIf} $2 != ".."
                StrCpy $0 "other files"
                ${Break}
            ${EndIf}
            FindNext $1 $2
        ${Loop}
        FindClose $1
    ${EndIf}
    Pop $2
    Pop $1
FunctionEnd

; Whether the folder can be taken ($0 as ClassifyFolder sets it): when not,
; a message box, then ON_REFUSAL and Abort (the directory page stays; in the
; section the setup ends).
!macro CHECK_FOLDER ON_REFUSAL
    Call ClassifyFolder
    ${If} $0 == "other files"
        MessageBox MB_ICONSTOP "$(folder_not_ours)" /SD IDOK
        ${ON_REFUSAL}
        Abort
    ${ElseIf} $0 == "ours"
    ${AndIfNot} ${FileExists} "$SYSDIR\icacls.exe"
        MessageBox MB_ICONSTOP "$(folder_not_protected)" /SD IDOK
        ${ON_REFUSAL}
        Abort
    ${EndIf}
!macroend

Function CheckFolderPage
    !insertmacro CHECK_FOLDER ""
FunctionEnd

; Reserves $INSTDIR to administrators unless it is in Program Files; ends
; the setup with code 4 when it cannot, before any file is put there.
Function ProtectFolder
    !insertmacro CHECK_FOLDER "SetErrorLevel 4"
    ${If} $0 == "ours"
        CreateDirectory "$INSTDIR"
        nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
        Pop $1
        ${If} $1 == 0
            nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /setowner *S-1-5-32-544'
            Pop $1
        ${EndIf}
        ${If} $1 != 0
            RMDir "$INSTDIR"  ; only if this left it empty
            MessageBox MB_ICONSTOP "$(folder_not_protected)" /SD IDOK
            SetErrorLevel 4
            Abort
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Quillmark"
    Call ProtectFolder
    SetOutPath "$INSTDIR"
    ${If} ${RunningX64}
        File "${STAGE}\x64\quillmark.exe"
    ${Else}
        File "${STAGE}\x86\quillmark.exe"
    ${EndIf}
    File "${STAGE}\language.ini"
    File "${STAGE}\DPInst32.exe"
    File "${STAGE}\DPInst64.exe"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    SetShellVarContext all
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\quillmark.exe"

    ; The language the program starts in on its first run.
    !insertmacro NUMBER_OF_LANGUAGE
    WriteRegDWORD HKCU "${LANGUAGE_KEY}" "language" $0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillmark.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegStr HKLM "${UNINSTALL_KEY}" "${MUI_LANGDLL_REGISTRY_VALUENAME}" $LANGUAGE
SectionEnd

Function un.onInit
    !insertmacro USE_NATIVE_VIEW
    !insertmacro MUI_UNGETLANGUAGE
    !insertmacro WAIT_FOR_PROGRAM_TO_END
FunctionEnd

Section "Uninstall"
    ; What the program made for itself: the Run entry, its two tasks, and the
    ; two work items of the names earlier versions used.
    DeleteRegValue HKCU "${RUN_KEY}" "Quillmark"
    Call un.DeleteUserTasks
    StrCpy $0 "Quillmark"
    Call un.DeleteWorkItem
    StrCpy $0 "Quillmark Autostart"
    Call un.DeleteWorkItem

    ; The settings, the list of installed packages and the backup catalogue
    ; stay for a later installation unless the user says otherwise; a silent
    ; uninstall keeps them. The download and backup folders always stay.
    MessageBox MB_YESNO|MB_ICONQUESTION "$(keep_settings)" /SD IDYES IDYES keep
        DeleteRegKey HKCU "${SETTINGS_KEY}"
        DeleteRegKey HKCU "${LANGUAGE_KEY}"
        Delete "$INSTDIR\setup.dat"
        Delete "$INSTDIR\backup.xml"
    keep:

    Delete "$INSTDIR\quillmark.exe"
    Delete "$INSTDIR\language.ini"
    Delete "$INSTDIR\DPInst32.exe"
    Delete "$INSTDIR\DPInst64.exe"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: the default download and backup folders live here.
    RMDir "$INSTDIR"

    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
