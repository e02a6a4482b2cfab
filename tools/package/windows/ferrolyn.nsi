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
; ".encrypted" file type. The uninstaller takes back exactly that, and nothing in the working
; folder where Ferrolyn keeps the user's seed and settings.
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

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Ferrolyn.exe"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Swedish"

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

    DeleteRegKey HKCU "${UNINSTALL_KEY}"

    ; Only the files we put there, and the folder only when that leaves it empty: a folder the
    ; user chose may hold other things. The seed and settings live elsewhere (the working folder
    ; in the local application data) and stay.
    Delete "$INSTDIR\Ferrolyn.exe"
    Delete "$INSTDIR\ferrolyn-cli.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
