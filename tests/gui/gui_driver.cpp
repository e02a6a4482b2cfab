// Drives the real Ferrolyn.exe under Wine through window messages: start-up and the working
// folder, the entropy collection dialog, the seed file across runs, the two start-up errors, and
// the resources (every dialog template, the menu, the icon, the banner, the manifest). Saves one
// screenshot per dialog. Usage: gui_driver FERROLYN_EXE SCREENSHOT_FOLDER (Windows paths).
// Prints every failed check and ends with "N passed, N failed"; exits 1 when a check failed.

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui/resource_checks.h"
#include "tests/gui/checks.h"
#include "tests/gui/gui_support.h"

namespace {

using gui::check;
using gui::checkText;
using gui::controlText;
using gui::results;
using gui::settle;

constexpr wchar_t ENTROPY_CAPTION[] = L"Slumptalsinsamling";
constexpr wchar_t PROGRAM_CAPTION[] = L"Ferrolyn";
constexpr DWORD EXIT_TIMEOUT_MS = 60000;
// The length 516, the field length 512 and 512 seed bytes.
constexpr uint32_t SEED_FILE_SIZE = 4 + 4 + 512;
constexpr uint8_t SEED_FILE_START[] = {0x04, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};

// --- Paths and files ---

struct Paths {
    std::wstring program;
    std::wstring shots;
    std::wstring workFolder;  // local application data + "\QX_wd", where Ferrolyn keeps its files
    std::wstring seedFile;
};
Paths paths;

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<uint8_t> readFile(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    uint8_t buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(file);
    return bytes;
}

bool writeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    return CloseHandle(file) && ok;
}

// Removes the working folder with its files, or a plain file of that name.
void removeWorkFolder() {
    if (!exists(paths.workFolder)) return;
    if (!isFolder(paths.workFolder)) {
        SetFileAttributesW(paths.workFolder.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(paths.workFolder.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((paths.workFolder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = paths.workFolder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(paths.workFolder.c_str());
}

bool isSeedFile(const std::vector<uint8_t>& bytes) {
    return bytes.size() == SEED_FILE_SIZE &&
           std::equal(std::begin(SEED_FILE_START), std::end(SEED_FILE_START), bytes.begin());
}

void screenshot(const std::wstring& name) {
    Sleep(300);  // lets X draw what the windows have painted; the picture is for people, not a check
    check(gui::saveScreenshot(paths.shots + L"\\" + name + L".bmp"), "screenshot " + gui::narrow(name));
}

// --- The program under test ---

struct Program {
    PROCESS_INFORMATION info = {};
    bool running = false;
};

Program startProgram() {
    Program program;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + paths.program + L"\"";
    program.running = CreateProcessW(paths.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &program.info) != 0;
    check(program.running, "Ferrolyn.exe starts");
    if (program.running) WaitForInputIdle(program.info.hProcess, gui::WINDOW_TIMEOUT_MS);
    return program;
}

// The exit code, or STILL_ACTIVE after the process was ended because it did not exit in time.
DWORD waitForExit(Program& program) {
    if (!program.running) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(program.info.hProcess, EXIT_TIMEOUT_MS) == WAIT_OBJECT_0) {
        GetExitCodeProcess(program.info.hProcess, &code);
    } else {
        TerminateProcess(program.info.hProcess, 99);
        WaitForSingleObject(program.info.hProcess, EXIT_TIMEOUT_MS);
    }
    CloseHandle(program.info.hProcess);
    CloseHandle(program.info.hThread);
    program.running = false;
    return code;
}

void checkExitCode(Program& program, DWORD expected) {
    const DWORD code = waitForExit(program);
    check(code == expected, "exit code " + std::to_string(code) + ", expected " + std::to_string(expected));
}

// The main window: a dialog with the program's caption and the banner control.
HWND findMainWindow(DWORD pid) {
    HWND window = gui::findDialog(pid, PROGRAM_CAPTION);
    return window != nullptr && GetDlgItem(window, IDC_MAIN_BANNER) != nullptr ? window : nullptr;
}

// A message box of the program: a dialog with the program's caption and a message text.
HWND findMessageBox(DWORD pid) {
    HWND window = gui::findDialog(pid, PROGRAM_CAPTION);
    return window != nullptr && GetDlgItem(window, gui::MESSAGE_BOX_TEXT_ID) != nullptr ? window : nullptr;
}

void pressKey(HWND dialog, WPARAM key) {
    PostMessageW(dialog, WM_KEYDOWN, key, 1);
    PostMessageW(dialog, WM_KEYUP, key, 0xC0000001);
    settle(dialog);
}

// Enter and Escape, as keys and as the commands the dialog manager makes of them.
void pressEnterAndEscape(HWND dialog) {
    pressKey(dialog, VK_RETURN);
    pressKey(dialog, VK_ESCAPE);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    settle(dialog);
}

// Client position number i of a sequence in which neighbours always differ and no position
// repeats; all of them lie inside the entropy dialog.
POINT distinctPosition(int i) { return {20 + i % 300, 20 + i / 300}; }

void moveMouse(HWND dialog, int x, int y) {
    // Sent, not posted: the count has been updated when the call returns.
    SendMessageW(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
}

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
    return gui::waitFor([&] { return findMainWindow(pid); }, gui::WINDOW_TIMEOUT_MS,
                        [&] { sawEntropyDialog = sawEntropyDialog || gui::findDialog(pid, ENTROPY_CAPTION) != nullptr; });
}

// --- Scenarios ---

void checkMainWindowAtStart(HWND main) {
    struct ControlState {
        int id;
        bool enabled;
    };
    static const ControlState states[] = {
        {IDC_MAIN_METHOD_KEY_FILE, true},     {IDC_MAIN_KEY_FILE_PATH, true},        {IDC_MAIN_BROWSE_KEY_FILE, true},
        {IDC_MAIN_METHOD_KEY_CODE, true},     {IDC_MAIN_KEY_CODE, false},            {IDC_MAIN_CREATE_KEY_CODE, false},
        {IDC_MAIN_METHOD_PASSPHRASE, true},   {IDC_MAIN_PASSPHRASE, false},          {IDC_MAIN_PASSPHRASE_REPEAT, false},
        {IDC_MAIN_HIDE_PASSPHRASE, false},    {IDC_MAIN_CREATE_PASSPHRASE, false},   {IDC_MAIN_SOURCE_PATH, true},
        {IDC_MAIN_BROWSE_SOURCE, true},       {IDC_MAIN_DECRYPT, true},              {IDC_MAIN_ENCRYPT, true},
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: gui_driver FERROLYN_EXE SCREENSHOT_FOLDER\n");
        return 2;
    }
    paths.program = argv[1];
    paths.shots = argv[2];
    wchar_t localData[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, localData) != S_OK) {
        std::fprintf(stderr, "no local application data folder\n");
        return 2;
    }
    paths.workFolder = std::wstring(localData) + L"\\QX_wd";
    paths.seedFile = paths.workFolder + L"\\rand.bin";
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The pointer rests in a corner, away from every dialog, so that only our moves count.
    SetCursorPos(0, 0);

    startupErrors();
    firstRun();
    laterRuns();
    closeEntropyDialog();
    checkResources(paths.program, paths.shots);
    removeWorkFolder();

    std::printf("%d passed, %d failed\n", results.passed, results.failed);
    return results.failed == 0 ? 0 : 1;
}
