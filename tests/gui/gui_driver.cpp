// Drives the real Ferrolyn.exe under Wine through window messages: start-up and the working
// folder, the entropy collection dialog, the seed file across runs, the two start-up errors, the
// resources (every dialog template, the menu, the icon, the banner, the manifest), then the user's
// workflow and the secondary dialogs (workflow_scenarios, dialog_scenarios). Saves one screenshot
// per dialog. Usage: gui_driver FERROLYN_EXE SCREENSHOT_FOLDER TOOL_EXE SCRATCH_FOLDER (Windows
// paths; TOOL_EXE is the command-line tool ferrolyn-cli.exe, SCRATCH_FOLDER an empty folder).
// Prints every failed check and ends with "N passed, N failed"; exits 1 when a check failed.

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui/dialog_scenarios.h"
#include "tests/gui/resource_checks.h"
#include "tests/gui/workflow_scenarios.h"
#include "tests/gui/checks.h"
#include "tests/gui/gui_support.h"
#include "tests/gui/program_support.h"

namespace {

using namespace gui;

constexpr wchar_t ENTROPY_CAPTION[] = L"Slumptalsinsamling";
// The length 516, the field length 512 and 512 seed bytes.
constexpr uint32_t SEED_FILE_SIZE = 4 + 4 + 512;
constexpr uint8_t SEED_FILE_START[] = {0x04, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};

bool isSeedFile(const std::vector<uint8_t>& bytes) {
    return bytes.size() == SEED_FILE_SIZE &&
           std::equal(std::begin(SEED_FILE_START), std::end(SEED_FILE_START), bytes.begin());
}

// Client position number i of a sequence in which neighbours always differ and no position
// repeats; all of them lie inside the entropy dialog.
POINT distinctPosition(int i) { return {20 + i % 300, 20 + i / 300}; }

// Feeds count distinct positions, starting at sequence number first.
void feedPositions(HWND dialog, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        const POINT p = distinctPosition(i);
        moveMouse(dialog, p.x, p.y);
    }
}

// Starts Ferrolyn without a seed file and waits for the entropy dialog.
HWND startWithoutSeed(Program& program) {
    removeWorkFolder();
    program = startProgram();
    HWND dialog = program.running ? gui::waitForDialog(program.info.dwProcessId, ENTROPY_CAPTION) : nullptr;
    check(dialog != nullptr, "the entropy collection dialog appears");
    return dialog;
}

// Waits for the main window, noting whether the entropy dialog showed up meanwhile.
HWND waitForMainWindow(const Program& program, bool& sawEntropyDialog) {
    const DWORD pid = program.info.dwProcessId;
    return gui::waitFor(
        [&] { return findMainWindow(pid); }, gui::WINDOW_TIMEOUT_MS,
        [&] { sawEntropyDialog = sawEntropyDialog || gui::findDialog(pid, ENTROPY_CAPTION) != nullptr; });
}

// --- Scenarios ---

void checkMainWindowAtStart(HWND main) {
    struct ControlState {
        int id;
        bool enabled;
    };
    static const ControlState states[] = {
        {IDC_MAIN_METHOD_KEY_FILE, true},
        {IDC_MAIN_KEY_FILE_PATH, true},
        {IDC_MAIN_BROWSE_KEY_FILE, true},
        {IDC_MAIN_METHOD_KEY_CODE, true},
        {IDC_MAIN_KEY_CODE, false},
        {IDC_MAIN_CREATE_KEY_CODE, false},
        {IDC_MAIN_METHOD_PASSPHRASE, true},
        {IDC_MAIN_PASSPHRASE, false},
        {IDC_MAIN_PASSPHRASE_REPEAT, false},
        {IDC_MAIN_HIDE_PASSPHRASE, false},
        {IDC_MAIN_CREATE_PASSPHRASE, false},
        {IDC_MAIN_SOURCE_PATH, true},
        {IDC_MAIN_BROWSE_SOURCE, true},
        {IDC_MAIN_DECRYPT, true},
        {IDC_MAIN_ENCRYPT, true},
        {IDC_MAIN_EXIT, true},
    };
    for (const ControlState& state : states) {
        HWND control = GetDlgItem(main, state.id);
        check(control != nullptr && (IsWindowEnabled(control) != 0) == state.enabled,
              "main window control " + std::to_string(state.id) + (state.enabled ? " enabled" : " disabled"));
    }
    auto checked = [&](int id) { return SendMessageW(GetDlgItem(main, id), BM_GETCHECK, 0, 0) == BST_CHECKED; };
    check(checked(IDC_MAIN_METHOD_KEY_FILE), "\"Nyckelfil\" is checked");
    check(checked(IDC_MAIN_HIDE_PASSPHRASE), "\"Dölj lösenfrasen\" is checked");
    check(!checked(IDC_MAIN_METHOD_KEY_CODE) && !checked(IDC_MAIN_METHOD_PASSPHRASE), "the other methods are not");
    check(gui::centredOnDesktop(main), "the main window is centred on the desktop");
    check(GetMenu(main) != nullptr, "the main window has its menu");

    // The three methods are one group of automatic radio buttons: choosing one clears the others.
    // A posted click is handled when the program gets to it, and Wine clicks through mouse messages:
    // wait for the group to reach the state rather than reading it once.
    auto chosenAlone = [&](int chosen, int other) {
        return gui::waitFor([&] { return checked(chosen) && !checked(other) ? main : nullptr; }) != nullptr;
    };
    gui::clickControl(main, IDC_MAIN_METHOD_PASSPHRASE);
    settle(main);
    check(chosenAlone(IDC_MAIN_METHOD_PASSPHRASE, IDC_MAIN_METHOD_KEY_FILE),
          "choosing \"Lösenfras\" clears \"Nyckelfil\"");
    gui::clickControl(main, IDC_MAIN_METHOD_KEY_FILE);
    settle(main);
    check(chosenAlone(IDC_MAIN_METHOD_KEY_FILE, IDC_MAIN_METHOD_PASSPHRASE),
          "choosing \"Nyckelfil\" clears \"Lösenfras\"");

    pressEnterAndEscape(main);
    check(IsWindowVisible(main), "Enter and Escape leave the main window open");
}

void firstRun() {
    results.scenario = "first run";
    Program program;
    HWND dialog = startWithoutSeed(program);
    if (dialog == nullptr) {
        waitForExit(program);
        return;
    }
    HWND button = GetDlgItem(dialog, IDC_ENTROPY_CONTINUE);
    check(isFolder(paths.workFolder), "the working folder QX_wd was created");
    check(!exists(paths.seedFile), "no seed file yet");
    check(gui::centredOnDesktop(dialog), "the entropy dialog is centred on the desktop");
    check(!IsWindowEnabled(button), "\"Fortsätt\" starts disabled");
    checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"0 /  1024", "counter at start");
    checkText(gui::windowText(button), L"Fortsätt", "button text");
    screenshot(L"entropy_dialog");

    pressEnterAndEscape(dialog);
    check(IsWindowVisible(dialog) && !IsWindowEnabled(button), "Enter and Escape do nothing");

    // A repeated position adds nothing; going back to an earlier one counts again.
    moveMouse(dialog, 10, 10);
    checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"1 / 1024", "counter after one move");
    moveMouse(dialog, 10, 10);
    checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"1 / 1024", "counter after the same position again");
    moveMouse(dialog, 11, 10);
    moveMouse(dialog, 10, 10);
    checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"3 / 1024", "counter after moving back and forth");

    feedPositions(dialog, 0, 1020);
    checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"1023 / 1024", "counter after 1023 positions");
    check(!IsWindowEnabled(button), "\"Fortsätt\" still disabled at 1023");
    feedPositions(dialog, 1020, 1);
    check(IsWindowEnabled(button) != 0, "\"Fortsätt\" enabled at 1024");
    checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"", "counter cleared at 1024");
    screenshot(L"entropy_dialog_ready");

    gui::clickButton(button);
    HWND main = gui::waitFor([&] { return findMainWindow(program.info.dwProcessId); });
    check(main != nullptr, "\"Fortsätt\" leads to the main window");
    const std::vector<uint8_t> seedAtMain = readFile(paths.seedFile);
    check(isSeedFile(seedAtMain), "a 520-byte seed file starting 04 02 00 00 00 02 00 00 exists");
    if (main != nullptr) {
        checkMainWindowAtStart(main);
        screenshot(L"main_window");
        PostMessageW(main, WM_CLOSE, 0, 0);
    }
    checkExitCode(program, 0);
    const std::vector<uint8_t> seedAtExit = readFile(paths.seedFile);
    check(isSeedFile(seedAtExit) && seedAtExit != seedAtMain, "the seed file is rewritten at exit");
}

// With a seed file the main window opens at once, the seed file has been replaced before it
// does, and every way of closing it rewrites the seed file once more.
void laterRuns() {
    struct CloseWay {
        const char* name;
        void (*close)(HWND main);
    };
    static const CloseWay ways[] = {
        {"close box", [](HWND main) { PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"\"Avsluta\" button", [](HWND main) { gui::clickControl(main, IDC_MAIN_EXIT); }},
        {"menu Arkiv > Avsluta", [](HWND main) { PostMessageW(main, WM_COMMAND, IDM_EXIT, 0); }},
    };
    for (const CloseWay& way : ways) {
        results.scenario = std::string("later run, closed by ") + way.name;
        const std::vector<uint8_t> before = readFile(paths.seedFile);
        check(isSeedFile(before), "a seed file from the run before");
        Program program = startProgram();
        bool sawEntropyDialog = false;
        HWND main = program.running ? waitForMainWindow(program, sawEntropyDialog) : nullptr;
        check(main != nullptr, "the main window opens");
        check(!sawEntropyDialog, "no entropy dialog");
        const std::vector<uint8_t> atMain = readFile(paths.seedFile);
        check(isSeedFile(atMain) && atMain != before, "the seed file was replaced before the main window appeared");
        if (main != nullptr) way.close(main);
        checkExitCode(program, 0);
        const std::vector<uint8_t> atExit = readFile(paths.seedFile);
        check(isSeedFile(atExit) && atExit != atMain, "the seed file is rewritten at exit");
    }
}

// Closing the entropy dialog: one short of the threshold ends the program; at the threshold the
// close box counts as "Fortsätt".
void closeEntropyDialog() {
    {
        results.scenario = "entropy dialog closed at 1023";
        Program program;
        HWND dialog = startWithoutSeed(program);
        if (dialog != nullptr) {
            feedPositions(dialog, 0, 1023);
            checkText(controlText(dialog, IDC_ENTROPY_COUNTER), L"1023 / 1024", "counter");
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        bool sawMain = false;
        const DWORD pid = program.info.dwProcessId;
        gui::waitFor([&] { return WaitForSingleObject(program.info.hProcess, 0) == WAIT_OBJECT_0 ? HWND(1) : nullptr; },
                     EXIT_TIMEOUT_MS, [&] { sawMain = sawMain || findMainWindow(pid) != nullptr; });
        checkExitCode(program, 0);
        check(!sawMain, "no main window");
        check(!exists(paths.seedFile), "no seed file");
    }
    {
        results.scenario = "entropy dialog closed at 1024";
        Program program;
        HWND dialog = startWithoutSeed(program);
        if (dialog != nullptr) {
            feedPositions(dialog, 0, 1024);
            PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        HWND main = gui::waitFor([&] { return findMainWindow(program.info.dwProcessId); });
        check(main != nullptr, "the main window opens");
        check(isSeedFile(readFile(paths.seedFile)), "the seed file was written");
        if (main != nullptr) PostMessageW(main, WM_CLOSE, 0, 0);
        checkExitCode(program, 0);
    }
}

// A file named on the command line ("Öppna med", a file association, a file dropped on the
// program's icon) lands in a field by the rule for dropped files, whatever its script; without an
// argument both fields start empty.
void commandLineArgument() {
    struct Row {
        const char* name;
        std::wstring argument;
        std::wstring source;
        std::wstring keyFile;
    };
    const std::wstring folder = paths.scratch + L"\\";
    const Row rows[] = {
        {"no argument", L"", L"", L""},
        {"a key file", folder + L"arkiv.key", L"", folder + L"arkiv.key"},
        {"a source", folder + L"rapport.pdf.encrypted", folder + L"rapport.pdf.encrypted", L""},
        {"a Polish name", folder + L"Łódź żółw.txt", folder + L"Łódź żółw.txt", L""},
        {"a Chinese name", folder + L"钥匙 文件.key", L"", folder + L"钥匙 文件.key"},
    };
    for (const Row& row : rows) {
        results.scenario = std::string("command line: ") + row.name;
        Program program = startProgram(row.argument);
        bool sawEntropyDialog = false;
        HWND main = program.running ? waitForMainWindow(program, sawEntropyDialog) : nullptr;
        check(main != nullptr, "the main window opens");
        if (main != nullptr) {
            checkText(controlText(main, IDC_MAIN_SOURCE_PATH), row.source, "source field");
            checkText(controlText(main, IDC_MAIN_KEY_FILE_PATH), row.keyFile, "key-file field");
            check(IsDlgButtonChecked(main, IDC_MAIN_METHOD_KEY_FILE) == BST_CHECKED, "the key method is as always");
            PostMessageW(main, WM_CLOSE, 0, 0);
        }
        checkExitCode(program, 0);
    }
}

// The main window at the display's DPI (Wine's LogPixels; run_gui_tests.sh runs this at 96, 144 and
// 192): the banner is stretched to its frame, as wide as the group boxes below it, and every
// control lies inside the dialog. The screenshot of each is for people to look at.
void mainWindowLayout() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    results.scenario = "main window at " + std::to_string(dpi) + " DPI";
    check(prepareWorkFolder(), "a working folder with a seed file");
    Program program = startProgram();
    bool sawEntropyDialog = false;
    HWND main = program.running ? waitForMainWindow(program, sawEntropyDialog) : nullptr;
    check(main != nullptr, "the main window opens");
    if (main != nullptr) {
        RECT client;
        GetClientRect(main, &client);
        // Child windows in the dialog's client coordinates.
        auto placed = [main](HWND control) {
            RECT rect;
            GetWindowRect(control, &rect);
            MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&rect), 2);
            return rect;
        };
        const RECT banner = placed(GetDlgItem(main, IDC_MAIN_BANNER));
        int groupWidth = 0;
        int groupHeight = 0;
        int outside = 0;
        for (HWND child = GetWindow(main, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            const RECT rect = placed(child);
            if (rect.left < 0 || rect.top < 0 || rect.right > client.right || rect.bottom > client.bottom) {
                ++outside;
                check(false, "control " + std::to_string(GetDlgCtrlID(child)) + " lies outside the dialog");
            }
            const LONG style = GetWindowLongW(child, GWL_STYLE);
            if (className(child) == L"Button" && (style & BS_TYPEMASK) == BS_GROUPBOX && groupWidth == 0) {
                groupWidth = rect.right - rect.left;
                groupHeight = rect.bottom - rect.top;
            }
        }
        check(outside == 0, "every control lies inside the dialog");
        const int bannerWidth = banner.right - banner.left;
        check(groupWidth > 0, "the main window has its group boxes");
        // The banner's frame in the template is 359 x 57 dialog units, the first group box's 360 x
        // 171: measured in the group box's pixels, the banner must fill that frame. A bitmap
        // static without SS_REALSIZECONTROL shrinks to its bitmap's 539 x 92 pixels instead.
        const int expectedWidth = groupWidth * 359 / 360;
        const int expectedHeight = groupHeight * 57 / 171;
        const int bannerHeight = banner.bottom - banner.top;
        check(std::abs(bannerWidth - expectedWidth) <= expectedWidth / 100 + 2 &&
                  std::abs(bannerHeight - expectedHeight) <= expectedHeight / 100 + 2,
              "the banner is " + std::to_string(bannerWidth) + " x " + std::to_string(bannerHeight) +
                  " pixels, its frame " + std::to_string(expectedWidth) + " x " + std::to_string(expectedHeight) +
                  " at " + std::to_string(dpi) + " DPI");
        screenshot(L"main_window_" + std::to_wstring(dpi) + L"dpi");
        PostMessageW(main, WM_CLOSE, 0, 0);
    }
    checkExitCode(program, 0);
    removeWorkFolder();
}

// A start-up failure: one message box with no owner, the caption "Ferrolyn", the text and an OK
// button, then exit code 1 and no main window.
void checkStartupError(const std::wstring& text, const std::wstring& shotName) {
    Program program = startProgram();
    if (!program.running) return;
    const DWORD pid = program.info.dwProcessId;
    HWND box = gui::waitFor([&] { return findMessageBox(pid); });
    check(box != nullptr, "a message box appears");
    if (box != nullptr) {
        checkText(controlText(box, gui::MESSAGE_BOX_TEXT_ID), text, "message");
        check(GetWindow(box, GW_OWNER) == nullptr, "the message box has no owner");
        HWND ok = GetDlgItem(box, IDOK);
        check(ok != nullptr && IsWindowVisible(ok), "it has an OK button");
        for (int other : {IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE}) {
            HWND button = GetDlgItem(box, other);
            check(button == nullptr || !IsWindowVisible(button), "no other button (" + std::to_string(other) + ")");
        }
        check(gui::centredOnDesktop(box), "the message box is centred");
        screenshot(shotName);
        gui::clickButton(ok);
    }
    checkExitCode(program, 1);
    check(findMainWindow(pid) == nullptr, "no main window");
}

void startupErrors() {
    results.scenario = "a plain file named QX_wd";
    removeWorkFolder();
    check(writeFile(paths.workFolder, {'x'}), "made the file QX_wd");
    checkStartupError(L"Fel: Kunde inte välja arbetsmapp!", L"error_working_folder");
    check(!isFolder(paths.workFolder), "QX_wd is still a plain file");
    removeWorkFolder();

    results.scenario = "a read-only seed file";
    CreateDirectoryW(paths.workFolder.c_str(), nullptr);
    std::vector<uint8_t> seed(std::begin(SEED_FILE_START), std::end(SEED_FILE_START));
    for (int i = 0; i < 512; ++i) seed.push_back(static_cast<uint8_t>(i * 7 + 3));
    check(writeFile(paths.seedFile, seed), "made a valid seed file");
    SetFileAttributesW(paths.seedFile.c_str(), FILE_ATTRIBUTE_READONLY);
    // Wine leaves the read-only attribute to Unix permissions, which do not stop root (as CI runs).
    // A handle that shares the file for reading only refuses every writer, whoever runs us.
    HANDLE holder = CreateFileW(paths.seedFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    check(holder != INVALID_HANDLE_VALUE, "held the seed file against writing");
    checkStartupError(L"Fel: Kunde inte initiera slumptalsgenerator!", L"error_random_generator");
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    check(readFile(paths.seedFile) == seed, "the read-only seed file is unchanged");
    removeWorkFolder();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: gui_driver FERROLYN_EXE SCREENSHOT_FOLDER TOOL_EXE SCRATCH_FOLDER\n");
        return 2;
    }
    paths.program = argv[1];
    paths.shots = argv[2];
    paths.tool = argv[3];
    paths.scratch = argv[4];
    wchar_t localData[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, localData) != S_OK) {
        std::fprintf(stderr, "no local application data folder\n");
        return 2;
    }
    paths.workFolder = std::wstring(localData) + L"\\QX_wd";
    paths.seedFile = paths.workFolder + L"\\rand.bin";
    paths.settingsFile = paths.workFolder + L"\\config.bin";
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The pointer rests in a corner, away from every dialog, so that only our moves count.
    SetCursorPos(0, 0);

    // GUI_SCENARIOS=workflow,dialogs (a comma-separated list of groups) runs only those groups,
    // for a quicker turn while working on one of them; unset runs everything.
    wchar_t only[256] = {};
    const std::wstring chosen = GetEnvironmentVariableW(L"GUI_SCENARIOS", only, 256) > 0 ? only : L"";
    auto wanted = [&](const std::wstring& group) {
        return chosen.empty() || (L"," + chosen + L",").find(L"," + group + L",") != std::wstring::npos;
    };
    if (wanted(L"startup")) {
        startupErrors();
        firstRun();
        laterRuns();
        commandLineArgument();
        closeEntropyDialog();
    }
    if (wanted(L"resources")) checkResources(paths.program, paths.shots);
    if (wanted(L"layout")) mainWindowLayout();
    if (wanted(L"workflow")) runWorkflowScenarios();
    if (wanted(L"dialogs")) runDialogScenarios();
    removeWorkFolder();

    std::printf("%d passed, %d failed\n", results.passed, results.failed);
    return results.failed == 0 ? 0 : 1;
}
