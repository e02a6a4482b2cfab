; Ferrolyn's Windows installer, in Swedish. Built on Linux by tools/package-windows.sh, which
; defines:
;   VERSION    the version of project(), e.g. 1.0.0
;   VIVERSION  the same as four numbers, e.g. 1.0.0.0 (the file-version resource needs four)
;   STAGE      the folder holding Ferrolyn.exe and ferrolyn-cli.exe
;   ICON       the program's icon, also used for the installer and the uninstaller
;   OUTFILE    the installer to write
;
; It installs for the current user only, without administrator rights, into the user's own
; Programs folder, adds a Start-menu shortcut, an entry in the list of installed programs and the
; ".encrypted" file type, and on request (the component "PATH", off by default, or /PATH on the
; command line) the install folder at the end of the user's PATH. The uninstaller takes back
; exactly that, and nothing in the working folder where Ferrolyn keeps the user's seed and
; settings.
;
; The same inputs give the same installer byte for byte: no build date or time is written
; (SetDateSave off; no ${__DATE__}, ${__TIME__} or ${__TIMESTAMP__}), and makensis takes the
; PE header's time from SOURCE_DATE_EPOCH.

Unicode true
ManifestDPIAware true
ManifestSupportedOS all
RequestExecutionLevel user
SetCompressor /SOLID lzma
SetDatablockOptimize on
SetDateSave off
CRCCheck on

!define PRODUCT "Ferrolyn"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define EXTENSION ".encrypted"
!define PROGID "Ferrolyn.encrypted"
!define CLASSES "Software\Classes"
; SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL): Explorer reloads the file types.
!define NOTIFY_ASSOCIATIONS "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; A new version goes where the previous one was installed.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VIVERSION}"
VIFileVersion "${VIVERSION}"
VIAddVersionKey /LANG=1053 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1053 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1053 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1053 "FileDescription" "Installationsprogram för ${PRODUCT} ${VERSION}"
VIAddVersionKey /LANG=1053 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1053 "LegalCopyright" "${PRODUCT}"
VIAddVersionKey /LANG=1053 "OriginalFilename" "${PRODUCT}-${VERSION}-setup.exe"

!include "MUI2.nsh"
!include "WinMessages.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Ferrolyn.exe"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Swedish"


; The user's PATH (HKCU\Environment). NSIS strings hold at most ${NSIS_MAX_STRLEN} characters,
; terminator included, and a longer value would be read cut short: its length is asked of the
; registry first, and a PATH that would not fit whole, with room for the two separators that
; FindPathEntry adds, is left as it is. PATH is never written from a string that was cut.
!define PATH_KEY "Environment"
; Where the entry we added is remembered for the uninstaller.
!define PATH_ENTRY_VALUE "PathEntry"

; Leaves on the stack: "" on success, else why PATH cannot be used; then the type (1 REG_SZ,
; 2 REG_EXPAND_SZ, 0 when there is no PATH yet) and the value.
!macro READ_PATH un
Function ${un}ReadPath
    Push $1
    Push $2
    Push $3
    ; RegGetValueW(HKEY_CURRENT_USER, "Environment", "Path", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ
    ; | RRF_NOEXPAND, &type, NULL, &bytes): the type and the size, terminator included.
    System::Call 'advapi32::RegGetValueW(p 0x80000001, w "${PATH_KEY}", w "Path", i 0x10000006, *i 0 r1, p 0, *i 0 r2) i .r3'
    StrCmp $3 2 absent
    StrCmp $3 0 0 unreadable
    ; Characters, with the terminator when the value has one: plus the two separators that may
    ; be added around it, and a terminator in case the value was stored without one.
    IntOp $2 $2 / 2
    IntOp $2 $2 + 3
    IntCmp $2 ${NSIS_MAX_STRLEN} 0 0 too_long
    ClearErrors
    ReadRegStr $2 HKCU "${PATH_KEY}" "Path"
    IfErrors unreadable
    StrCpy $3 ""
    Goto done
absent:
    StrCpy $1 0
    StrCpy $2 ""
    StrCpy $3 ""
    Goto done
too_long:
    StrCpy $3 "PATH är för lång för installationsprogrammet och lämnas som den är."
    Goto done
unreadable:
    StrCpy $3 "PATH kunde inte läsas (fel $3) och lämnas som den är."
done:
    ; Stack: value, type, message on top; the saved registers restored.
    Exch $3
    Exch
    Exch $2
    Exch 2
    Exch $1
    Exch
FunctionEnd
!macroend
!insertmacro READ_PATH ""
!insertmacro READ_PATH "un."

; In: the PATH value and an entry on the stack (entry on top). Out: the position of the entry as
; a whole element of the value (compared without regard to case), or -1, on the stack.
!macro FIND_PATH_ENTRY un
Function ${un}FindPathEntry
    Exch $1 ; entry
    Exch
    Exch $2 ; value
    Push $3
    Push $4
    Push $5
    StrCpy $2 ";$2;"
    StrCpy $1 ";$1;"
    StrLen $4 $1
    StrCpy $5 0
loop:
    StrCpy $3 $2 $4 $5
    StrCmp $3 "" not_found
    StrCmp $3 $1 found
    IntOp $5 $5 + 1
    Goto loop
not_found:
    StrCpy $5 -1
found:
    StrCpy $1 $5
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Exch $1
FunctionEnd
!macroend
!insertmacro FIND_PATH_ENTRY ""
!insertmacro FIND_PATH_ENTRY "un."

; Writes PATH with its type kept (a new one as REG_EXPAND_SZ, as Windows makes it); an empty one is
; removed. Then tells the running programs, Explorer first, that the environment changed.
!macro WRITE_PATH type value
    StrCmp "${value}" "" 0 +3
        DeleteRegValue HKCU "${PATH_KEY}" "Path"
        Goto +5
    StrCmp ${type} 1 +3
        WriteRegExpandStr HKCU "${PATH_KEY}" "Path" "${value}"
        Goto +2
        WriteRegStr HKCU "${PATH_KEY}" "Path" "${value}"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

Section "${PRODUCT}" SectionProgram
    SectionIn RO
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/Ferrolyn.exe"
    File "${STAGE}/ferrolyn-cli.exe"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Ferrolyn.exe" "" "$INSTDIR\Ferrolyn.exe" 0 \
        SW_SHOWNORMAL "" "Kryptera och dekryptera filer"

    ; The entry in the list of installed programs. EstimatedSize is in KiB.
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\Ferrolyn.exe",0'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize ${SectionProgram} $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; ".encrypted" opens in Ferrolyn, for this user. The type is also listed under
    ; OpenWithProgids, so that "Öppna med" offers Ferrolyn should another program take over
    ; the default later.
    WriteRegStr HKCU "${CLASSES}\${EXTENSION}" "" "${PROGID}"
    WriteRegStr HKCU "${CLASSES}\${EXTENSION}\OpenWithProgids" "${PROGID}" ""
    WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "Krypterad fil (${PRODUCT})"
    WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" '"$INSTDIR\Ferrolyn.exe",0'
    WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\Ferrolyn.exe" "%1"'
    System::Call '${NOTIFY_ASSOCIATIONS}'
SectionEnd

; Off by default: PATH reaches every program of the user, and the desktop program needs none.
Section /o "ferrolyn-cli.exe i PATH" SectionPath
    Call ReadPath
    Pop $0 ; message
    Pop $1 ; type
    Pop $2 ; value
    StrCmp $0 "" 0 refused
    Push $2
    Push "$INSTDIR"
    Call FindPathEntry
    Pop $3
    ; Already there: nothing to add, nor to take away later.
    IntCmp $3 -1 0 done done
    StrCmp $2 "" 0 +3
        StrCpy $2 "$INSTDIR"
        Goto write
    ; No empty element when PATH ends in a separator already.
    StrCpy $3 $2 1 -1
    StrCmp $3 ";" +2
        StrCpy $2 "$2;"
    ; The longer PATH must fit whole, with room for FindPathEntry's separators, or it stays as
    ; it is: StrCpy would cut it short without a word.
    StrLen $3 $2
    StrLen $4 "$INSTDIR"
    IntOp $3 $3 + $4
    IntOp $3 $3 + 3
    IntCmp $3 ${NSIS_MAX_STRLEN} +3 +3 0
        StrCpy $0 "PATH blir för lång för installationsprogrammet och lämnas som den är."
        Goto refused
    StrCpy $2 "$2$INSTDIR"
write:
    !insertmacro WRITE_PATH $1 $2
    WriteRegStr HKCU "${UNINSTALL_KEY}" "${PATH_ENTRY_VALUE}" "$INSTDIR"
    Goto done
refused:
    DetailPrint "$0"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$0 Lägg till $INSTDIR i PATH för hand om du vill nå ferrolyn-cli.exe därifrån." /SD IDOK
done:
SectionEnd

LangString DESC_PROGRAM ${LANG_SWEDISH} "Skrivbordsprogrammet Ferrolyn.exe och kommandoradsverktyget ferrolyn-cli.exe, med genväg i Start-menyn och filtypen .encrypted."
LangString DESC_PATH ${LANG_SWEDISH} "Lägger till installationsmappen sist i din PATH, så att ferrolyn-cli.exe kan startas från Kommandotolken i vilken mapp som helst."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SectionProgram} $(DESC_PROGRAM)
    !insertmacro MUI_DESCRIPTION_TEXT ${SectionPath} $(DESC_PATH)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; /PATH on the command line selects the PATH component, also for a silent install.
Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PATH" $1
    IfErrors +2
        SectionSetFlags ${SectionPath} ${SF_SELECTED}
FunctionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"

    ; The file type: our own class goes; ".encrypted" is left to a program that has made it its
    ; own since, and removed only when nothing else is left in it.
    DeleteRegKey HKCU "${CLASSES}\${PROGID}"
    DeleteRegValue HKCU "${CLASSES}\${EXTENSION}\OpenWithProgids" "${PROGID}"
    DeleteRegKey /ifempty HKCU "${CLASSES}\${EXTENSION}\OpenWithProgids"
    ReadRegStr $0 HKCU "${CLASSES}\${EXTENSION}" ""
    StrCmp $0 "${PROGID}" 0 +2
        DeleteRegValue HKCU "${CLASSES}\${EXTENSION}" ""
    DeleteRegKey /ifempty HKCU "${CLASSES}\${EXTENSION}"
    System::Call '${NOTIFY_ASSOCIATIONS}'

    ; PATH: only the entry the installer added, where it still is a whole element.
    ReadRegStr $4 HKCU "${UNINSTALL_KEY}" "${PATH_ENTRY_VALUE}"
    StrCmp $4 "" path_done
    Call un.ReadPath
    Pop $0
    Pop $1
    Pop $2
    StrCmp $0 "" +3
        DetailPrint "$0 Ta bort $4 ur PATH för hand."
        Goto path_done
    Push $2
    Push $4
    Call un.FindPathEntry
    Pop $3
    IntCmp $3 -1 path_done
    ; In ";value;" the element starts at $3 + 1 and its separators are at $3 and after it: keep
    ; what comes before the first and after the second, with one separator between them, then
    ; drop the two added around the value.
    StrCpy $2 ";$2;"
    StrLen $5 $4
    StrCpy $6 $2 $3
    IntOp $5 $3 + $5
    IntOp $5 $5 + 1
    StrCpy $7 $2 "" $5
    StrCpy $2 "$6$7"
    StrCpy $2 $2 "" 1
    StrCpy $2 $2 -1
    !insertmacro WRITE_PATH $1 $2
path_done:

    DeleteRegKey HKCU "${UNINSTALL_KEY}"

    ; Only the files we put there, and the folder only when that leaves it empty: a folder the
    ; user chose may hold other things. The seed and settings live elsewhere (the working folder
    ; in the local application data) and stay.
    Delete "$INSTDIR\Ferrolyn.exe"
    Delete "$INSTDIR\ferrolyn-cli.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
