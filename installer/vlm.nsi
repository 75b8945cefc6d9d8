; VLM's per-user Windows installer, built by scripts/build-installer.sh (makensis 3, under a UTF-8 locale).
;
; It installs for the user who runs it, without administrator rights, into FOLDERID_UserProgramFiles
; (%LOCALAPPDATA%\Programs\VLM), the same files as VLM-<version>-win32.zip. The sounds are not carried: the
; installer carries the build's synthesizer, writes the bank with it and checks every file against the build's md5.
;
; Defines given by build-installer.sh (/D...):
;   VERSION        the version, taken from project(VLM VERSION ...) in CMakeLists.txt: the one source of it
;   VERSION_QUAD   the same as four numbers, for the version resource
;   SOUNDS_KIB     the sounds' size in KiB: they are written, not extracted, so the folder page adds it itself
;   STAGE          the folder build-installer.sh prepared: VLM.exe, vlm_synth.exe, vlm.ico, sounds.md5 and the
;                  generated write-sounds.nsh (the synthesizer's calls) and uninstall-files.nsh (what was installed)
;   OUTFILE        the installer to write
;   X86_64         (optional) a 64-bit installer of the 64-bit build, for tests on machines without 32-bit code
!macro REQUIRE_DEFINE name
    !ifndef ${name}
        !error "${name} is not defined: run scripts/build-installer.sh, which passes it"
    !endif
!macroend
!insertmacro REQUIRE_DEFINE VERSION
!insertmacro REQUIRE_DEFINE VERSION_QUAD
!insertmacro REQUIRE_DEFINE STAGE
!insertmacro REQUIRE_DEFINE SOUNDS_KIB
!insertmacro REQUIRE_DEFINE OUTFILE

Unicode true
!ifdef X86_64
    Target amd64-unicode
!else
    Target x86-unicode
!endif
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VLM"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The running program's main window and the request it answers by saving its settings and ending
; (shell/win32/single_instance.h).
!define WINDOW_CLASS "VLMForm1"
!define END_REQUEST "VLM.Vellimor.SaveAndEnd"
!define PUBLISHER "Vellimor"

Name "VLM"
OutFile "${OUTFILE}"
; No InstallDir: .onInit picks the folder, so that a folder given with /D= is told apart.
BrandingText "VLM ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=0 "ProductName" "VLM"
VIAddVersionKey /LANG=0 "FileDescription" "VLM ${VERSION} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${STAGE}\vlm.ico"
!define MUI_UNICON "${STAGE}\vlm.ico"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\VLM.exe"
!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first is used where the user's language is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "TradChinese"

LangString WelcomeText ${LANG_ENGLISH} "Setup will install VLM ${VERSION} for you alone, in your own programs folder: \
no administrator rights are needed.$\r$\n$\r$\nIf VLM is running, it is asked to save its settings and close; your \
settings and your own sounds are kept.$\r$\n$\r$\nClick Next to continue."
LangString WelcomeText ${LANG_TRADCHINESE} "安裝程式將為您一人安裝 VLM ${VERSION} 到您自己的程式資料夾，不需要系統管理員權限。\
$\r$\n$\r$\n若 VLM 正在執行，會先請它存檔並結束；您的設定與您自己的音效都會保留。$\r$\n$\r$\n按「下一步」繼續。"
LangString EndingCopy ${LANG_ENGLISH} "Asking the running VLM to save its settings and end"
LangString EndingCopy ${LANG_TRADCHINESE} "請執行中的 VLM 存檔並結束"
LangString WritingSounds ${LANG_ENGLISH} "Writing sounds:"
LangString WritingSounds ${LANG_TRADCHINESE} "寫入音效："
LangString CheckingSounds ${LANG_ENGLISH} "Checking the sounds"
LangString CheckingSounds ${LANG_TRADCHINESE} "檢查音效"
LangString SoundsFailed ${LANG_ENGLISH} "The sounds could not be written into $INSTDIR. Is there enough free space?"
LangString SoundsFailed ${LANG_TRADCHINESE} "無法將音效寫入 $INSTDIR。磁碟空間是否足夠？"
LangString SoundsDiffer ${LANG_ENGLISH} "The sounds written differ from the ones this installer was built with."
LangString SoundsDiffer ${LANG_TRADCHINESE} "寫入的音效與安裝程式所附的不同。"

Var WasRunning

; Asks the copy of VLM that runs from $INSTDIR to save its settings and end, and waits until it has gone; a copy
; running from another folder is left alone (its files are not touched). Sets $WasRunning to 1 when one ended.
!macro END_RUNNING_COPY prefix
Function ${prefix}EndRunningCopy
    StrCpy $WasRunning 0
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 == 0
        Return
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r2) i'
    ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x101000, i 0, i r2) p .r3'
    ${If} $3 P<> 0
        System::Call 'kernel32::QueryFullProcessImageNameW(p r3, i 0, w .r4, *i ${NSIS_MAX_STRLEN}) i .r5'
        ; Compared without regard to case, as Windows compares paths.
        ${If} $5 <> 0
        ${AndIf} $4 != "$INSTDIR\VLM.exe"
            System::Call 'kernel32::CloseHandle(p r3)'
            Return
        ${EndIf}
    ${EndIf}
    DetailPrint "$(EndingCopy)"
    System::Call 'user32::RegisterWindowMessageW(w "${END_REQUEST}") i .r1'
    ; SMTO_ABORTIFHUNG, five seconds
    System::Call 'user32::SendMessageTimeoutW(p r0, i r1, p 0, p 0, i 2, i 5000, *p .r6) p'
    ${If} $3 P<> 0
        System::Call 'kernel32::WaitForSingleObject(p r3, i 15000) i'
        System::Call 'kernel32::CloseHandle(p r3)'
    ${Else}
        Sleep 2000
    ${EndIf}
    StrCpy $WasRunning 1
FunctionEnd
!macroend
!insertmacro END_RUNNING_COPY ""
!insertmacro END_RUNNING_COPY "un."

Function .onInit
    SetShellVarContext current
    ${If} $INSTDIR != ""
        Return ; /D=folder
    ${EndIf}
    ; A reinstall goes where the last one went.
    ReadRegStr $INSTDIR HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $INSTDIR != ""
        Return
    ${EndIf}
    ; FOLDERID_UserProgramFiles, KF_FLAG_DONT_VERIFY (it need not exist yet)
    System::Call 'shell32::SHGetKnownFolderPath(g "{5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}", i 0x4000, p 0, *p .r1) i .r0'
    ${If} $0 = 0
        System::Call '*$1(&w${NSIS_MAX_STRLEN} .r2)'
        System::Call 'ole32::CoTaskMemFree(p r1)'
        StrCpy $INSTDIR "$2\VLM"
    ${Else}
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs\VLM"
    ${EndIf}
FunctionEnd

Function SoundsFailed
    MessageBox MB_OK|MB_ICONSTOP "$(SoundsFailed)" /SD IDOK
    SetErrorLevel 2
    Abort
FunctionEnd

Section "VLM"
    SetShellVarContext current
    Call EndRunningCopy

    SetOutPath "$INSTDIR"
    File "${STAGE}\VLM.exe"
    AddSize ${SOUNDS_KIB}
    ; The uninstaller and the Apps & features entry first: an install that stops half-way can be removed.
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "VLM"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VLM.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

    ; The bank, a few sounds per run of the synthesizer so that the progress bar moves.
    InitPluginsDir
    SetOutPath "$PLUGINSDIR"
    File "${STAGE}\vlm_synth.exe"
    File "${STAGE}\sounds.md5"
    SetOutPath "$INSTDIR"
    !include "${STAGE}\write-sounds.nsh"
    DetailPrint "$(CheckingSounds)"
    nsExec::ExecToLog '"$PLUGINSDIR\vlm_synth.exe" --verify "$INSTDIR" "$PLUGINSDIR\sounds.md5"'
    Pop $0
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "$(SoundsDiffer)" /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    Delete "$PLUGINSDIR\vlm_synth.exe"

    CreateShortCut "$SMPROGRAMS\VLM.lnk" "$INSTDIR\VLM.exe" "" "$INSTDIR\VLM.exe" 0
    ; What Apps & features shows: the folder as it now is, in KiB.
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A silent upgrade gives back the copy it ended (the finish page offers that otherwise).
    ${If} ${Silent}
    ${AndIf} $WasRunning == 1
        Exec '"$INSTDIR\VLM.exe"'
    ${EndIf}
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Call un.EndRunningCopy

    ; Exactly what the installer put here; the settings (vlm1.cfg) and any sound of the user's own stay, and so
    ; do the folders then.
    !include "${STAGE}\uninstall-files.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    Delete "$SMPROGRAMS\VLM.lnk"
    ; The start at logon, when it is this copy's (the program writes its quoted path).
    ReadRegStr $0 HKCU "${RUN_KEY}" "VLM"
    ${If} $0 == '"$INSTDIR\VLM.exe"'
    ${OrIf} $0 == "$INSTDIR\VLM.exe"
        DeleteRegValue HKCU "${RUN_KEY}" "VLM"
    ${EndIf}
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
