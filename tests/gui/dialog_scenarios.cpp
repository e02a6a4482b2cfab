// Scenarios of Ferrolyn.exe's key creation and secondary dialogs, worked through window messages: the
// key-method enable table, the hide-passphrase box, generated key codes and passphrases, files dropped
// onto the main window, the key-file dialog with its mouse counter, and the settings, information and
// about dialogs with the settings file behind them. Generated keys are tried with the command-line tool.

#include "tests/gui/dialog_scenarios.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui/checks.h"
#include "tests/gui/file_dialog_support.h"
#include "tests/gui/gui_support.h"
#include "tests/gui/program_support.h"

namespace {

using namespace gui;

constexpr wchar_t KEY_FILE_CAPTION[] = L"Skapa nyckelfil";
constexpr wchar_t KEY_FILE_SAVE_TITLE[] = L"Välj plats för nyckelfilen...";
constexpr wchar_t SETTINGS_CAPTION[] = L"Inställningar";
constexpr wchar_t INFO_CAPTION[] = L"Kryptering";

// The password character of hidden passphrase fields, U+25CF BLACK CIRCLE; 0 shows the text.
constexpr wchar_t HIDDEN_CHARACTER = 0x25CF;
constexpr int KEY_FILE_MOVES = 1024;
constexpr size_t PASSPHRASE_LENGTH = 42;
// As the program spells it: "l" twice and no "n".
constexpr wchar_t PASSPHRASE_ALPHABET[] = L"abcdefghiljklmopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789?=/&%#!-+*";
constexpr size_t KEY_FILE_BYTES = 71;
constexpr size_t KEY_ID_OFFSET = 27;
constexpr size_t KEY_ID_BYTES = 8;
// Where the scenarios put the main window: off the desktop's centre, all of it on the screen.
constexpr int MAIN_LEFT = 40;
constexpr int MAIN_TOP = 30;
// Tool exit status for a key that does not open the container.
constexpr DWORD TOOL_WRONG_KEY = 6;

// --- Small helpers ---

bool isHexDigit(wchar_t c, bool upper) {
    return (c >= L'0' && c <= L'9') || (upper ? (c >= L'A' && c <= L'F') : (c >= L'a' && c <= L'f'));
}

bool allHex(const std::wstring& text, size_t from, size_t count, bool upper) {
    if (text.size() < from + count) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (!isHexDigit(text[i], upper)) return false;
    }
    return true;
}

// "<" + 64 lower-case hex digits + ">".
bool isKeyCode(const std::wstring& text) {
    return text.size() == 66 && text.front() == L'<' && text.back() == L'>' && allHex(text, 1, 64, false);
}

// "key_" + 16 upper-case hex digits.
bool isKeyFileName(const std::wstring& name) {
    return name.size() == 20 && name.compare(0, 4, L"key_") == 0 && allHex(name, 4, 16, true);
}

std::wstring hexUpper(const uint8_t* bytes, size_t count) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X ", b);
        text += two;
    }
    return text.empty() ? "(none)" : text;
}

std::string codePoint(wchar_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

std::vector<uint8_t> ascii(const std::wstring& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

bool checked(HWND dialog, int id) { return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

wchar_t passwordCharacter(HWND dialog, int id) {
    // The wide form: the narrow one would turn U+25CF into the code page's "?".
    return static_cast<wchar_t>(SendMessageW(GetDlgItem(dialog, id), EM_GETPASSWORDCHAR, 0, 0));
}

// Presses a button and returns once the program has handled the click and the command it makes.
// Sent rather than posted, so only for buttons that open no modal window.
void pressButton(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void pressCloseBox(HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

// --- The program with its main window ---

struct Session {
    Program program;
    HWND main = nullptr;
};

DWORD pidOf(const Session& session) { return session.program.info.dwProcessId; }

void moveWindow(HWND window, int left, int top) {
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Starts Ferrolyn on a fresh working folder that holds only a seed file, so that the generator is
// ready and no settings file exists. The main window opens centred on the desktop, where a dialog
// centred on it would be centred on the desktop too; moved aside, the two differ.
bool startSession(Session& session) {
    check(prepareWorkFolder(), "prepared the working folder");
    session.program = startProgram();
    if (!session.program.running) return false;
    const DWORD pid = pidOf(session);
    session.main = waitFor([&] { return findMainWindow(pid); });
    check(session.main != nullptr, "the main window opens");
    if (session.main == nullptr) {
        waitForExit(session.program);
        return false;
    }
    moveWindow(session.main, MAIN_LEFT, MAIN_TOP);
    return true;
}

// Closes the main window and expects a clean exit. A dialog still open (a close that did not work)
// would keep the program in its modal loop, so then the process is ended instead.
void endSession(Session& session) {
    if (!session.program.running) return;
    if (!IsWindowEnabled(session.main)) {
        check(false, "no dialog is left open at the end of the scenario");
        TerminateProcess(session.program.info.hProcess, 99);
        waitForExit(session.program);
        return;
    }
    PostMessageW(session.main, WM_CLOSE, 0, 0);
    checkExitCode(session.program, 0);
}

// --- Modal dialogs of the main window ---

struct AboutSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK matchAboutDialog(HWND window, LPARAM parameter) {
    auto* s = reinterpret_cast<AboutSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == s->pid && IsWindowVisible(window) && className(window) == DIALOG_CLASS &&
        windowText(window) == PROGRAM_CAPTION && GetDlgItem(window, IDC_ABOUT_OK) != nullptr) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// The about dialog shares the main window's caption; its OK button tells it apart.
HWND findAboutDialog(DWORD pid) {
    AboutSearch search = {pid, nullptr};
    EnumWindows(matchAboutDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void checkModalOverMain(HWND main, HWND dialog, const std::string& name) {
    check(GetWindow(dialog, GW_OWNER) == main, name + " is owned by the main window");
    check(!IsWindowEnabled(main), "the main window is disabled while " + name + " is open");
    RECT w;
    GetWindowRect(dialog, &w);
    const POINT expected = centredOverMain(main, dialog);
    check(w.left == expected.x && w.top == expected.y,
          name + " is centred on the main window: at " + std::to_string(w.left) + "," + std::to_string(w.top) +
              ", expected " + std::to_string(expected.x) + "," + std::to_string(expected.y));
}

// Chooses a menu command and waits for the dialog it opens.
HWND openFromMenu(const Session& session, int command, const std::function<HWND()>& find, const std::string& name) {
    PostMessageW(session.main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    HWND dialog = waitFor(find);
    check(dialog != nullptr, "the menu command opens " + name);
    return dialog;
}

HWND openByCaption(const Session& session, int command, const wchar_t* caption) {
    const DWORD pid = pidOf(session);
    const std::wstring wanted = caption;
    return openFromMenu(
        session, command, [&] { return findDialog(pid, wanted); }, "\"" + narrow(wanted) + "\"");
}

HWND openAbout(const Session& session) {
    const DWORD pid = pidOf(session);
    return openFromMenu(
        session, IDM_ABOUT, [&] { return findAboutDialog(pid); }, "the about dialog");
}

// Waits until dialog has gone and the main window takes input again.
bool waitClosed(HWND main, HWND dialog) {
    const bool gone = waitFor([&] { return IsWindow(dialog) ? nullptr : HWND(1); }) != nullptr;
    return gone && waitFor([&] { return IsWindowEnabled(main) ? main : nullptr; }) != nullptr;
}

struct CloseWay {
    const char* name;
    int button;  // 0: the close box
};

void closeDialog(HWND dialog, const CloseWay& way) {
    if (way.button == 0) {
        pressCloseBox(dialog);
    } else {
        clickControl(dialog, way.button);
    }
}

// --- The command-line tool ---

// Encrypts a small file with keyOption ("--key-file PATH" and the like) through the tool and
// decrypts it again; with wrongKeyOption, that key must be refused as the wrong one.
void checkKeyWorks(const std::wstring& name, const std::wstring& keyOption, const std::wstring& wrongKeyOption = {}) {
    const std::wstring plain = paths.scratch + L"\\" + name + L".txt";
    const std::wstring container = plain + L".encrypted";
    const std::wstring back = plain + L".back";
    const std::vector<uint8_t> text = ascii(L"Ferrolyn dialog scenario: " + name + L"\r\n");
    check(writeFile(plain, text), "wrote " + narrow(plain));
    DWORD code = runTool(L"encrypt " + quoted(plain) + L" -o " + quoted(container) + L" --force " + keyOption).status;
    check(code == 0, "the tool encrypts with the " + narrow(name) + ": exit " + std::to_string(code));
    const std::vector<uint8_t> sealed = readFile(container);
    check(!sealed.empty() && sealed != text, "the container of the " + narrow(name) + " is not the plain text");
    code = runTool(L"decrypt " + quoted(container) + L" -o " + quoted(back) + L" --force " + keyOption).status;
    check(code == 0, "the tool decrypts with the " + narrow(name) + ": exit " + std::to_string(code));
    check(readFile(back) == text, "decrypting with the " + narrow(name) + " gives the text back");
    if (!wrongKeyOption.empty()) {
        const std::wstring other = plain + L".other";
        code = runTool(L"decrypt " + quoted(container) + L" -o " + quoted(other) + L" --force " + wrongKeyOption).status;
        check(code == TOOL_WRONG_KEY,
              "another generated key is refused as the wrong key: exit " + std::to_string(code));
    }
}

// --- Main window: key methods and generated key material ---

constexpr int KEY_CONTROLS[] = {
    IDC_MAIN_KEY_FILE_PATH, IDC_MAIN_BROWSE_KEY_FILE,   IDC_MAIN_KEY_CODE,        IDC_MAIN_CREATE_KEY_CODE,
    IDC_MAIN_PASSPHRASE,    IDC_MAIN_PASSPHRASE_REPEAT, IDC_MAIN_HIDE_PASSPHRASE, IDC_MAIN_CREATE_PASSPHRASE,
};
// Besides the method's own controls these stay enabled whatever the method.
constexpr int ALWAYS_ENABLED[] = {
    IDC_MAIN_METHOD_KEY_FILE, IDC_MAIN_METHOD_KEY_CODE, IDC_MAIN_METHOD_PASSPHRASE, IDC_MAIN_SOURCE_PATH,
    IDC_MAIN_BROWSE_SOURCE,   IDC_MAIN_DECRYPT,         IDC_MAIN_ENCRYPT,           IDC_MAIN_EXIT,
};
constexpr int METHOD_RADIOS[] = {IDC_MAIN_METHOD_KEY_FILE, IDC_MAIN_METHOD_KEY_CODE, IDC_MAIN_METHOD_PASSPHRASE};

struct Method {
    const char* name;
    int radio;
    std::vector<int> enables;
};

const Method METHODS[] = {
    {"key file", IDC_MAIN_METHOD_KEY_FILE, {IDC_MAIN_KEY_FILE_PATH, IDC_MAIN_BROWSE_KEY_FILE}},
    {"key code", IDC_MAIN_METHOD_KEY_CODE, {IDC_MAIN_KEY_CODE, IDC_MAIN_CREATE_KEY_CODE}},
    {"passphrase",
     IDC_MAIN_METHOD_PASSPHRASE,
     {IDC_MAIN_PASSPHRASE, IDC_MAIN_PASSPHRASE_REPEAT, IDC_MAIN_HIDE_PASSPHRASE, IDC_MAIN_CREATE_PASSPHRASE}},
};

const Method& methodOf(int radio) {
    for (const Method& method : METHODS) {
        if (method.radio == radio) return method;
    }
    return METHODS[0];
}

void chooseMethod(HWND main, int radio) { pressButton(main, radio); }

// The chosen radio button alone is checked.
bool onlyChecked(HWND main, int radio) {
    for (int other : METHOD_RADIOS) {
        if (checked(main, other) != (other == radio)) return false;
    }
    return true;
}

void checkMethodState(HWND main, const Method& method) {
    const std::string when = std::string(" with the ") + method.name + " method";
    check(onlyChecked(main, method.radio), std::string("only the ") + method.name + " radio button is checked");
    for (int id : KEY_CONTROLS) {
        const bool wanted = std::find(method.enables.begin(), method.enables.end(), id) != method.enables.end();
        check(enabled(main, id) == wanted,
              "control " + std::to_string(id) + (wanted ? " enabled" : " disabled") + when);
    }
    for (int id : ALWAYS_ENABLED) check(enabled(main, id), "control " + std::to_string(id) + " enabled" + when);
}

// Every change between the three methods, and choosing the chosen one again.
void keyMethods(HWND main) {
    results.scenario = "key methods";
    struct Field {
        int id;
        const wchar_t* text;
    };
    const Field fields[] = {
        {IDC_MAIN_KEY_FILE_PATH, L"C:\\k\\nyckel.key"}, {IDC_MAIN_KEY_CODE, L"<inte en riktig kod>"},
        {IDC_MAIN_PASSPHRASE, L"hemlig fras"},          {IDC_MAIN_PASSPHRASE_REPEAT, L"hemlig fras igen"},
        {IDC_MAIN_SOURCE_PATH, L"C:\\d\\rapport.pdf"},
    };
    for (const Field& field : fields) setControlText(main, field.id, field.text);
    checkMethodState(main, methodOf(IDC_MAIN_METHOD_KEY_FILE));
    const int order[] = {IDC_MAIN_METHOD_KEY_CODE,   IDC_MAIN_METHOD_PASSPHRASE, IDC_MAIN_METHOD_KEY_FILE,
                         IDC_MAIN_METHOD_PASSPHRASE, IDC_MAIN_METHOD_KEY_CODE,   IDC_MAIN_METHOD_KEY_FILE,
                         IDC_MAIN_METHOD_KEY_FILE};
    for (int radio : order) {
        const Method& method = methodOf(radio);
        chooseMethod(main, radio);
        checkMethodState(main, method);
        for (const Field& field : fields) {
            checkText(controlText(main, field.id), field.text,
                      "field " + std::to_string(field.id) + " after choosing the " + method.name + " method");
        }
    }
    for (const Field& field : fields) setControlText(main, field.id, L"");
}

void checkPassphraseHidden(HWND main, bool hidden, const std::string& when) {
    const wchar_t expected = hidden ? HIDDEN_CHARACTER : 0;
    for (int id : {IDC_MAIN_PASSPHRASE, IDC_MAIN_PASSPHRASE_REPEAT}) {
        const wchar_t got = passwordCharacter(main, id);
        check(got == expected, "password character of " + std::to_string(id) + " " + when + ": " + codePoint(got) +
                                   ", expected " + codePoint(expected));
    }
}

void hidePassphrase(HWND main) {
    results.scenario = "hide passphrase";
    chooseMethod(main, IDC_MAIN_METHOD_PASSPHRASE);
    check(checked(main, IDC_MAIN_HIDE_PASSPHRASE), "\"Dolj losenfrasen\" is checked at start");
    checkPassphraseHidden(main, true, "at start");
    pressButton(main, IDC_MAIN_HIDE_PASSPHRASE);
    check(!checked(main, IDC_MAIN_HIDE_PASSPHRASE), "the box is unchecked after a click");
    checkPassphraseHidden(main, false, "with the box unchecked");
    pressButton(main, IDC_MAIN_HIDE_PASSPHRASE);
    check(checked(main, IDC_MAIN_HIDE_PASSPHRASE), "the box is checked after a second click");
    checkPassphraseHidden(main, true, "with the box checked again");
}

void keyCodeCreation(HWND main) {
    results.scenario = "key code creation";
    chooseMethod(main, IDC_MAIN_METHOD_KEY_CODE);
    setControlText(main, IDC_MAIN_KEY_CODE, L"<gammal>");
    std::vector<std::wstring> codes;
    for (int press = 0; press < 2; ++press) {
        pressButton(main, IDC_MAIN_CREATE_KEY_CODE);
        const std::wstring code = controlText(main, IDC_MAIN_KEY_CODE);
        check(isKeyCode(code), "a key code of \"<\", 64 lower-case hex digits and \">\": \"" + narrow(code) + "\"");
        check(onlyChecked(main, IDC_MAIN_METHOD_KEY_CODE), "the key-code method stays chosen");
        codes.push_back(code);
    }
    check(codes[0] != codes[1], "a second press gives a different code");
    screenshot(L"main_window_key_code");

    const std::wstring first = paths.scratch + L"\\first.code";
    const std::wstring second = paths.scratch + L"\\second.code";
    check(writeFile(first, ascii(codes[0])) && writeFile(second, ascii(codes[1])), "saved the key codes");
    checkKeyWorks(L"key code", L"--key-code-file " + quoted(second), L"--key-code-file " + quoted(first));
}

bool isGeneratedPassphrase(const std::wstring& text) {
    if (text.size() != PASSPHRASE_LENGTH) return false;
    const std::wstring alphabet = PASSPHRASE_ALPHABET;
    return text.find_first_not_of(alphabet) == std::wstring::npos && text.find(L'n') == std::wstring::npos;
}

void passphraseCreation(HWND main) {
    results.scenario = "passphrase creation";
    chooseMethod(main, IDC_MAIN_METHOD_PASSPHRASE);
    std::set<std::wstring> seen;
    std::wstring last;
    constexpr int PRESSES = 4;
    for (int press = 0; press < PRESSES; ++press) {
        // Each press starts from hidden fields and a filled repeat field, so that each must change them.
        if (!checked(main, IDC_MAIN_HIDE_PASSPHRASE)) pressButton(main, IDC_MAIN_HIDE_PASSPHRASE);
        check(checked(main, IDC_MAIN_HIDE_PASSPHRASE), "\"Dolj losenfrasen\" checked before the press");
        setControlText(main, IDC_MAIN_PASSPHRASE_REPEAT, L"upprepad");
        pressButton(main, IDC_MAIN_CREATE_PASSPHRASE);
        last = controlText(main, IDC_MAIN_PASSPHRASE);
        check(isGeneratedPassphrase(last), "42 characters of the alphabet, no \"n\": \"" + narrow(last) + "\"");
        checkText(controlText(main, IDC_MAIN_PASSPHRASE_REPEAT), L"", "the repeat field");
        check(!checked(main, IDC_MAIN_HIDE_PASSPHRASE), "\"Dolj losenfrasen\" is unchecked");
        checkPassphraseHidden(main, false, "after \"Skapa losenfras\"");
        check(onlyChecked(main, IDC_MAIN_METHOD_PASSPHRASE), "the passphrase method stays chosen");
        seen.insert(last);
    }
    check(seen.size() == PRESSES, "every press gives a different passphrase");
    screenshot(L"main_window_passphrase");

    const std::wstring file = paths.scratch + L"\\generated.passphrase";
    check(writeFile(file, ascii(last)), "saved the passphrase");
    checkKeyWorks(L"passphrase", L"--passphrase-file " + quoted(file));
    setControlText(main, IDC_MAIN_PASSPHRASE, L"");
}

// --- Main window: dropped files ---

void droppedFiles(const Session& session) {
    results.scenario = "dropped files";
    HWND main = session.main;
    check((GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0, "the main window accepts dropped files");
    struct Drop {
        std::vector<std::wstring> names;
        const wchar_t* keyFile;  // what the key-file field then holds
        const wchar_t* source;   // and the source field
    };
    const wchar_t* KEEP_KEY = L"C:\\tidigare\\nyckel.key";
    const wchar_t* KEEP_SOURCE = L"C:\\tidigare\\fil.txt";
    const Drop drops[] = {
        {{L"C:\\k\\my.key"}, L"C:\\k\\my.key", KEEP_SOURCE},
        {{L"C:\\k\\my.KEY"}, KEEP_KEY, L"C:\\k\\my.KEY"},
        {{L"C:\\k\\my.key.txt"}, KEEP_KEY, L"C:\\k\\my.key.txt"},
        {{L"C:\\k\\key"}, KEEP_KEY, L"C:\\k\\key"},
        {{L"C:\\d\\värde.pdf"}, KEEP_KEY, L"C:\\d\\värde.pdf"},
        // Names beyond the ANSI code page arrive whole, and the ".key" test reads them as they are.
        {{L"C:\\k\\κλειδί 钥匙.key"}, L"C:\\k\\κλειδί 钥匙.key", KEEP_SOURCE},
        {{L"C:\\d\\Łódź 🔒.key.txt"}, KEEP_KEY, L"C:\\d\\Łódź 🔒.key.txt"},
        {{L"C:\\k\\a.key", L"C:\\d\\b.txt"}, L"C:\\k\\a.key", KEEP_SOURCE},
        {{L"C:\\d\\report.pdf", L"C:\\k\\b.key"}, KEEP_KEY, L"C:\\d\\report.pdf"},
    };
    // The key-code method, so that a drop that chose the key-file method would show.
    chooseMethod(main, IDC_MAIN_METHOD_KEY_CODE);
    for (const Drop& drop : drops) {
        const size_t more = drop.names.size() - 1;
        const std::string what =
            "after dropping " + narrow(drop.names.front()) + (more > 0 ? " and " + std::to_string(more) + " more" : "");
        setControlText(main, IDC_MAIN_KEY_FILE_PATH, KEEP_KEY);
        setControlText(main, IDC_MAIN_SOURCE_PATH, KEEP_SOURCE);
        check(dropFiles(session.program, main, drop.names), "handed the dropped names to the program");
        check(IsWindow(main) && WaitForSingleObject(session.program.info.hProcess, 0) == WAIT_TIMEOUT,
              "the program is still running " + what);
        checkText(controlText(main, IDC_MAIN_KEY_FILE_PATH), drop.keyFile, "key-file field " + what);
        checkText(controlText(main, IDC_MAIN_SOURCE_PATH), drop.source, "source field " + what);
        check(onlyChecked(main, IDC_MAIN_METHOD_KEY_CODE), "the key method is unchanged " + what);
    }
    setControlText(main, IDC_MAIN_KEY_FILE_PATH, L"");
    setControlText(main, IDC_MAIN_SOURCE_PATH, L"");
}

void mainWindowScenarios() {
    results.scenario = "main window key creation";
    Session session;
    if (!startSession(session)) return;
    keyMethods(session.main);
    hidePassphrase(session.main);
    keyCodeCreation(session.main);
    passphraseCreation(session.main);
    droppedFiles(session);
    results.scenario = "main window key creation";
    endSession(session);
}

// --- Key-file dialog ---

// Client position number i; no two are the same, and all lie inside the dialog.
POINT movePosition(int i) { return {10 + i % 300, 10 + i / 300}; }

bool counterShows(HWND dialog, int count) {
    HWND bar = GetDlgItem(dialog, IDC_KEY_FILE_BAR);
    return controlText(dialog, IDC_KEY_FILE_COUNTER) == std::to_wstring(count) + L" / 1024" &&
           SendMessageW(bar, PBM_GETPOS, 0, 0) == count && !enabled(dialog, IDC_KEY_FILE_CREATE);
}

// The state of a freshly opened dialog: nothing counted, the bar 0..1024 at 0, no way to create yet.
void checkKeyFileDialogAtStart(HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_KEY_FILE_BAR);
    checkText(controlText(dialog, IDC_KEY_FILE_COUNTER), L"0 / 1024", "counter at opening");
    check(SendMessageW(bar, PBM_GETRANGE, TRUE, 0) == 0 && SendMessageW(bar, PBM_GETRANGE, FALSE, 0) == KEY_FILE_MOVES,
          "the bar's range is 0..1024");
    check(SendMessageW(bar, PBM_GETPOS, 0, 0) == 0, "the bar stands at 0");
    check(!enabled(dialog, IDC_KEY_FILE_CREATE), "\"Skapa nyckelfil\" is disabled");
    check(enabled(dialog, IDC_KEY_FILE_CANCEL), "\"Avbryt\" is enabled");
}

// Moves the mouse KEY_FILE_MOVES times, checking after each move that only the counter advanced,
// then twice more: the first clears the counter text and enables "Skapa nyckelfil", the second
// leaves it so.
void countMoves(HWND dialog) {
    int firstWrong = 0;
    for (int i = 1; i <= KEY_FILE_MOVES; ++i) {
        const POINT p = movePosition(i);
        moveMouse(dialog, p.x, p.y);
        if (firstWrong == 0 && !counterShows(dialog, i)) firstWrong = i;
    }
    check(firstWrong == 0,
          "each of the first 1024 moves shows \"N / 1024\" and bar N, button disabled; wrong at "
          "move " +
              std::to_string(firstWrong) + ": \"" + narrow(controlText(dialog, IDC_KEY_FILE_COUNTER)) + "\"");
    checkText(controlText(dialog, IDC_KEY_FILE_COUNTER), L"1024 / 1024", "counter after 1024 moves");
    for (int extra = 1; extra <= 2; ++extra) {
        const POINT p = movePosition(KEY_FILE_MOVES + extra);
        moveMouse(dialog, p.x, p.y);
        const std::string when = " after move " + std::to_string(KEY_FILE_MOVES + extra);
        checkText(controlText(dialog, IDC_KEY_FILE_COUNTER), L"", "counter text" + when);
        check(enabled(dialog, IDC_KEY_FILE_CREATE), "\"Skapa nyckelfil\" enabled" + when);
    }
}

// Presses "Skapa nyckelfil" and returns the save dialog with the name it suggests.
HWND pressCreate(const Session& session, HWND dialog, std::wstring& suggested) {
    clickControl(dialog, IDC_KEY_FILE_CREATE);
    HWND save = waitForFileDialog(pidOf(session), KEY_FILE_SAVE_TITLE);
    check(save != nullptr, "\"Skapa nyckelfil\" opens the save dialog");
    if (save == nullptr) return nullptr;
    check(GetWindow(save, GW_OWNER) == dialog, "the save dialog is owned by the key-file dialog");
    HWND field = fileNameField(save);
    suggested = field != nullptr ? windowText(field) : L"";
    check(isKeyFileName(suggested),
          "suggested name \"key_\" + 16 upper-case hex digits: \"" + narrow(suggested) + "\"");
    return save;
}

void checkKeyFile(const std::wstring& path, const std::wstring& suggested) {
    const std::vector<uint8_t> bytes = readFile(path);
    static const std::vector<uint8_t> start = {0x43, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00, 'E',
                                               'n',  'c',  'r',  'y',  'p',  't',  'i',  'o',  'n',
                                               'K',  'e',  'y',  0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
    static const std::vector<uint8_t> keyField = {0x20, 0x00, 0x00, 0x00};
    check(bytes.size() == KEY_FILE_BYTES, "the key file is 71 bytes: " + std::to_string(bytes.size()));
    if (bytes.size() != KEY_FILE_BYTES) return;
    check(std::equal(start.begin(), start.end(), bytes.begin()),
          "the key file starts 43 00 00 00 0D 00 00 00 \"EncryptionKey\" 00 00 08 00 00 00: " + hexBytes(bytes));
    check(std::equal(keyField.begin(), keyField.end(), bytes.begin() + KEY_ID_OFFSET + KEY_ID_BYTES),
          "a 32-byte key field follows the identifier");
    checkText(L"key_" + hexUpper(bytes.data() + KEY_ID_OFFSET, KEY_ID_BYTES), suggested,
              "the identifier in the file names it");
}

// Opens the key-file dialog, counts the moves and creates a key file: the first save dialog is
// cancelled, the second is given a path in the scratch folder, typed with the extension at the
// first opening and without it (the dialog's default extension adds it) later. With chosenName the
// file gets that name instead of the suggested one. Returns the path, or empty.
std::wstring createKeyFile(const Session& session, bool firstOpening, const std::wstring& chosenName = {}) {
    HWND dialog = openByCaption(session, IDM_CREATE_KEY_FILE, KEY_FILE_CAPTION);
    if (dialog == nullptr) return {};
    checkModalOverMain(session.main, dialog, "the key-file dialog");
    checkKeyFileDialogAtStart(dialog);
    if (firstOpening) screenshot(L"key_file_dialog");
    countMoves(dialog);
    if (firstOpening) screenshot(L"key_file_dialog_ready");

    const std::vector<std::wstring> before = folderEntries(paths.scratch);
    std::wstring first;
    HWND save = pressCreate(session, dialog, first);
    if (save == nullptr) return {};
    cancelFileDialog(save);
    check(waitFor([&] { return IsWindow(save) ? nullptr : HWND(1); }) != nullptr, "the save dialog closes");
    check(IsWindow(dialog) && IsWindowVisible(dialog), "cancelling the save dialog keeps the key-file dialog open");
    check(enabled(dialog, IDC_KEY_FILE_CREATE), "\"Skapa nyckelfil\" stays enabled");
    check(folderEntries(paths.scratch) == before, "cancelling writes nothing");

    std::wstring second;
    save = pressCreate(session, dialog, second);
    if (save == nullptr) return {};
    check(second != first, "the second press proposes a different name: " + narrow(first) + ", " + narrow(second));
    const std::wstring stem = paths.scratch + L"\\" + (chosenName.empty() ? second : chosenName);
    const std::wstring path = stem + L".key";
    check(chooseInFileDialog(save, firstOpening ? path : stem), "the save dialog takes the path");
    check(waitClosed(session.main, dialog), "choosing a path ends the key-file dialog");
    check(exists(path), "the key file was written");
    checkKeyFile(path, second);
    return path;
}

void keyFileDialog() {
    results.scenario = "key file dialog";
    Session session;
    if (!startSession(session)) return;
    const std::wstring key = createKeyFile(session, true);
    // A second opening starts counting from 0 again and makes a key of its own.
    results.scenario = "key file dialog, second opening";
    const std::wstring other = createKeyFile(session, false);
    if (!key.empty() && !other.empty()) {
        results.scenario = "key file dialog, the key";
        checkKeyWorks(L"key file", L"--key-file " + quoted(key), L"--key-file " + quoted(other));
    }
    // A name beyond the ANSI code page is the name the key file gets, and the key in it works.
    results.scenario = "key file dialog, a name beyond the code page";
    const std::wstring beyond = createKeyFile(session, false, L"nyckel κλειδί 钥匙 🔑");
    if (!beyond.empty()) {
        check(beyond == paths.scratch + L"\\nyckel κλειδί 钥匙 🔑.key", "the key file has the chosen name");
        checkKeyWorks(L"key file with a name beyond the code page", L"--key-file " + quoted(beyond),
                      L"--key-file " + quoted(key));
    }

    static const CloseWay ways[] = {{"\"Avbryt\"", IDC_KEY_FILE_CANCEL}, {"close box", 0}};
    for (const CloseWay& way : ways) {
        results.scenario = std::string("key file dialog closed by ") + way.name;
        const std::vector<std::wstring> scratchBefore = folderEntries(paths.scratch);
        const std::vector<std::wstring> workBefore = folderEntries(paths.workFolder);
        HWND dialog = openByCaption(session, IDM_CREATE_KEY_FILE, KEY_FILE_CAPTION);
        if (dialog == nullptr) break;
        checkKeyFileDialogAtStart(dialog);
        countMoves(dialog);
        closeDialog(dialog, way);
        check(waitClosed(session.main, dialog), "the dialog ends");
        check(folderEntries(paths.scratch) == scratchBefore, "nothing written beside the key files");
        check(folderEntries(paths.workFolder) == workBefore, "nothing written in the working folder");
    }
    results.scenario = "key file dialog";
    endSession(session);
}

// --- Settings dialog and the settings file ---

constexpr wchar_t AES_ENTRY[] = L"AES-256 CBC";
constexpr wchar_t SERPENT_ENTRY[] = L"Serpent CBC";

std::wstring comboEntry(HWND combo, int index) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
    if (length < 0 || length > 255) return L"<none>";
    wchar_t buffer[256] = {};
    SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

void checkCipherList(HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_SETTINGS_CIPHER);
    check(SendMessageW(combo, CB_GETCOUNT, 0, 0) == 2, "the cipher list holds two entries");
    checkText(comboEntry(combo, 0), AES_ENTRY, "entry 0");
    checkText(comboEntry(combo, 1), SERPENT_ENTRY, "entry 1");
    check(SendMessageW(combo, CB_GETITEMDATA, 0, 0) == 0, "entry 0 carries cipher 0");
    check(SendMessageW(combo, CB_GETITEMDATA, 1, 0) == 1, "entry 1 carries cipher 1");
}

// The settings dialog shows serpent and compress.
void checkSettingsShown(HWND dialog, bool serpent, bool compress, const std::string& when) {
    HWND combo = GetDlgItem(dialog, IDC_SETTINGS_CIPHER);
    const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    check(selected == (serpent ? 1 : 0), "selected entry " + std::to_string(selected) + when);
    checkText(windowText(combo), serpent ? SERPENT_ENTRY : AES_ENTRY, "the cipher shown" + when);
    check(checked(dialog, IDC_SETTINGS_COMPRESS) == compress,
          std::string("compression ") + (compress ? "checked" : "unchecked") + when);
}

// Sets the dialog's controls as a user would.
void changeSettings(HWND dialog, bool serpent, bool compress) {
    SendMessageW(GetDlgItem(dialog, IDC_SETTINGS_CIPHER), CB_SETCURSEL, serpent ? 1 : 0, 0);
    if (checked(dialog, IDC_SETTINGS_COMPRESS) != compress) pressButton(dialog, IDC_SETTINGS_COMPRESS);
}

std::vector<uint8_t> settingsBytes(bool serpent, bool compress) {
    return {0x02, 0x00, 0x00, 0x00, uint8_t(serpent ? 1 : 0), uint8_t(compress ? 1 : 0)};
}

void settingsDialog() {
    results.scenario = "settings dialog";
    Session session;
    if (!startSession(session)) return;
    HWND main = session.main;
    check(!exists(paths.settingsFile), "no config.bin at first");
    HWND dialog = openByCaption(session, IDM_SETTINGS, SETTINGS_CAPTION);
    if (dialog == nullptr) return endSession(session);
    checkModalOverMain(main, dialog, "the settings dialog");
    checkCipherList(dialog);
    checkSettingsShown(dialog, false, false, " without config.bin");
    screenshot(L"settings_dialog");
    pressEnterAndEscape(dialog);
    check(IsWindow(dialog) && IsWindowVisible(dialog), "Enter and Escape leave the settings dialog open");
    check(!exists(paths.settingsFile), "and write no config.bin");

    changeSettings(dialog, true, true);
    checkSettingsShown(dialog, true, true, " after choosing Serpent and compression");
    clickControl(dialog, IDC_SETTINGS_OK);
    check(waitClosed(main, dialog), "OK ends the settings dialog");
    const std::vector<uint8_t> saved = readFile(paths.settingsFile);
    check(saved == settingsBytes(true, true), "config.bin is 02 00 00 00 01 01: " + hexBytes(saved));

    static const CloseWay ways[] = {{"\"Avbryt\"", IDC_SETTINGS_CANCEL}, {"close box", 0}};
    for (const CloseWay& way : ways) {
        results.scenario = std::string("settings dialog closed by ") + way.name;
        dialog = openByCaption(session, IDM_SETTINGS, SETTINGS_CAPTION);
        if (dialog == nullptr) break;
        checkSettingsShown(dialog, true, true, " after saving Serpent and compression");
        changeSettings(dialog, false, false);
        closeDialog(dialog, way);
        check(waitClosed(main, dialog), "the settings dialog ends");
        const std::vector<uint8_t> now = readFile(paths.settingsFile);
        check(now == saved, "config.bin is unchanged: " + hexBytes(now));
    }

    // The other combinations, so that the two bytes cannot trade places unnoticed. Each opening
    // shows what the one before saved.
    struct Choice {
        bool serpent;
        bool compress;
    };
    static const Choice choices[] = {{false, true}, {true, false}, {false, false}};
    Choice before = {true, true};
    for (const Choice& choice : choices) {
        results.scenario = std::string("settings dialog, saving ") + (choice.serpent ? "Serpent" : "AES") +
                           (choice.compress ? " with" : " without") + " compression";
        dialog = openByCaption(session, IDM_SETTINGS, SETTINGS_CAPTION);
        if (dialog == nullptr) break;
        checkSettingsShown(dialog, before.serpent, before.compress, " as saved before");
        changeSettings(dialog, choice.serpent, choice.compress);
        clickControl(dialog, IDC_SETTINGS_OK);
        check(waitClosed(main, dialog), "OK ends the settings dialog");
        const std::vector<uint8_t> bytes = readFile(paths.settingsFile);
        check(bytes == settingsBytes(choice.serpent, choice.compress), "config.bin: " + hexBytes(bytes));
        before = choice;
    }
    results.scenario = "settings dialog";
    endSession(session);
}

// --- Information dialog, and what both dialogs read from config.bin ---

void checkInfoShown(HWND dialog, bool serpent, bool compress) {
    struct Value {
        int id;
        const wchar_t* aes;
        const wchar_t* serpent;
    };
    static const Value values[] = {
        {IDC_INFO_ALGORITHM, L"AES-256", L"Serpent"},
        {IDC_INFO_IMPLEMENTATION, L"32bit (equvivalent decryption algorithm)", L"Bit-slicing"},
        {IDC_INFO_KEY_SPLITTING, L"Deterministrisk CTR (AES-256)", L"Deterministrisk CTR (Serpent)"},
        {IDC_INFO_RANDOM_GENERATION, L"Orvantis AES-256/SHA-256/4096", L"Orvantis Serpent/SHA-256/4096"},
    };
    for (const Value& value : values) {
        checkText(controlText(dialog, value.id), serpent ? value.serpent : value.aes,
                  "information value " + std::to_string(value.id));
    }
    checkText(controlText(dialog, IDC_INFO_ENTROPY_STAGE), compress ? L"BWT/MTF/Huffman-codec" : L"Ingen komprimering",
              "information value " + std::to_string(IDC_INFO_ENTROPY_STAGE));
}

void settingsFileReading() {
    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> file;  // none: no config.bin
        bool serpent;
        bool compress;
        const wchar_t* infoShot;  // a screenshot of the information dialog, or null
    };
    const Case cases[] = {
        {"no config.bin", std::nullopt, false, false, L"info_dialog_aes"},
        {"payload 01 01", std::vector<uint8_t>{0x02, 0x00, 0x00, 0x00, 0x01, 0x01}, true, true, L"info_dialog_serpent"},
        {"payload 07 00", std::vector<uint8_t>{0x02, 0x00, 0x00, 0x00, 0x07, 0x00}, true, false, nullptr},
        {"payload 00", std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x00}, false, false, nullptr},
        {"payload 05", std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x05}, true, false, nullptr},
        {"empty payload", std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00}, false, false, nullptr},
        {"payload 00 05 FF", std::vector<uint8_t>{0x03, 0x00, 0x00, 0x00, 0x00, 0x05, 0xFF}, false, true, nullptr},
        {"a length beyond the file", std::vector<uint8_t>{0x10, 0x00, 0x00, 0x00, 0x01, 0x01}, false, false, nullptr},
        {"an empty file", std::vector<uint8_t>{}, false, false, nullptr},
    };
    results.scenario = "settings file";
    Session session;
    if (!startSession(session)) return;
    for (const Case& c : cases) {
        results.scenario = std::string("settings file, ") + c.name;
        if (c.file) {
            check(writeFile(paths.settingsFile, *c.file), "wrote config.bin");
        } else {
            DeleteFileW(paths.settingsFile.c_str());
        }
        const std::string expected =
            std::string(c.serpent ? " (Serpent" : " (AES") + (c.compress ? ", compressed)" : ")");

        HWND dialog = openByCaption(session, IDM_SETTINGS, SETTINGS_CAPTION);
        if (dialog == nullptr) break;
        checkSettingsShown(dialog, c.serpent, c.compress, expected);
        clickControl(dialog, IDC_SETTINGS_CANCEL);
        check(waitClosed(session.main, dialog), "\"Avbryt\" ends the settings dialog");

        dialog = openByCaption(session, IDM_ENCRYPTION_INFO, INFO_CAPTION);
        if (dialog == nullptr) break;
        checkModalOverMain(session.main, dialog, "the information dialog");
        checkInfoShown(dialog, c.serpent, c.compress);
        if (c.infoShot != nullptr) screenshot(c.infoShot);
        clickControl(dialog, IDC_INFO_CLOSE);
        check(waitClosed(session.main, dialog), "\"Stang\" ends the information dialog");

        if (c.file) {
            const std::vector<uint8_t> now = readFile(paths.settingsFile);
            check(now == *c.file, "config.bin is as it was: " + hexBytes(now));
        } else {
            check(!exists(paths.settingsFile), "still no config.bin: " + hexBytes(readFile(paths.settingsFile)));
        }
    }
    results.scenario = "settings file";
    endSession(session);
}

// --- About dialog; closing the information and about dialogs ---

struct LabelSearch {
    std::vector<std::wstring> texts;
};

BOOL CALLBACK collectLabel(HWND window, LPARAM parameter) {
    // Labels have the id -1, which the dialog manager may hand back as 0xFFFF.
    const int id = GetDlgCtrlID(window);
    if ((id == -1 || id == 0xFFFF) && className(window) == L"Static") {
        reinterpret_cast<LabelSearch*>(parameter)->texts.push_back(windowText(window));
    }
    return TRUE;
}

std::vector<std::wstring> labelTexts(HWND dialog) {
    LabelSearch search;
    EnumChildWindows(dialog, collectLabel, reinterpret_cast<LPARAM>(&search));
    return search.texts;
}

void aboutAndClosing() {
    results.scenario = "about dialog";
    Session session;
    if (!startSession(session)) return;
    HWND dialog = openAbout(session);
    if (dialog != nullptr) {
        checkModalOverMain(session.main, dialog, "the about dialog");
        const std::vector<std::wstring> expected = {L"Ferrolyn v1.0", L"2018-03-24", L"Halvardi"};
        const std::vector<std::wstring> labels = labelTexts(dialog);
        std::wstring shown;
        for (const std::wstring& label : labels) shown += L"\"" + label + L"\" ";
        check(labels == expected, "the about dialog's labels: " + narrow(shown));
        checkText(controlText(dialog, IDC_ABOUT_OK), L"OK", "the about dialog's button");
        screenshot(L"about_dialog");
        clickControl(dialog, IDC_ABOUT_OK);
        check(waitClosed(session.main, dialog), "OK ends the about dialog");
    }

    struct Closing {
        const char* dialog;
        std::function<HWND()> open;
        CloseWay way;
    };
    const Closing closings[] = {
        {"about dialog", [&] { return openAbout(session); }, {"close box", 0}},
        {"information dialog",
         [&] { return openByCaption(session, IDM_ENCRYPTION_INFO, INFO_CAPTION); },
         {"\"Stang\"", IDC_INFO_CLOSE}},
        {"information dialog",
         [&] { return openByCaption(session, IDM_ENCRYPTION_INFO, INFO_CAPTION); },
         {"close box", 0}},
    };
    for (const Closing& closing : closings) {
        results.scenario = std::string(closing.dialog) + " closed by " + closing.way.name;
        dialog = closing.open();
        if (dialog == nullptr) break;
        closeDialog(dialog, closing.way);
        check(waitClosed(session.main, dialog), "the dialog ends");
    }
    // Centred over a main window that lies mostly off the screen, a dialog would start left of and
    // above the screen; it is put at 0, 0 instead.
    results.scenario = "dialogs over a main window off the screen";
    moveWindow(session.main, -400, -300);
    const Closing* offScreen[] = {&closings[0], &closings[1]};
    for (const Closing* closing : offScreen) {
        dialog = closing->open();
        if (dialog == nullptr) break;
        const POINT expected = centredOverMain(session.main, dialog);
        check(expected.x == 0 && expected.y == 0,
              "the centred position of the " + std::string(closing->dialog) + " is negative and made 0, 0");
        checkModalOverMain(session.main, dialog, std::string("the ") + closing->dialog);
        closeDialog(dialog, closing->way);
        check(waitClosed(session.main, dialog), "the dialog ends");
    }
    moveWindow(session.main, MAIN_LEFT, MAIN_TOP);
    results.scenario = "about dialog";
    endSession(session);
}

}  // namespace

void runDialogScenarios() {
    mainWindowScenarios();
    keyFileDialog();
    settingsDialog();
    settingsFileReading();
    aboutAndClosing();
}
