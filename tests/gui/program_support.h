// What every scenario of the Ferrolyn.exe driver shares: the paths of the run, files on disk, the
// program under test as a process, its main window and message boxes, keys and mouse moves.
// Header-only, on top of gui_support.h and checks.h.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui/checks.h"
#include "tests/gui/gui_support.h"

namespace gui {

constexpr wchar_t PROGRAM_CAPTION[] = L"Ferrolyn";
constexpr DWORD EXIT_TIMEOUT_MS = 60000;
// A run of the command-line tool on a large file under Wine; the wait ends when the tool does.
constexpr DWORD TOOL_TIMEOUT_MS = 600000;

// --- Paths and files ---

struct Paths {
    std::wstring program;     // Ferrolyn.exe
    std::wstring shots;       // screenshots go here
    std::wstring tool;        // the command-line tool ferrolyn-cli.exe
    std::wstring scratch;     // a folder of the driver's own for source, target and key files
    std::wstring workFolder;  // local application data + "\QX_wd", where Ferrolyn keeps its files
    std::wstring seedFile;
    std::wstring settingsFile;
};
inline Paths paths;

inline bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline std::vector<uint8_t> readFile(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    uint8_t buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    CloseHandle(file);
    return bytes;
}

inline bool writeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    return CloseHandle(file) && ok;
}

// Removes the files of folder (not its subfolders) and then the folder; a plain file of that name
// is removed too.
inline void removeFolder(const std::wstring& folder) {
    if (!exists(folder)) return;
    if (!isFolder(folder)) {
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(folder.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

inline void removeWorkFolder() { removeFolder(paths.workFolder); }

// A fresh working folder holding only a valid seed file (length 516, a 512-byte field), so that
// Ferrolyn starts with a ready generator and no settings file: straight to the main window, with
// AES-256 and no compression.
inline bool prepareWorkFolder() {
    removeWorkFolder();
    CreateDirectoryW(paths.workFolder.c_str(), nullptr);
    std::vector<uint8_t> seed = {0x04, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
    for (int i = 0; i < 512; ++i) seed.push_back(static_cast<uint8_t>(i * 13 + 5));
    return writeFile(paths.seedFile, seed);
}

// Writes "config.bin" as the settings dialog would: cipher 0 (AES-256) or 1 (Serpent), compress.
inline bool writeSettingsFile(int cipher, bool compress) {
    const uint8_t compressByte = compress ? 1 : 0;
    return writeFile(paths.settingsFile, {0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(cipher), compressByte});
}

// The names in folder, "." and ".." left out.
inline std::vector<std::wstring> folderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

inline void screenshot(const std::wstring& name) {
    Sleep(300);  // lets X draw what the windows have painted; the picture is for people, not a check
    check(saveScreenshot(paths.shots + L"\\" + name + L".bmp"), "screenshot " + narrow(name));
}

// --- The program under test ---

struct Program {
    PROCESS_INFORMATION info = {};
    bool running = false;
};

// Starts Ferrolyn.exe, with argument (quoted) on its command line when one is given.
inline Program startProgram(const std::wstring& argument = L"") {
    Program program;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + paths.program + L"\"";
    if (!argument.empty()) commandLine += L" \"" + argument + L"\"";
    program.running = CreateProcessW(paths.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &program.info) != 0;
    check(program.running, "Ferrolyn.exe starts");
    if (program.running) WaitForInputIdle(program.info.hProcess, WINDOW_TIMEOUT_MS);
    return program;
}

// The exit code, or STILL_ACTIVE after the process was ended because it did not exit in time.
inline DWORD waitForExit(Program& program) {
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

inline void checkExitCode(Program& program, DWORD expected) {
    const DWORD code = waitForExit(program);
    check(code == expected, "exit code " + std::to_string(code) + ", expected " + std::to_string(expected));
}

struct ProgramWindowSearch {
    DWORD pid;
    int controlId;  // a control that the wanted dialog has
    bool visibleOnly;
    HWND found;
};

inline BOOL CALLBACK matchProgramWindow(HWND candidate, LPARAM parameter) {
    auto* s = reinterpret_cast<ProgramWindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(candidate, &owner);
    if (owner == s->pid && (!s->visibleOnly || IsWindowVisible(candidate)) && className(candidate) == DIALOG_CLASS &&
        windowText(candidate) == PROGRAM_CAPTION && GetDlgItem(candidate, s->controlId) != nullptr) {
        s->found = candidate;
        return FALSE;
    }
    return TRUE;
}

// A top-level dialog of process pid with the program's caption and a control with this id: the
// main window, the progress dialog, the about dialog and message boxes all share the caption.
inline HWND findProgramDialog(DWORD pid, int controlId, bool visibleOnly = true) {
    ProgramWindowSearch search = {pid, controlId, visibleOnly, nullptr};
    EnumWindows(matchProgramWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The main window: the dialog with the banner control (found while disabled or behind others).
inline HWND findMainWindow(DWORD pid) { return findProgramDialog(pid, IDC_MAIN_BANNER); }

// A message box of the program: a visible dialog with the program's caption and a message text.
inline HWND findMessageBox(DWORD pid) { return findProgramDialog(pid, MESSAGE_BOX_TEXT_ID); }

// Where a dialog belongs when it is centred over the main window: halves rounded toward zero, a
// negative left or top made 0.
inline POINT centredOverMain(HWND main, HWND dialog) {
    RECT m, w;
    GetWindowRect(main, &m);
    GetWindowRect(dialog, &w);
    const LONG left = m.left + (m.right - m.left - (w.right - w.left)) / 2;
    const LONG top = m.top + (m.bottom - m.top - (w.bottom - w.top)) / 2;
    return {left < 0 ? 0 : left, top < 0 ? 0 : top};
}

// --- Dropped files ---

// Drops names onto window the way the shell does: a DROPFILES block with wide names, in memory of
// the receiving process, handed over with WM_DROPFILES. The block starts on a page boundary, so that
// GlobalLock takes it for a fixed block. DragFinish cannot free pages it did not allocate; under
// Wine that leaves the pages with the process and the program running, which each drop checks.
inline bool dropFiles(const Program& program, HWND window, const std::vector<std::wstring>& names) {
    std::vector<uint8_t> block(sizeof(DROPFILES), 0);
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    for (const std::wstring& name : names) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(name.c_str());
        block.insert(block.end(), bytes, bytes + (name.size() + 1) * sizeof(wchar_t));
    }
    block.insert(block.end(), sizeof(wchar_t), 0);
    void* remote =
        VirtualAllocEx(program.info.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr) return false;
    SIZE_T written = 0;
    if (!WriteProcessMemory(program.info.hProcess, remote, block.data(), block.size(), &written) ||
        written != block.size()) {
        return false;
    }
    // Sent rather than posted as the shell does, so that the drop has been handled when the call returns.
    DWORD_PTR ignored;
    return SendMessageTimeoutW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0, SMTO_NORMAL,
                               WINDOW_TIMEOUT_MS, &ignored) != 0;
}

// --- The command-line tool ---

inline std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

struct ToolRun {
    DWORD status = STILL_ACTIVE;  // STILL_ACTIVE: could not be run, or did not end in time
    std::string output;           // standard output and standard error together
};

// Runs the tool (paths.tool) with arguments and waits for it. Its output goes through a file in
// the temporary folder, away from every folder whose listing a scenario compares.
inline ToolRun runTool(const std::wstring& arguments) {
    ToolRun run;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring outputPath = std::wstring(temp) + L"ferrolyn-tool-output.txt";
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = quoted(paths.tool) + L" " + arguments;
    if (CreateProcessW(paths.tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &info)) {
        if (WaitForSingleObject(info.hProcess, TOOL_TIMEOUT_MS) == WAIT_OBJECT_0) {
            GetExitCodeProcess(info.hProcess, &run.status);
        } else {
            TerminateProcess(info.hProcess, 99);
        }
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(output);
    const std::vector<uint8_t> bytes = readFile(outputPath);
    run.output.assign(bytes.begin(), bytes.end());
    DeleteFileW(outputPath.c_str());
    return run;
}

inline void pressKey(HWND dialog, WPARAM key) {
    PostMessageW(dialog, WM_KEYDOWN, key, 1);
    PostMessageW(dialog, WM_KEYUP, key, 0xC0000001);
    settle(dialog);
}

// Enter and Escape, as keys and as the commands the dialog manager makes of them.
inline void pressEnterAndEscape(HWND dialog) {
    pressKey(dialog, VK_RETURN);
    pressKey(dialog, VK_ESCAPE);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    settle(dialog);
}

inline void moveMouse(HWND dialog, int x, int y) {
    // Sent, not posted: the move has been handled when the call returns.
    SendMessageW(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
}

}  // namespace gui
