; The Brisca Camera installer: the capture source module of each bitness the
; system runs, each beside a camera library of its own bitness and registered
; with the matching regsvr32, the capture tool, the README and an uninstaller.
;
; Built by installer/make-installer.sh, which passes VERSION (from the
; module's version resource), I686_BIN and X86_64_BIN (the two builds' bin
; folders), README and OUTFILE.
;
; Exit codes of the installer and the uninstaller:
;   0  done
;   1  cancelled by the user (NSIS's own code)
;   3  not run with administrator rights
;   4  installer only: no usable camera library: neither /LIBDIR=folder nor
;      /SIMULATED was given in silent mode, both were given, the folder does
;      not exist or it holds no QuillonSDK.dll of a bitness that is needed
;   5  registering (installer) or unregistering (uninstaller) a module failed;
;      the installer rolls back what it did, the uninstaller removes nothing
;   6  installer only: a file could not be written (a running program may
;      hold it); what this run did is rolled back
;   7  uninstaller only: a file it is to remove is in use; nothing was changed
;   8  uninstaller only: a file could not be removed once the modules were
;      unregistered; it is removed at the next restart, and while the entry
;      stays (with the uninstaller), running it again finishes the removal
; The optional virtual camera (/VCAM) never changes the exit code: where it
; cannot be added (Windows 10, 32-bit Windows) the installer says so and
; carries on.

Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include TextFunc.nsh
!include Sections.nsh
!include MUI2.nsh

!macro Require NAME
    !ifndef ${NAME}
        !error "${NAME} is not defined: build with installer/make-installer.sh"
    !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require I686_BIN
!insertmacro Require X86_64_BIN
!insertmacro Require README
!insertmacro Require OUTFILE

!define PRODUCT "Brisca Camera"
!define PUBLISHER "QuillonFilter developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define UNINSTALLER "Uninstall.exe"
!define MODULE "QuillonFilter.dll"
!define CAMERA_SERVER_KEY "Software\Classes\CLSID\{FE4F5263-11D5-4724-95BA-A978983B6369}\InprocServer32"
!define LIBRARY "QuillonSDK.dll"
!define MACHINE_I386 0x014c
!define MACHINE_AMD64 0x8664

!define EXIT_NOT_ADMIN 3
!define EXIT_NO_LIBRARY 4
!define EXIT_REGISTRATION 5
!define EXIT_FILE 6
!define EXIT_IN_USE 7
!define EXIT_LEFT_FOR_RESTART 8

!define GENERIC_WRITE 0x40000000
!define DELETE 0x00010000
!define FILE_SHARE_ALL 7
!define OPEN_EXISTING 3
!define MOVEFILE_DELAY_UNTIL_REBOOT 4
!define ERROR_ACCESS_DENIED 5
!define ERROR_SHARING_VIOLATION 32

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; The program folders are fixed (one per bitness); $INSTDIR is the native one.
InstallDir "$PROGRAMFILES\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
; The directory page asks for the camera library's folder: no disk space figures.
SpaceTexts none

VIProductVersion "${VERSION}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey FileDescription "${PRODUCT} setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Var Dir32       ; the 32-bit module's folder
Var Dir64       ; the 64-bit module's folder; empty on 32-bit Windows
Var LibDir      ; the folder of the vendor's camera library
Var Lib32       ; the camera library file for the 32-bit module
Var Lib64       ; ... for the 64-bit module
Var Problem     ; why the run cannot go on
Var FileError   ; the Windows error code of the last file operation
Var FailedFiles ; the files that failed, each with its reason, for the message
Var Unscheduled ; "1" when a file could not be scheduled for removal at restart
Var Unregistered32  ; "1" once this run unregistered an earlier 32-bit module
Var Unregistered64
Var Notice      ; what the optional virtual camera step has to say

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_PAGE_HEADER_TEXT "Camera library"
!define MUI_PAGE_HEADER_SUBTEXT "Where is the camera vendor's ${LIBRARY}?"
!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder that holds the camera vendor's ${LIBRARY}. On 64-bit Windows it needs a 32-bit and a 64-bit ${LIBRARY}: in its subfolders x86 and x64, or one of them in the folder itself. Each is copied beside the module of its bitness."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Camera library folder"
!define MUI_DIRECTORYPAGE_VARIABLE $LibDir
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipLibraryPageWhenSimulated
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckLibraryFolder
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------
; Shared by the installer and the uninstaller (the uninstaller's functions
; carry the "un." prefix).

; The folders of both bitnesses; the registry's 64-bit view on 64-bit Windows.
!macro SetFolders
    ${If} ${RunningX64}
        SetRegView 64
        StrCpy $Dir64 "$PROGRAMFILES64\${PRODUCT}"
        StrCpy $INSTDIR $Dir64
    ${Else}
        StrCpy $Dir64 ""
        StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
    ${EndIf}
    StrCpy $Dir32 "$PROGRAMFILES32\${PRODUCT}"
!macroend

; Tells why the run stops: a message box, or in silent mode a line on the
; standard error stream when the process has one. The caller sets the exit code.
!macro DefineReportFailure PREFIX
    Function ${PREFIX}ReportFailure
        Exch $0
        Push $1
        DetailPrint $0
        ${If} ${Silent}
            System::Call "kernel32::GetStdHandle(i -12) p .r1"
            ${If} $1 P<> 0
            ${AndIf} $1 P<> -1
                FileWrite $1 "${PRODUCT} setup: $0$\r$\n"
            ${EndIf}
        ${Else}
            MessageBox MB_OK|MB_ICONSTOP $0
        ${EndIf}
        Pop $1
        Pop $0
    FunctionEnd
!macroend
!insertmacro DefineReportFailure ""
!insertmacro DefineReportFailure "un."

; Calls the installer's or the uninstaller's copy of a shared function.
!macro CallShared NAME
    !ifdef __UNINSTALL__
        Call un.${NAME}
    !else
        Call ${NAME}
    !endif
!macroend

; Adds a file to $FailedFiles with the reason $FileError gives.
!macro DefineNoteFileFailure PREFIX
    Function ${PREFIX}NoteFileFailure
        Exch $0
        ${If} $FailedFiles != ""
            StrCpy $FailedFiles "$FailedFiles, "
        ${EndIf}
        ${If} $FileError = ${ERROR_SHARING_VIOLATION}
            StrCpy $FailedFiles "$FailedFiles$0 (in use by a running program)"
        ${ElseIf} $FileError = ${ERROR_ACCESS_DENIED}
            StrCpy $FailedFiles "$FailedFiles$0 (access denied)"
        ${ElseIf} $FileError = 0
            StrCpy $FailedFiles "$FailedFiles$0 (still there after deleting it)"
        ${Else}
            StrCpy $FailedFiles "$FailedFiles$0 (Windows error $FileError)"
        ${EndIf}
        Pop $0
    FunctionEnd
!macroend
!insertmacro DefineNoteFileFailure ""
!insertmacro DefineNoteFileFailure "un."

!macro NoteFileFailure PATH
    Push "${PATH}"
    !insertmacro CallShared NoteFileFailure
!macroend

!macro Fail CODE TEXT
    SetErrorLevel ${CODE}
    Push "${TEXT}"
    !insertmacro CallShared ReportFailure
!macroend

!macro DefineRequireAdmin PREFIX
    Function ${PREFIX}RequireAdmin
        UserInfo::GetAccountType
        Pop $0
        ${If} $0 != "Admin"
            !insertmacro Fail ${EXIT_NOT_ADMIN} "${PRODUCT} setup needs administrator rights: run it from an administrator's account or command prompt."
            Quit
        ${EndIf}
    FunctionEnd
!macroend
!insertmacro DefineRequireAdmin ""
!insertmacro DefineRequireAdmin "un."

; Runs the regsvr32 of a module's bitness: "/s" or "/s /u" on the stack
; below the module's path and its bitness (32 or 64); leaves regsvr32's exit
; code, or "failed" when it could not be started.
!macro DefineRegsvr32 PREFIX
    Function ${PREFIX}Regsvr32
        Exch $2   ; bitness
        Exch
        Exch $1   ; module
        Exch 2
        Exch $0   ; switches
        ClearErrors
        ${If} $2 == 64
            ; A 32-bit process sees SysWOW64 as System32 unless redirection is off.
            ${DisableX64FSRedirection}
            ExecWait '"$SYSDIR\regsvr32.exe" $0 "$1"' $0
            ${EnableX64FSRedirection}
        ${ElseIf} ${RunningX64}
            ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" $0 "$1"' $0
        ${Else}
            ExecWait '"$SYSDIR\regsvr32.exe" $0 "$1"' $0
        ${EndIf}
        ${If} ${Errors}
            StrCpy $0 "failed"
        ${EndIf}
        ; The stack holds the old $0, $2, $1: leave the result in their place.
        Exch $0
        Exch 2
        Pop $1
        Pop $2
    FunctionEnd
!macroend
!insertmacro DefineRegsvr32 ""
!insertmacro DefineRegsvr32 "un."

!macro Regsvr32 SWITCHES MODULE BITS RESULT
    Push "${SWITCHES}"
    Push "${MODULE}"
    Push ${BITS}
    !insertmacro CallShared Regsvr32
    Pop ${RESULT}
!macroend

; Every file the installer writes but the uninstaller. For each: the folder
; variable, the file name and the backup name (one backup folder holds both
; bitnesses' files).
!macro ForEachProductFile MACRO
    !insertmacro ${MACRO} $Dir32 ${MODULE} 32-${MODULE}
    !insertmacro ${MACRO} $Dir32 ${LIBRARY} 32-${LIBRARY}
    ${If} ${RunningX64}
        !insertmacro ${MACRO} $Dir64 ${MODULE} 64-${MODULE}
        !insertmacro ${MACRO} $Dir64 ${LIBRARY} 64-${LIBRARY}
    ${EndIf}
    !insertmacro ${MACRO} $INSTDIR briscacap.exe briscacap.exe
    !insertmacro ${MACRO} $INSTDIR README.txt README.txt
!macroend

!macro ForEachInstalledFile MACRO
    !insertmacro ForEachProductFile ${MACRO}
    !insertmacro ${MACRO} $INSTDIR ${UNINSTALLER} ${UNINSTALLER}
!macroend

; ---------------------------------------------------------------------------
; Installer

Section "${PRODUCT}" SecCamera
    SectionIn RO
SectionEnd

; Off by default: it never stands in for the vendor's library unasked.
Section /o "Simulated camera (for trying it without the camera)" SecSimulated
SectionEnd

; Off by default: it needs 64-bit Windows 11 (build 22000 or later), whose frame
; server, a 64-bit service, hosts the 64-bit module's media source for every app.
Section /o "Windows 11 virtual camera (for apps that use Media Foundation)" SecVirtualCamera
SectionEnd

Function .onInit
    !insertmacro SetFolders
    Call RequireAdmin
    InitPluginsDir

    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/LIBDIR=" $LibDir
    ${IfNot} ${Errors}
        ${If} $LibDir == ""
            StrCpy $LibDir "-"  ; given empty: not the same as not given
        ${EndIf}
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/SIMULATED" $R1
    ${IfNot} ${Errors}
        ${If} $LibDir != ""
            !insertmacro Fail ${EXIT_NO_LIBRARY} "Give either /LIBDIR=folder or /SIMULATED, not both."
            Quit
        ${EndIf}
        !insertmacro SelectSection ${SecSimulated}
    ${ElseIf} ${Silent}
    ${AndIf} $LibDir == ""
        !insertmacro Fail ${EXIT_NO_LIBRARY} "Give the camera library's folder with /LIBDIR=folder (or /SIMULATED for the simulated camera)."
        Quit
    ${EndIf}
    ${If} $LibDir == "-"
        StrCpy $LibDir ""
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/VCAM" $R1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecVirtualCamera}
    ${EndIf}
FunctionEnd

Function SkipLibraryPageWhenSimulated
    ${If} ${SectionIsSelected} ${SecSimulated}
        Abort
    ${EndIf}
FunctionEnd

; The machine type of a PE file: path on the stack, leaves the machine
; number, or 0 when the file cannot be read or is no PE file.
Function PeMachine
    Exch $0
    Push $1
    Push $2
    Push $3
    StrCpy $3 0
    ClearErrors
    FileOpen $1 $0 r
    ${IfNot} ${Errors}
        FileReadWord $1 $2
        ${If} $2 = 0x5A4D  ; "MZ"
            FileSeek $1 0x3C SET
            FileReadWord $1 $2  ; offset of the PE header: low and high word
            FileReadWord $1 $0
            ${If} $0 = 0
                FileSeek $1 $2 SET
                FileReadWord $1 $0
                FileReadWord $1 $2
                ${If} $0 = 0x4550  ; "PE\0\0"
                ${AndIf} $2 = 0
                    FileReadWord $1 $3
                ${EndIf}
            ${EndIf}
        ${EndIf}
        FileClose $1
        ${If} ${Errors}
            StrCpy $3 0
        ${EndIf}
    ${EndIf}
    StrCpy $0 $3
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; The library of one bitness: the bitness's subfolder first, then the folder
; itself; a file of the other bitness is passed over.
!macro FindLibrary RESULT SUBFOLDER MACHINE
    StrCpy ${RESULT} ""
    Push "$LibDir\${SUBFOLDER}\${LIBRARY}"
    Call PeMachine
    Pop $0
    ${If} $0 = ${MACHINE}
        StrCpy ${RESULT} "$LibDir\${SUBFOLDER}\${LIBRARY}"
    ${Else}
        Push "$LibDir\${LIBRARY}"
        Call PeMachine
        Pop $0
        ${If} $0 = ${MACHINE}
            StrCpy ${RESULT} "$LibDir\${LIBRARY}"
        ${EndIf}
    ${EndIf}
!macroend

; Sets $Lib32 and $Lib64 from $LibDir; sets the error flag and $Problem when
; a library that is needed is missing.
Function FindLibraries
    Push $0
    StrCpy $Problem ""
    StrCpy $Lib32 ""
    StrCpy $Lib64 ""
    ${If} $LibDir == ""
        StrCpy $Problem "No camera library folder was given."
    ${ElseIfNot} ${FileExists} "$LibDir\*.*"
        StrCpy $Problem "The camera library folder $LibDir does not exist."
    ${Else}
        !insertmacro FindLibrary $Lib32 x86 ${MACHINE_I386}
        ${If} $Lib32 == ""
            StrCpy $Problem "$LibDir holds no 32-bit ${LIBRARY} (looked in $LibDir\x86 and $LibDir)."
        ${EndIf}
        ${If} ${RunningX64}
            !insertmacro FindLibrary $Lib64 x64 ${MACHINE_AMD64}
            ${If} $Lib64 == ""
            ${AndIf} $Problem != ""
                StrCpy $Problem "$Problem "
            ${EndIf}
            ${If} $Lib64 == ""
                StrCpy $Problem "$Problem$LibDir holds no 64-bit ${LIBRARY} (looked in $LibDir\x64 and $LibDir)."
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $0
    ClearErrors
    ${If} $Problem != ""
        SetErrors
    ${EndIf}
FunctionEnd

Function CheckLibraryFolder
    Call FindLibraries
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONEXCLAMATION $Problem
        Abort  ; stay on the page
    ${EndIf}
FunctionEnd

; A copy through CopyFileW: a failure sets the error flag instead of asking,
; and adds the target to $FailedFiles.
!macro CopyOneFile SOURCE TARGET
    System::Call 'kernel32::CopyFileW(w "${SOURCE}", w "${TARGET}", i 0) i .r0 ?e'
    Pop $FileError
    ${If} $0 = 0
        !insertmacro NoteFileFailure "${TARGET}"
        SetErrors
    ${EndIf}
!macroend

!macro BackUpFile FOLDER NAME BACKUP
    ${If} ${FileExists} "${FOLDER}\${NAME}"
        !insertmacro CopyOneFile "${FOLDER}\${NAME}" "$PLUGINSDIR\previous\${BACKUP}"
    ${EndIf}
!macroend

; A file that existed before the run gets its backup back; any other file
; at that place was written by this run and goes.
!macro RestoreFile FOLDER NAME BACKUP
    ${If} ${FileExists} "$PLUGINSDIR\previous\${BACKUP}"
        !insertmacro CopyOneFile "$PLUGINSDIR\previous\${BACKUP}" "${FOLDER}\${NAME}"
    ${Else}
        Delete "${FOLDER}\${NAME}"
    ${EndIf}
!macroend

; Registers again the earlier installation's modules that this run unregistered.
Function RegisterEarlierAgain
    Push $0
    ${If} $Unregistered32 == 1
        !insertmacro Regsvr32 "/s" "$Dir32\${MODULE}" 32 $0
    ${EndIf}
    ${If} $Unregistered64 == 1
        !insertmacro Regsvr32 "/s" "$Dir64\${MODULE}" 64 $0
    ${EndIf}
    Pop $0
FunctionEnd

; Undoes this run once it has started to copy: unregisters the modules it
; copied, puts back the files it replaced, removes the files and folders it
; added and registers again what it unregistered. The uninstall entry is
; written only after success, so an earlier one is untouched.
Function RollBack
    Push $0
    DetailPrint "Rolling back"
    ${If} ${RunningX64}
        !insertmacro Regsvr32 "/s /u" "$Dir64\${MODULE}" 64 $0
    ${EndIf}
    !insertmacro Regsvr32 "/s /u" "$Dir32\${MODULE}" 32 $0
    ClearErrors
    !insertmacro ForEachInstalledFile RestoreFile
    RMDir $Dir32
    ${If} ${RunningX64}
        RMDir $Dir64
    ${EndIf}
    Call RegisterEarlierAgain
    Pop $0
FunctionEnd

; A module of an earlier installation is unregistered before its file is
; replaced. Its registration may already be gone: that is no failure.
!macro UnregisterEarlier FOLDER BITS FLAG
    StrCpy ${FLAG} ""
    ${If} ${FileExists} "${FOLDER}\${MODULE}"
        !insertmacro Regsvr32 "/s /u" "${FOLDER}\${MODULE}" ${BITS} $0
        ${If} $0 == 0
            StrCpy ${FLAG} 1
        ${EndIf}
    ${EndIf}
!macroend

!macro RegisterOrRollBack FOLDER BITS
    DetailPrint "Registering the ${BITS}-bit ${MODULE}"
    !insertmacro Regsvr32 "/s" "${FOLDER}\${MODULE}" ${BITS} $0
    ${If} $0 != 0
        Call RollBack
        !insertmacro Fail ${EXIT_REGISTRATION} "The ${BITS}-bit ${MODULE} could not be registered (regsvr32 answered $0); the installation was rolled back."
        Abort
    ${EndIf}
!macroend

; Tells why the virtual camera was not added, the way ReportFailure tells of
; a failure, but as a warning: the installation itself stands.
Function ReportNotice
    DetailPrint $Notice
    ${If} ${Silent}
        System::Call "kernel32::GetStdHandle(i -12) p .r0"
        ${If} $0 P<> 0
        ${AndIf} $0 P<> -1
            FileWrite $0 "${PRODUCT} setup: $Notice$\r$\n"
        ${EndIf}
    ${Else}
        MessageBox MB_OK|MB_ICONEXCLAMATION $Notice
    ${EndIf}
FunctionEnd

; Has the installed capture tool add the virtual camera for all users, and
; notes in the uninstall entry that the uninstaller is to remove it.
Function AddVirtualCamera
    ${IfNot} ${RunningX64}
        StrCpy $Notice "The virtual camera was not added: it needs 64-bit Windows 11. ${PRODUCT} is installed."
        Call ReportNotice
        Return
    ${EndIf}
    DetailPrint "Adding the virtual camera"
    nsExec::ExecToStack '"$INSTDIR\briscacap.exe" vcam add --all-users'
    Pop $0  ; the exit code, or "error" when it could not be started
    Pop $1  ; what it wrote
    ${TrimNewLines} $1 $1
    ${If} $0 == 0
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" VirtualCamera 1
        DetailPrint $1
    ${Else}
        StrCpy $Notice "The virtual camera was not added (briscacap answered $0): $1 ${PRODUCT} is installed for the apps that use DirectShow."
        Call ReportNotice
    ${EndIf}
FunctionEnd

Section "-Install"
    ; Where the camera library comes from.
    ${If} ${SectionIsSelected} ${SecSimulated}
        SetOutPath "$PLUGINSDIR\simulated32"
        File "/oname=${LIBRARY}" "${I686_BIN}\${LIBRARY}"
        StrCpy $Lib32 "$PLUGINSDIR\simulated32\${LIBRARY}"
        ${If} ${RunningX64}
            SetOutPath "$PLUGINSDIR\simulated64"
            File "/oname=${LIBRARY}" "${X86_64_BIN}\${LIBRARY}"
            StrCpy $Lib64 "$PLUGINSDIR\simulated64\${LIBRARY}"
        ${EndIf}
    ${Else}
        Call FindLibraries
        ${If} ${Errors}
            !insertmacro Fail ${EXIT_NO_LIBRARY} $Problem
            Abort
        ${EndIf}
    ${EndIf}

    ; The new files, unpacked beside the backups before anything is replaced.
    SetOutPath "$PLUGINSDIR\new32"
    File "${I686_BIN}\${MODULE}"
    ${If} ${RunningX64}
        SetOutPath "$PLUGINSDIR\new64"
        File "${X86_64_BIN}\${MODULE}"
        File "${X86_64_BIN}\briscacap.exe"
    ${Else}
        SetOutPath "$PLUGINSDIR\new32"
        File "${I686_BIN}\briscacap.exe"
    ${EndIf}
    SetOutPath "$PLUGINSDIR\new"
    File "/oname=README.txt" "${README}"
    CreateDirectory "$PLUGINSDIR\previous"
    WriteUninstaller "$PLUGINSDIR\new\${UNINSTALLER}"

    ; An earlier installation: unregistered, its files kept for a rollback.
    !insertmacro UnregisterEarlier $Dir32 32 $Unregistered32
    ${If} ${RunningX64}
        !insertmacro UnregisterEarlier $Dir64 64 $Unregistered64
    ${EndIf}
    ClearErrors
    StrCpy $FailedFiles ""
    !insertmacro ForEachInstalledFile BackUpFile
    ${If} ${Errors}
        ; No file was replaced yet, and without its backup none may be removed.
        Call RegisterEarlierAgain
        !insertmacro Fail ${EXIT_FILE} "The files of the earlier installation could not be read: $FailedFiles; nothing was changed."
        Abort
    ${EndIf}

    DetailPrint "Copying the files"
    ClearErrors
    StrCpy $FailedFiles ""
    CreateDirectory $Dir32
    !insertmacro CopyOneFile "$PLUGINSDIR\new32\${MODULE}" "$Dir32\${MODULE}"
    !insertmacro CopyOneFile $Lib32 "$Dir32\${LIBRARY}"
    ${If} ${RunningX64}
        CreateDirectory $Dir64
        !insertmacro CopyOneFile "$PLUGINSDIR\new64\${MODULE}" "$Dir64\${MODULE}"
        !insertmacro CopyOneFile $Lib64 "$Dir64\${LIBRARY}"
        !insertmacro CopyOneFile "$PLUGINSDIR\new64\briscacap.exe" "$INSTDIR\briscacap.exe"
    ${Else}
        !insertmacro CopyOneFile "$PLUGINSDIR\new32\briscacap.exe" "$INSTDIR\briscacap.exe"
    ${EndIf}
    !insertmacro CopyOneFile "$PLUGINSDIR\new\README.txt" "$INSTDIR\README.txt"
    !insertmacro CopyOneFile "$PLUGINSDIR\new\${UNINSTALLER}" "$INSTDIR\${UNINSTALLER}"
    ${If} ${Errors}
        ; Named before the rollback, whose own copies may fail the same way.
        StrCpy $Problem "Could not write $FailedFiles; the installation was rolled back."
        Call RollBack
        !insertmacro Fail ${EXIT_FILE} $Problem
        Abort
    ${EndIf}

    !insertmacro RegisterOrRollBack $Dir32 32
    ${If} ${RunningX64}
        !insertmacro RegisterOrRollBack $Dir64 64
    ${EndIf}

    ; The entry in the list of installed programs.
    ${GetSize} $Dir32 "/S=0K" $0 $1 $2
    ${If} ${RunningX64}
        ${GetSize} $Dir64 "/S=0K" $1 $2 $3
        IntOp $0 $0 + $1
    ${EndIf}
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
    WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
    ${If} ${SectionIsSelected} ${SecVirtualCamera}
        Call AddVirtualCamera
    ${EndIf}
    SetErrorLevel 0
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller

Function un.onInit
    !insertmacro SetFolders
    Call un.RequireAdmin
FunctionEnd

; A module is unregistered only while its camera is registered: an uninstall
; run again after one that left files behind finds the modules unregistered,
; and unregistering one a second time fails.
!macro UnregisterOrStop FOLDER BITS
    SetRegView ${BITS}
    ClearErrors
    ReadRegStr $0 HKLM "${CAMERA_SERVER_KEY}" ""
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    ${If} ${FileExists} "${FOLDER}\${MODULE}"
    ${AndIfNot} ${Errors}
        DetailPrint "Unregistering the ${BITS}-bit ${MODULE}"
        !insertmacro Regsvr32 "/s /u" "${FOLDER}\${MODULE}" ${BITS} $0
        ${If} $0 != 0
            !insertmacro Fail ${EXIT_REGISTRATION} "The ${BITS}-bit ${MODULE} could not be unregistered (regsvr32 answered $0); nothing was removed."
            Abort
        ${EndIf}
    ${EndIf}
!macroend

; A file that cannot be opened for writing and deleting cannot be removed
; either: a module that a running program has loaded, for one.
!macro CheckRemovable FOLDER NAME BACKUP
    ${If} ${FileExists} "${FOLDER}\${NAME}"
        System::Call 'kernel32::CreateFileW(w "${FOLDER}\${NAME}", i ${GENERIC_WRITE}|${DELETE}, i ${FILE_SHARE_ALL}, p 0, i ${OPEN_EXISTING}, i 0, p 0) p .r0 ?e'
        Pop $FileError
        ${If} $0 P= -1
            !insertmacro NoteFileFailure "${FOLDER}\${NAME}"
        ${Else}
            System::Call 'kernel32::CloseHandle(p r0)'
        ${EndIf}
    ${EndIf}
!macroend

; A file that cannot be deleted is added to $FailedFiles and scheduled for
; removal at the next restart.
!macro RemoveFile FOLDER NAME BACKUP
    ${If} ${FileExists} "${FOLDER}\${NAME}"
        System::Call 'kernel32::DeleteFileW(w "${FOLDER}\${NAME}") i .r0 ?e'
        Pop $FileError
        ; A deletion can report success and leave the file (Wine does where
        ; the folder refuses it): what counts is that the file is gone.
        ${If} ${FileExists} "${FOLDER}\${NAME}"
            ${If} $0 <> 0
                StrCpy $FileError 0
            ${EndIf}
            !insertmacro NoteFileFailure "${FOLDER}\${NAME}"
            System::Call 'kernel32::MoveFileExW(w "${FOLDER}\${NAME}", p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .r0'
            ${If} $0 = 0
                StrCpy $Unscheduled 1
            ${EndIf}
        ${EndIf}
    ${EndIf}
!macroend

!macro FailLeftForRestart TEXT
    ${If} $Unscheduled == 1
        !insertmacro Fail ${EXIT_LEFT_FOR_RESTART} "Could not remove $FailedFiles, nor schedule all of them for removal at the next restart: remove them by hand. ${TEXT}"
    ${Else}
        !insertmacro Fail ${EXIT_LEFT_FOR_RESTART} "Could not remove $FailedFiles; they are removed at the next restart. ${TEXT}"
    ${EndIf}
!macroend

; Removes exactly what the installer added; the user's settings file
; (Brisca Camera.config in the temporary folder) stays. Nothing is changed
; unless every file can be removed.
Section "Uninstall"
    StrCpy $FailedFiles ""
    !insertmacro ForEachProductFile CheckRemovable
    ${If} $FailedFiles != ""
        !insertmacro Fail ${EXIT_IN_USE} "Nothing was removed: cannot remove $FailedFiles. Close the programs that use the camera and run the uninstaller again."
        Abort
    ${EndIf}

    ${If} ${RunningX64}
        !insertmacro UnregisterOrStop $Dir64 64
    ${EndIf}
    !insertmacro UnregisterOrStop $Dir32 32

    ; The virtual camera an installation added goes with it; should that fail,
    ; the rest is removed all the same.
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" VirtualCamera
    ${If} $0 = 1
        DetailPrint "Removing the virtual camera"
        nsExec::ExecToStack '"$INSTDIR\briscacap.exe" vcam remove --all-users'
        Pop $0
        Pop $1
        DetailPrint "briscacap answered $0: $1"
    ${EndIf}

    StrCpy $Unscheduled ""
    !insertmacro ForEachProductFile RemoveFile
    ${If} $FailedFiles != ""
        !insertmacro FailLeftForRestart "${PRODUCT} stays in the list of installed programs: run its uninstaller again to finish."
        Abort
    ${EndIf}
    ; Run in place (_?=), the uninstaller cannot remove itself.
    ${If} $EXEPATH != "$INSTDIR\${UNINSTALLER}"
        !insertmacro RemoveFile $INSTDIR ${UNINSTALLER} ${UNINSTALLER}
    ${EndIf}
    RMDir $Dir32
    RMDir $INSTDIR
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${If} $FailedFiles != ""
        RMDir /REBOOTOK $INSTDIR
        !insertmacro FailLeftForRestart "Everything else was removed."
        Abort
    ${EndIf}
    SetErrorLevel 0
SectionEnd
