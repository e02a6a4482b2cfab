// The user's workflow through Ferrolyn.exe's main window, checked against the files on disk and the
// command-line tool: round trips with every key method, cipher and compression setting in both
// directions between window and tool; every input message in its order and the questions; the
// suggested target names and the same-file refusal; the four job failures; cancelling a running
// job; the progress dialog's texts, placement and bar.

#include "tests/gui/workflow_scenarios.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui/checks.h"
#include "tests/gui/file_dialog_support.h"
#include "tests/gui/gui_support.h"
#include "tests/gui/program_support.h"

namespace {

using namespace gui;

// --- The program's texts ---

constexpr wchar_t SAVE_ENCRYPTED_TITLE[] = L"Välj plats för den krypterade filen...";
constexpr wchar_t SAVE_ANY_TITLE[] = L"Välj plats för filen...";
constexpr wchar_t OPEN_TITLE[] = L"Välj fil...";

constexpr wchar_t NO_SOURCE[] = L"Du måste ange en källfil!";
constexpr wchar_t ENCRYPT_AGAIN[] = L"Vill du kryptera filen ytterligare en gång?";
constexpr wchar_t SAME_FILE[] = L"Fel: Källa och mål kan inte vara samma fil!";
constexpr wchar_t NO_PASSPHRASE[] = L"Du måste ange en lösenfras.";
constexpr wchar_t NO_REPEAT[] = L"Du måste repetera lösenfrasen två gånger för att undvika att du skriver fel.";
constexpr wchar_t PASSPHRASES_DIFFER[] = L"Lösenfraserna stämmer ej överens.";
constexpr wchar_t UNREPRESENTABLE[] = L"Lösenfrasen innehåller tecken som inte kan användas.";
constexpr wchar_t SHORT_PASSPHRASE[] =
    L"VARNING! Korta lösenfraser bör ej användas eftersom krypteringen inte blir tillräckligt säker. "
    L"Vill du fortsätta ändå?";
constexpr wchar_t NO_KEY_FILE[] = L"Du måste ange en nyckelfil.";
constexpr wchar_t KEY_FILE_UNREADABLE[] = L"Kunde inte läsa filen.";
constexpr wchar_t KEY_FILE_BAD_FORMAT[] = L"Felaktigt format på nyckelfilen.";
constexpr wchar_t KEY_FILE_BAD_VERSION[] = L"Felaktigt version på nyckelfilen.";
constexpr wchar_t NO_KEY_CODE[] = L"Du måste ange en nyckelkod.";
constexpr wchar_t BAD_KEY_CODE[] = L"Nyckelkoden har ett felaktigt format.";

constexpr wchar_t READ_ERROR[] = L"Fel vid läsning av källfilen.";
constexpr wchar_t WRITE_ERROR[] = L"Fel vid skrivning till målfilen.";
constexpr wchar_t CRYPTO_ERROR[] = L"Krypteringsfel, kontrollera val av krypteringsmetod och formatet på filen.";
constexpr wchar_t WRONG_KEY[] = L"Felaktig nyckelfil, nyckelkod eller lösenfras för den här filen.";

constexpr wchar_t STATUS_ENCRYPTING[] = L"Krypterar...";
constexpr wchar_t STATUS_COMPRESSING[] = L"Komprimerar och krypterar...";
constexpr wchar_t STATUS_DECRYPTING[] = L"Dekrypterar...";
constexpr wchar_t STATUS_CANCELLING[] = L"Avbryter...";

// --- Constants of the driver ---

// Wine's message boxes show their icon in a static with this id; it holds no icon when the box
// was asked for none.
constexpr int MESSAGE_BOX_ICON_ID = 0x440;
// How long a window that must not appear is given to show up anyway. A late window is still
// caught: the next step finds it where it expects something else.
constexpr DWORD ABSENCE_WAIT_MS = 700;
// A generous bound for a job under Wine; the wait ends as soon as the job is over.
constexpr DWORD JOB_TIMEOUT_MS = 600000;
constexpr size_t CHUNK_BYTES = 2097152;
// The bar's range before anyone sets it.
constexpr LRESULT DEFAULT_BAR_HIGH = 100;
// A key code known in advance: "<", 64 hexadecimal digits, ">".
constexpr wchar_t FIXED_KEY_HEX[] = L"0f1e2d3c4b5a69788796a5b4c3d2e1f00123456789abcdeffedcba9876543210";

enum Method { BY_KEY_FILE, BY_KEY_CODE, BY_PASSPHRASE };

int radioOf(Method method) {
    switch (method) {
    case BY_KEY_FILE: return IDC_MAIN_METHOD_KEY_FILE;
    case BY_KEY_CODE: return IDC_MAIN_METHOD_KEY_CODE;
    case BY_PASSPHRASE: return IDC_MAIN_METHOD_PASSPHRASE;
    }
    return IDC_MAIN_METHOD_KEY_FILE;
}

const char* nameOf(Method method) {
    switch (method) {
    case BY_KEY_FILE: return "key file";
    case BY_KEY_CODE: return "key code";
    case BY_PASSPHRASE: return "passphrase";
    }
    return "?";
}

// --- Files ---

struct Folders {
    std::wstring work;  // sources and targets; its listing is compared before and after each job
    std::wstring keys;  // key files, the tool's key texts and its output
};
Folders folders;

std::wstring workPath(const std::wstring& name) { return folders.work + L"\\" + name; }
std::wstring keyPath(const std::wstring& name) { return folders.keys + L"\\" + name; }

// Text-like bytes with some noise: the codec finds something to compress, and the seed makes every
// file different.
std::vector<uint8_t> sampleBytes(size_t size, uint32_t seed) {
    static const char* const WORDS[] = {"kryptering ", "fil ",   "nyckel ", "data ",  "\r\n",
                                        "2018 ",       "block ", "och ",    "chunk ", "Ferrolyn "};
    std::vector<uint8_t> bytes;
    bytes.reserve(size);
    uint32_t state = seed * 2654435761u + 12345u;
    while (bytes.size() < size) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (state % 5 == 0) {
            bytes.push_back(static_cast<uint8_t>(state >> 24));
            continue;
        }
        for (const char* c = WORDS[(state >> 8) % 10]; *c != '\0' && bytes.size() < size; ++c) {
            bytes.push_back(static_cast<uint8_t>(*c));
        }
    }
    return bytes;
}

std::vector<uint8_t> utf8Bytes(const std::wstring& text) {
    const std::string bytes = narrow(text);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void appendU32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void appendField(std::vector<uint8_t>& bytes, const std::string& field) {
    appendU32(bytes, static_cast<uint32_t>(field.size()));
    bytes.insert(bytes.end(), field.begin(), field.end());
}

// A key file's bytes: the length prefix, the magic field, the version, an 8-byte identifier field
// and a 32-byte key field.
std::vector<uint8_t> keyFileBytes(const std::string& magic, uint16_t version) {
    std::vector<uint8_t> payload;
    appendField(payload, magic);
    payload.push_back(static_cast<uint8_t>(version));
    payload.push_back(static_cast<uint8_t>(version >> 8));
    appendField(payload, std::string(8, '\x5a'));
    appendField(payload, std::string(32, '\x3c'));
    std::vector<uint8_t> bytes;
    appendU32(bytes, static_cast<uint32_t>(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::string joined(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names) text += (text.empty() ? "" : ", ") + narrow(name);
    return "[" + text + "]";
}

// The work folder holds exactly these names (and so no temporary file of a job).
void checkWorkFolder(std::vector<std::wstring> expected, const std::string& what) {
    std::sort(expected.begin(), expected.end());
    const std::vector<std::wstring> actual = folderEntries(folders.work);
    check(actual == expected, what + ": the work folder holds " + joined(actual) + ", expected " + joined(expected));
}

std::vector<std::wstring> withName(std::vector<std::wstring> names, const std::wstring& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// --- The command-line tool ---

std::string describeRun(const ToolRun& run) {
    return "exit " + std::to_string(run.status) + (run.output.empty() ? "" : ", said: " + run.output);
}

// Every kind of key, for the window and for the tool.
struct Keys {
    std::wstring keyFile;
    std::wstring keyCode;      // as typed into the window
    std::wstring keyCodeFile;  // a key code for the tool, on its first line
    std::wstring passphrase;
    std::wstring passphraseFile;  // UTF-8, for the tool
};

Keys makeKeys(const std::wstring& tag, const std::wstring& passphrase) {
    Keys keys;
    keys.keyFile = keyPath(tag + L".key");
    const ToolRun keyFile = runTool(L"new-key-file " + quoted(keys.keyFile));
    check(keyFile.status == 0 && readFile(keys.keyFile).size() == 71,
          "the tool makes a key file: " + describeRun(keyFile));
    const ToolRun code = runTool(L"new-key-code");
    std::string line = code.output.substr(0, code.output.find_first_of("\r\n"));
    check(code.status == 0 && line.size() == 66, "the tool prints a key code: " + describeRun(code));
    keys.keyCode.assign(line.begin(), line.end());
    keys.keyCodeFile = keyPath(tag + L"-code.txt");
    writeFile(keys.keyCodeFile, utf8Bytes(keys.keyCode + L"\r\n"));
    keys.passphrase = passphrase;
    keys.passphraseFile = keyPath(tag + L"-passphrase.txt");
    writeFile(keys.passphraseFile, utf8Bytes(passphrase + L"\n"));
    return keys;
}

std::wstring toolKey(Method method, const Keys& keys) {
    switch (method) {
    case BY_KEY_FILE: return L"--key-file " + quoted(keys.keyFile);
    case BY_KEY_CODE: return L"--key-code-file " + quoted(keys.keyCodeFile);
    case BY_PASSPHRASE: return L"--passphrase-file " + quoted(keys.passphraseFile);
    }
    return L"";
}

// The tool turns the container back into exactly these bytes.
void checkToolDecrypts(const std::wstring& container, const std::wstring& key, const std::vector<uint8_t>& original) {
    const std::wstring out = keyPath(L"tool-decrypted.bin");
    DeleteFileW(out.c_str());
    const ToolRun run = runTool(L"decrypt " + quoted(container) + L" -o " + quoted(out) + L" " + key);
    check(run.status == 0, "the tool decrypts " + narrow(container) + ": " + describeRun(run));
    check(exists(out) && readFile(out) == original, "the tool's decryption gives the original bytes");
    DeleteFileW(out.c_str());
}

// The container's header names this cipher and compression.
void checkToolInfo(const std::wstring& container, int cipher, bool compress) {
    const ToolRun run = runTool(L"info " + quoted(container));
    check(run.status == 0, "the tool reads the header: " + describeRun(run));
    const std::string cipherName = cipher == 1 ? "Serpent CBC" : "AES-256 CBC";
    const std::string compression = compress ? "Komprimering: ja" : "Komprimering: nej";
    check(run.output.find(cipherName) != std::string::npos && run.output.find(compression) != std::string::npos,
          "the header says " + cipherName + " and \"" + compression + "\": " + run.output);
}

void toolEncrypt(const std::wstring& source, const std::wstring& target, const std::wstring& key, int cipher,
                 bool compress) {
    const ToolRun run = runTool(L"encrypt " + quoted(source) + L" -o " + quoted(target) + L" --force " + key +
                                (cipher == 1 ? L" --cipher serpent" : L" --cipher aes") +
                                (compress ? L" --compress" : L" --no-compress"));
    check(run.status == 0, "the tool encrypts " + narrow(source) + ": " + describeRun(run));
}

// --- The program and its windows ---

struct Session {
    Program program;
    HWND main = nullptr;
    DWORD pid() const { return program.info.dwProcessId; }
};

// Starts Ferrolyn with a ready generator and waits for its main window.
bool openSession(Session& s) {
    prepareWorkFolder();
    s.program = startProgram();
    s.main = s.program.running ? waitFor([&] { return findMainWindow(s.pid()); }) : nullptr;
    check(s.main != nullptr, "the main window opens");
    return s.main != nullptr;
}

HWND findSaveDialog(const Session& s) {
    if (HWND dialog = findDialog(s.pid(), SAVE_ENCRYPTED_TITLE)) return dialog;
    return findDialog(s.pid(), SAVE_ANY_TITLE);
}

HWND findProgressDialog(const Session& s) { return findProgramDialog(s.pid(), IDC_PROGRESS_BAR); }

// What a press of a button brought up.
struct Popup {
    enum Kind { NONE, MESSAGE, SAVE_DIALOG, PROGRESS } kind = NONE;
    HWND window = nullptr;
};

Popup currentPopup(const Session& s) {
    if (HWND box = findMessageBox(s.pid())) return {Popup::MESSAGE, box};
    if (HWND dialog = findSaveDialog(s)) return {Popup::SAVE_DIALOG, dialog};
    if (HWND dialog = findProgressDialog(s)) return {Popup::PROGRESS, dialog};
    return {};
}

Popup waitForPopup(const Session& s, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
    Popup popup;
    waitFor(
        [&] {
            popup = currentPopup(s);
            return popup.window;
        },
        timeoutMs);
    return popup;
}

std::string describe(const Popup& popup) {
    switch (popup.kind) {
    case Popup::NONE: return "nothing";
    case Popup::MESSAGE: return "the message \"" + narrow(controlText(popup.window, MESSAGE_BOX_TEXT_ID)) + "\"";
    case Popup::SAVE_DIALOG: return "the save dialog";
    case Popup::PROGRESS: return "the progress dialog";
    }
    return "?";
}

void waitUntilGone(HWND window, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
    waitFor([&] { return IsWindow(window) ? nullptr : HWND(1); }, timeoutMs);
}

void answerBox(HWND box, int button) {
    clickButton(GetDlgItem(box, button));
    waitUntilGone(box);
}

// Closes whatever a failed step left open, so that the next case starts at the main window.
void dismissStrays(const Session& s) {
    for (int round = 0; round < 10; ++round) {
        const Popup popup = currentPopup(s);
        switch (popup.kind) {
        case Popup::NONE: return;
        case Popup::MESSAGE:
            for (int button : {IDNO, IDOK, IDCANCEL}) {
                HWND control = GetDlgItem(popup.window, button);
                if (control != nullptr && IsWindowVisible(control)) {
                    clickButton(control);
                    break;
                }
            }
            break;
        case Popup::SAVE_DIALOG: cancelFileDialog(popup.window); break;
        case Popup::PROGRESS: break;
        }
        waitUntilGone(popup.window, popup.kind == Popup::PROGRESS ? JOB_TIMEOUT_MS : WINDOW_TIMEOUT_MS);
    }
}

void closeSession(Session& s) {
    if (s.main != nullptr) {
        dismissStrays(s);
        PostMessageW(s.main, WM_CLOSE, 0, 0);
    }
    checkExitCode(s.program, 0);
}

enum Buttons { OK_ONLY, YES_NO };
enum Icon { ICON_NOT_CHECKED, NO_ICON, WARNING_ICON };

// A square of size x size pixels, 0x00RRGGBB each: what the screen shows at left, top, or, with an
// icon, that icon drawn on the background colour.
std::vector<uint32_t> squarePixels(int left, int top, int size, HICON icon, COLORREF background) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<uint32_t> pixels;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (icon != nullptr) {
            HBRUSH brush = CreateSolidBrush(background);
            RECT all = {0, 0, size, size};
            FillRect(memory, &all, brush);
            DeleteObject(brush);
            DrawIconEx(memory, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        } else {
            BitBlt(memory, 0, 0, size, size, screen, left, top, SRCCOPY);
        }
        GdiFlush();
        const uint32_t* start = static_cast<const uint32_t*>(bits);
        pixels.assign(start, start + size * size);
        for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Icon handles do not cross processes, so the box's icon is compared by its pixels on the screen
// with the system's warning icon drawn here on the same background.
bool showsWarningIcon(HWND iconControl) {
    RECT r;
    GetWindowRect(iconControl, &r);
    const int size = GetSystemMetrics(SM_CXICON);
    HDC screen = GetDC(nullptr);
    const COLORREF background = GetPixel(screen, r.left - 1, r.top);
    ReleaseDC(nullptr, screen);
    const std::vector<uint32_t> expected = squarePixels(0, 0, size, LoadIconA(nullptr, IDI_WARNING), background);
    // The box may not have painted yet; wait for the picture rather than look once.
    return waitFor([&] { return squarePixels(r.left, r.top, size, nullptr, 0) == expected ? iconControl : nullptr; }) !=
           nullptr;
}

// A message box of the main window: the caption, the text, the owner, the buttons and the icon.
void checkBox(const Session& s, HWND box, const std::wstring& text, Buttons buttons, Icon icon) {
    checkText(controlText(box, MESSAGE_BOX_TEXT_ID), text, "message");
    checkText(windowText(box), PROGRAM_CAPTION, "message caption");
    check(GetWindow(box, GW_OWNER) == s.main, "the message box is owned by the main window");
    auto shown = [&](int id) {
        HWND button = GetDlgItem(box, id);
        return button != nullptr && IsWindowVisible(button);
    };
    const bool question = buttons == YES_NO;
    check(shown(IDOK) != question && shown(IDYES) == question && shown(IDNO) == question && !shown(IDCANCEL) &&
              !shown(IDABORT) && !shown(IDRETRY) && !shown(IDIGNORE),
          question ? "the question has Yes and No only" : "the message has OK only");
    if (icon == ICON_NOT_CHECKED) return;
    HWND iconControl = GetDlgItem(box, MESSAGE_BOX_ICON_ID);
    const bool hasIcon = iconControl != nullptr && SendMessageW(iconControl, STM_GETICON, 0, 0) != 0;
    if (icon == NO_ICON) {
        check(!hasIcon, "the message box shows no icon");
    } else {
        check(hasIcon && showsWarningIcon(iconControl), "the message box shows the warning icon");
    }
}

// Expects a message box now: checks it and answers it.
bool expectBox(const Session& s, const std::wstring& text, Buttons buttons, Icon icon, int answer,
               const std::wstring& shot = L"") {
    const Popup popup = waitForPopup(s);
    check(popup.kind == Popup::MESSAGE, "expected the message \"" + narrow(text) + "\", saw " + describe(popup));
    if (popup.kind != Popup::MESSAGE) {
        dismissStrays(s);
        return false;
    }
    checkBox(s, popup.window, text, buttons, icon);
    if (!shot.empty()) screenshot(shot);
    answerBox(popup.window, answer);
    return true;
}

// Nothing opens after the last answer: no message, no save dialog, no job.
void expectNothingFollows(const Session& s, const std::string& what) {
    settle(s.main);
    const Popup popup = waitForPopup(s, ABSENCE_WAIT_MS);
    check(popup.kind == Popup::NONE, what + ": nothing follows, but saw " + describe(popup));
    dismissStrays(s);
    check(IsWindowEnabled(s.main) != 0, what + ": the main window is enabled");
}

void chooseMethod(HWND main, int radio) {
    auto checked = [&] { return SendMessageW(GetDlgItem(main, radio), BM_GETCHECK, 0, 0) == BST_CHECKED; };
    if (!checked()) {
        clickControl(main, radio);
        settle(main);
    }
    check(waitFor([&] { return checked() ? main : nullptr; }) != nullptr, "the key method is chosen");
}

void enterFields(HWND main, int radio, const std::wstring& keyFile, const std::wstring& keyCode,
                 const std::wstring& passphrase, const std::wstring& repeat) {
    chooseMethod(main, radio);
    setControlText(main, IDC_MAIN_KEY_FILE_PATH, keyFile);
    setControlText(main, IDC_MAIN_KEY_CODE, keyCode);
    setControlText(main, IDC_MAIN_PASSPHRASE, passphrase);
    setControlText(main, IDC_MAIN_PASSPHRASE_REPEAT, repeat);
}

// Chooses the method and gives it the right key. The other methods' fields get keys that would be
// refused, so every job that runs also shows that only the chosen method is read.
void enterKey(HWND main, Method method, const Keys& keys) {
    enterFields(main, radioOf(method), method == BY_KEY_FILE ? keys.keyFile : keyPath(L"missing.key"),
                method == BY_KEY_CODE ? keys.keyCode : L"<ingen nyckelkod>",
                method == BY_PASSPHRASE ? keys.passphrase : L"en lösenfras",
                method == BY_PASSPHRASE ? keys.passphrase : L"en annan lösenfras");
}

// --- Jobs through the window ---

struct BarReading {
    LRESULT low = 0;
    LRESULT high = DEFAULT_BAR_HIGH;
    LRESULT position = 0;
    bool isDefault() const { return low == 0 && high == DEFAULT_BAR_HIGH; }
};

// False when the dialog went away during the reading, which then means nothing.
bool readBar(HWND dialog, BarReading& reading) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    if (bar == nullptr) return false;
    reading.low = SendMessageW(bar, PBM_GETRANGE, TRUE, 0);
    reading.high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    reading.position = SendMessageW(bar, PBM_GETPOS, 0, 0);
    return IsWindow(bar) && IsWindow(dialog);
}

bool centredOnMainWindow(HWND main, HWND dialog) {
    RECT d;
    GetWindowRect(dialog, &d);
    const POINT expected = centredOverMain(main, dialog);
    return d.left == expected.x && d.top == expected.y;
}

// Called on every reading of the bar while the progress dialog is open.
using ProgressHook = std::function<void(HWND dialog, const BarReading& reading)>;

struct ProgressSeen {
    std::wstring firstStatus;
    bool mainDisabled = false;
    bool centred = false;
    bool ownedByMain = false;
    bool closed = false;
    bool rangeEverSet = false;
    bool everMoved = false;
    BarReading last;  // the last reading before the dialog closed
};

ProgressSeen watchProgress(const Session& s, HWND dialog, const ProgressHook& hook) {
    ProgressSeen seen;
    seen.firstStatus = controlText(dialog, IDC_PROGRESS_STATUS);
    seen.mainDisabled = !IsWindowEnabled(s.main);
    seen.centred = centredOnMainWindow(s.main, dialog);
    seen.ownedByMain = GetWindow(dialog, GW_OWNER) == s.main;
    const DWORD start = GetTickCount();
    while (IsWindow(dialog) && GetTickCount() - start < JOB_TIMEOUT_MS) {
        BarReading reading;
        if (readBar(dialog, reading)) {
            seen.last = reading;
            seen.rangeEverSet = seen.rangeEverSet || !reading.isDefault();
            seen.everMoved = seen.everMoved || reading.position != 0;
            if (hook) hook(dialog, reading);
        }
        Sleep(POLL_MS);
    }
    seen.closed = !IsWindow(dialog);
    return seen;
}

enum Outcome { SUCCEEDS, FAILS, CANCELLED };

struct JobRun {
    bool encrypt = true;
    std::wstring source;      // typed into the source field
    std::wstring target;      // chosen in the save dialog
    std::wstring suggestion;  // the save dialog's suggested name; empty: not checked
    std::wstring question;    // a question answered Yes before the save dialog; empty: none comes
    Icon questionIcon = NO_ICON;
    std::wstring status;  // the progress dialog's status text
    Outcome outcome = SUCCEEDS;
    std::wstring message;  // the failed job's message
    ProgressHook hook;
    std::wstring saveShot, progressShot, messageShot;
};

// After the progress dialog: the failure's message or none, and the source field emptied only by
// a success.
void checkJobEnd(const Session& s, const JobRun& run) {
    if (run.outcome == FAILS) {
        HWND box = waitFor([&] { return findMessageBox(s.pid()); });
        check(box != nullptr, "the job's message \"" + narrow(run.message) + "\" appears");
        if (box != nullptr) {
            checkBox(s, box, run.message, OK_ONLY, ICON_NOT_CHECKED);
            if (!run.messageShot.empty()) screenshot(run.messageShot);
            answerBox(box, IDOK);
        }
    } else {
        HWND box = waitFor([&] { return findMessageBox(s.pid()); }, ABSENCE_WAIT_MS);
        check(box == nullptr, "no message after the job, but saw \"" +
                                  narrow(box != nullptr ? controlText(box, MESSAGE_BOX_TEXT_ID) : L"") + "\"");
        if (box != nullptr) answerBox(box, IDOK);
    }
    settle(s.main);
    checkText(controlText(s.main, IDC_MAIN_SOURCE_PATH), run.outcome == SUCCEEDS ? L"" : run.source,
              run.outcome == SUCCEEDS ? "the source field is emptied by a success" : "the source field keeps the path");
    check(IsWindowEnabled(s.main) != 0, "the main window is enabled after the job");
}

// Presses "Kryptera" or "Dekryptera", answers the question if one is expected, chooses the target,
// follows the progress dialog and checks how the job ends. Returns what the progress dialog showed
// (nothing when the job never started).
ProgressSeen runJob(const Session& s, const JobRun& run) {
    ProgressSeen none;
    dismissStrays(s);
    setControlText(s.main, IDC_MAIN_SOURCE_PATH, run.source);
    clickControl(s.main, run.encrypt ? IDC_MAIN_ENCRYPT : IDC_MAIN_DECRYPT);
    if (!run.question.empty() && !expectBox(s, run.question, YES_NO, run.questionIcon, IDYES)) return none;
    Popup popup = waitForPopup(s);
    check(popup.kind == Popup::SAVE_DIALOG, "expected the save dialog, saw " + describe(popup));
    if (popup.kind != Popup::SAVE_DIALOG) {
        dismissStrays(s);
        return none;
    }
    checkText(windowText(popup.window), run.encrypt ? SAVE_ENCRYPTED_TITLE : SAVE_ANY_TITLE, "save dialog title");
    if (!run.suggestion.empty()) {
        checkText(windowText(fileNameField(popup.window)), run.suggestion, "suggested name");
    }
    if (!run.saveShot.empty()) screenshot(run.saveShot);
    if (!chooseInFileDialog(popup.window, run.target, exists(run.target))) {
        check(false, "the save dialog closes");
        dismissStrays(s);
        return none;
    }
    popup = waitForPopup(s);
    check(popup.kind == Popup::PROGRESS, "expected the progress dialog, saw " + describe(popup));
    if (popup.kind != Popup::PROGRESS) {
        dismissStrays(s);
        return none;
    }
    bool shotTaken = run.progressShot.empty();
    const ProgressSeen seen = watchProgress(s, popup.window, [&](HWND dialog, const BarReading& reading) {
        if (!shotTaken) {
            screenshot(run.progressShot);
            shotTaken = true;
        }
        if (run.hook) run.hook(dialog, reading);
    });
    checkText(seen.firstStatus, run.status, "status text");
    check(seen.mainDisabled, "the main window is disabled while the job runs");
    check(seen.centred, "the progress dialog is centred on the main window");
    check(seen.ownedByMain, "the progress dialog is owned by the main window");
    check(seen.closed, "the progress dialog closes");
    checkJobEnd(s, run);
    return seen;
}

// --- Round trips between window and tool ---

// Every method, cipher and compression setting through the window; the tool decrypts each
// container and reads its header. The settings file changes between jobs of one session.
void windowEncryptsToolDecrypts(const Session& s, const Keys& keys) {
    const wchar_t* const names[] = {L"plain.txt", L"kvitto-åäö.txt", L"pris-€.txt", L"rapport.pdf"};
    int row = 0;
    for (Method method : {BY_KEY_FILE, BY_KEY_CODE, BY_PASSPHRASE}) {
        for (int cipher : {0, 1}) {
            for (bool compress : {false, true}) {
                results.scenario = std::string("window encrypts, tool decrypts: ") + nameOf(method) +
                                   (cipher == 1 ? ", Serpent" : ", AES-256") + (compress ? ", compressed" : "");
                const std::wstring name = std::to_wstring(row) + L"-" + names[row % 4];
                const std::vector<uint8_t> original = sampleBytes(3000 + 517 * static_cast<size_t>(row), row);
                check(writeFile(workPath(name), original), "made the source");
                check(writeSettingsFile(cipher, compress), "wrote the settings");
                const std::vector<std::wstring> before = folderEntries(folders.work);
                enterKey(s.main, method, keys);
                setControlText(s.main, IDC_MAIN_SOURCE_PATH, workPath(name));
                if (row == 0) screenshot(L"workflow_main_window_filled");
                JobRun run;
                run.source = workPath(name);
                run.suggestion = name + L".encrypted";
                run.target = workPath(run.suggestion);
                run.status = compress ? STATUS_COMPRESSING : STATUS_ENCRYPTING;
                if (row == 0) run.saveShot = L"workflow_save_dialog";
                runJob(s, run);
                checkWorkFolder(withName(before, run.suggestion), "after the job");
                checkToolDecrypts(run.target, toolKey(method, keys), original);
                checkToolInfo(run.target, cipher, compress);
                check(readFile(workPath(name)) == original, "the source is unchanged");
                ++row;
            }
        }
    }
}

// Containers of the tool, with every method and cipher, decrypt in the window to the original
// bytes; the suggested name drops ".encrypted".
void toolEncryptsWindowDecrypts(const Session& s, const Keys& keys) {
    int row = 0;
    for (Method method : {BY_KEY_FILE, BY_KEY_CODE, BY_PASSPHRASE}) {
        for (int cipher : {0, 1}) {
            const bool compress = row % 2 == 0;
            results.scenario = std::string("tool encrypts, window decrypts: ") + nameOf(method) +
                               (cipher == 1 ? ", Serpent" : ", AES-256") + (compress ? ", compressed" : "");
            const std::wstring name = L"tool-" + std::to_wstring(row) + L".pdf";
            const std::vector<uint8_t> original = sampleBytes(2000 + 733 * static_cast<size_t>(row), 100 + row);
            const std::wstring plain = keyPath(name);
            writeFile(plain, original);
            const std::wstring container = workPath(name + L".encrypted");
            toolEncrypt(plain, container, toolKey(method, keys), cipher, compress);
            DeleteFileW(plain.c_str());
            const std::vector<std::wstring> before = folderEntries(folders.work);
            enterKey(s.main, method, keys);
            JobRun run;
            run.encrypt = false;
            run.source = container;
            run.suggestion = name;
            run.target = workPath(name);
            run.status = STATUS_DECRYPTING;
            runJob(s, run);
            checkWorkFolder(withName(before, name), "after the job");
            check(readFile(run.target) == original, "the window's decryption gives the original bytes");
            ++row;
        }
    }
}

// --- The progress bar ---

// The bar's range and position as the job leaves them: never set for an empty file, 0..0 for one
// chunk, 0..2 reaching 2 for three chunks; in both directions.
void progressBar(const Session& s, const Keys& keys) {
    struct Case {
        const char* name;
        const wchar_t* file;
        size_t size;
        int cipher;
        bool compress;
        LRESULT lastIndex;  // -1: the range is never set
        const wchar_t* shot;
    };
    static const Case cases[] = {
        {"empty file", L"empty.bin", 0, 0, false, -1, nullptr},
        {"one chunk", L"one-chunk.bin", 100000, 1, false, 0, nullptr},
        {"three chunks", L"three-chunks.bin", 5 * 1048576, 1, true, 2, L"workflow_progress_dialog"},
    };
    enterKey(s.main, BY_KEY_FILE, keys);
    for (const Case& c : cases) {
        const std::vector<uint8_t> original = sampleBytes(c.size, 7);
        check(writeFile(workPath(c.file), original), "made the source");
        for (bool encrypt : {true, false}) {
            results.scenario = std::string("progress bar, ") + c.name + (encrypt ? ", encrypting" : ", decrypting");
            check(writeSettingsFile(c.cipher, c.compress), "wrote the settings");
            const std::wstring container = workPath(std::wstring(c.file) + L".encrypted");
            JobRun run;
            run.encrypt = encrypt;
            run.source = encrypt ? workPath(c.file) : container;
            run.target = encrypt ? container : workPath(std::wstring(L"back-") + c.file);
            run.status = !encrypt ? STATUS_DECRYPTING : c.compress ? STATUS_COMPRESSING : STATUS_ENCRYPTING;
            if (encrypt && c.shot != nullptr) run.progressShot = c.shot;
            const ProgressSeen seen = runJob(s, run);
            const BarReading& bar = seen.last;
            if (c.lastIndex < 0) {
                check(!seen.rangeEverSet && !seen.everMoved && bar.isDefault() && bar.position == 0,
                      "the bar keeps its default range 0..100 at position 0; last seen " + std::to_string(bar.low) +
                          ".." + std::to_string(bar.high) + " at " + std::to_string(bar.position));
            } else {
                check(bar.low == 0 && bar.high == c.lastIndex && bar.position == c.lastIndex,
                      "the bar ends at range 0.." + std::to_string(c.lastIndex) + " and position " +
                          std::to_string(c.lastIndex) + "; last seen " + std::to_string(bar.low) + ".." +
                          std::to_string(bar.high) + " at " + std::to_string(bar.position));
            }
            if (encrypt) {
                checkToolDecrypts(container, toolKey(BY_KEY_FILE, keys), original);
            } else {
                check(exists(run.target) && readFile(run.target) == original, "decrypted to the original bytes");
            }
        }
    }
}

// --- Input checks, questions, suggested names ---

struct InputCase {
    const char* name;
    bool encrypt;
    int radio;
    std::wstring source;  // in the work folder; empty: the field is left empty
    std::wstring keyFile;
    std::wstring keyCode;
    std::wstring passphrase;
    std::wstring repeat;
    const wchar_t* message;
};

// Each refusal of the source, passphrase, key file and key code checks, in the order they run:
// where several inputs are wrong, the first check's message is the one shown. Only the chosen
// method's fields are read.
void inputRefusals(const Session& s, const Keys& keys) {
    writeFile(workPath(L"input.txt"), sampleBytes(1000, 3));
    writeFile(keyPath(L"bad-magic.key"), keyFileBytes("EncryptionKez", 0));
    writeFile(keyPath(L"magic-with-nul.key"), keyFileBytes(std::string("EncryptionKey\0", 14), 0));
    writeFile(keyPath(L"version-1.key"), keyFileBytes("EncryptionKey", 1));
    writeFile(keyPath(L"zero-bytes.key"), {});
    std::vector<uint8_t> cut = keyFileBytes("EncryptionKey", 0);
    cut.resize(4 + 60);  // declares 67 payload bytes, holds 60
    writeFile(keyPath(L"short.key"), cut);
    std::vector<uint8_t> huge = keyFileBytes("EncryptionKey", 0);
    huge[0] = 0x01, huge[1] = 0x00, huge[2] = 0x00, huge[3] = 0x40;  // declares 2^30 + 1 bytes
    writeFile(keyPath(L"huge.key"), huge);

    const std::wstring hex = FIXED_KEY_HEX;
    const std::wstring code = L"<" + hex + L">";
    const std::wstring good = L"en bra lösenfras";
    const std::wstring source = L"input.txt";
    const int FILE_METHOD = IDC_MAIN_METHOD_KEY_FILE, CODE_METHOD = IDC_MAIN_METHOD_KEY_CODE;
    const int PASS_METHOD = IDC_MAIN_METHOD_PASSPHRASE;
    const std::vector<InputCase> cases = {
        {"empty source before an empty key", true, FILE_METHOD, L"", L"", L"", L"", L"", NO_SOURCE},
        {"empty source, passphrase method", false, PASS_METHOD, L"", L"", L"", L"", L"", NO_SOURCE},
        {"empty passphrase", true, PASS_METHOD, source, keys.keyFile, code, L"", good, NO_PASSPHRASE},
        {"both passphrase fields empty", false, PASS_METHOD, source, L"", L"", L"", L"", NO_PASSPHRASE},
        {"empty repeat", true, PASS_METHOD, source, L"", L"", good, L"", NO_REPEAT},
        {"different passphrases", true, PASS_METHOD, source, L"", L"", good, L"en bra lösenfraz", PASSPHRASES_DIFFER},
        {"letter case only", true, PASS_METHOD, source, L"", L"", good, L"En bra lösenfras", PASSPHRASES_DIFFER},
        {"a trailing space", false, PASS_METHOD, source, L"", L"", good, good + L" ", PASSPHRASES_DIFFER},
        {"different before unrepresentable", true, PASS_METHOD, source, L"", L"", L"Ωmega-fras-123", L"Ωmega-fras-124",
         PASSPHRASES_DIFFER},
        {"Greek letters", true, PASS_METHOD, source, L"", L"", L"Ωmega fras 1234", L"Ωmega fras 1234", UNREPRESENTABLE},
        {"CJK characters", false, PASS_METHOD, source, L"", L"", L"鍵の言葉パスフレーズ", L"鍵の言葉パスフレーズ",
         UNREPRESENTABLE},
        {"unrepresentable before the short question", true, PASS_METHOD, source, L"", L"", L"Ωω", L"Ωω",
         UNREPRESENTABLE},
        {"passphrase method ignores a good key file and code", true, PASS_METHOD, source, keys.keyFile, code, L"", L"",
         NO_PASSPHRASE},
        {"empty key-file field, key code typed", true, FILE_METHOD, source, L"", code, good, good, NO_KEY_FILE},
        {"missing key file", true, FILE_METHOD, source, keyPath(L"missing.key"), L"", L"", L"", KEY_FILE_UNREADABLE},
        {"missing key file", false, FILE_METHOD, source, keyPath(L"missing.key"), L"", L"", L"", KEY_FILE_UNREADABLE},
        {"bad magic", true, FILE_METHOD, source, keyPath(L"bad-magic.key"), L"", L"", L"", KEY_FILE_BAD_FORMAT},
        {"magic with a NUL", true, FILE_METHOD, source, keyPath(L"magic-with-nul.key"), L"", L"", L"",
         KEY_FILE_BAD_FORMAT},
        {"zero-byte key file", false, FILE_METHOD, source, keyPath(L"zero-bytes.key"), L"", L"", L"",
         KEY_FILE_BAD_FORMAT},
        {"version 1", true, FILE_METHOD, source, keyPath(L"version-1.key"), L"", L"", L"", KEY_FILE_BAD_VERSION},
        {"declares 67 bytes, holds 60", true, FILE_METHOD, source, keyPath(L"short.key"), L"", L"", L"",
         KEY_FILE_UNREADABLE},
        {"declares more than 1 GiB", true, FILE_METHOD, source, keyPath(L"huge.key"), L"", L"", L"",
         KEY_FILE_UNREADABLE},
        {"empty key code, key file given", true, CODE_METHOD, source, keys.keyFile, L"", good, good, NO_KEY_CODE},
        {"65 digits", true, CODE_METHOD, source, L"", L"<" + hex + L"0>", L"", L"", BAD_KEY_CODE},
        {"63 digits", false, CODE_METHOD, source, L"", L"<" + hex.substr(1) + L">", L"", L"", BAD_KEY_CODE},
        {"no brackets", true, CODE_METHOD, source, L"", hex, L"", L"", BAD_KEY_CODE},
        {"a bracket replaced", true, CODE_METHOD, source, L"", L"(" + hex + L">", L"", L"", BAD_KEY_CODE},
        {"a digit that is not hexadecimal", false, CODE_METHOD, source, L"", L"<" + hex.substr(1) + L"g>", L"", L"",
         BAD_KEY_CODE},
        {"a space inside", true, CODE_METHOD, source, L"", L"<" + hex.substr(0, 32) + L" " + hex.substr(32) + L">", L"",
         L"", BAD_KEY_CODE},
    };
    const std::vector<std::wstring> before = folderEntries(folders.work);
    bool firstShot = true;
    for (const InputCase& c : cases) {
        results.scenario = std::string("input refused: ") + c.name + (c.encrypt ? ", encrypting" : ", decrypting");
        dismissStrays(s);
        enterFields(s.main, c.radio, c.keyFile, c.keyCode, c.passphrase, c.repeat);
        const std::wstring sourceText = c.source.empty() ? L"" : workPath(c.source);
        setControlText(s.main, IDC_MAIN_SOURCE_PATH, sourceText);
        clickControl(s.main, c.encrypt ? IDC_MAIN_ENCRYPT : IDC_MAIN_DECRYPT);
        expectBox(s, c.message, OK_ONLY, NO_ICON, IDOK, firstShot ? L"workflow_message_box" : L"");
        firstShot = false;
        expectNothingFollows(s, "after the message");
        checkText(controlText(s.main, IDC_MAIN_SOURCE_PATH), sourceText, "the source field is unchanged");
    }
    checkWorkFolder(before, "after the refusals");
}

// The second-encryption question comes before the key is read: No ends quietly, Yes goes on to the
// key checks and then to a job that encrypts the container once more.
void encryptAgainQuestion(const Session& s, const Keys& keys) {
    results.scenario = "encrypting a container again";
    const std::vector<uint8_t> original = sampleBytes(4000, 11);
    writeFile(keyPath(L"twice.txt"), original);
    const std::wstring container = workPath(L"twice.txt.encrypted");
    toolEncrypt(keyPath(L"twice.txt"), container, toolKey(BY_KEY_FILE, keys), 0, false);
    const std::vector<uint8_t> once = readFile(container);
    writeSettingsFile(1, false);
    const std::vector<std::wstring> before = folderEntries(folders.work);

    enterFields(s.main, IDC_MAIN_METHOD_KEY_FILE, L"", L"", L"", L"");
    setControlText(s.main, IDC_MAIN_SOURCE_PATH, container);
    clickControl(s.main, IDC_MAIN_ENCRYPT);
    expectBox(s, ENCRYPT_AGAIN, YES_NO, NO_ICON, IDNO, L"workflow_encrypt_again_question");
    expectNothingFollows(s, "answered No");
    clickControl(s.main, IDC_MAIN_ENCRYPT);
    expectBox(s, ENCRYPT_AGAIN, YES_NO, NO_ICON, IDYES);
    expectBox(s, NO_KEY_FILE, OK_ONLY, NO_ICON, IDOK);
    expectNothingFollows(s, "the key-file message after Yes");
    checkWorkFolder(before, "no job yet");

    enterKey(s.main, BY_KEY_FILE, keys);
    JobRun run;
    run.source = container;
    run.question = ENCRYPT_AGAIN;
    run.suggestion = L"twice.txt.encrypted.encrypted";
    run.target = workPath(run.suggestion);
    run.status = STATUS_ENCRYPTING;
    runJob(s, run);
    checkWorkFolder(withName(before, run.suggestion), "after the job");
    checkToolDecrypts(run.target, toolKey(BY_KEY_FILE, keys), once);
    checkToolInfo(run.target, 1, false);
}

// Fewer than 12 characters draw a warning question when encrypting: No ends quietly, Yes runs the
// job. Twelve characters and any decryption ask nothing.
void shortPassphraseQuestion(const Session& s) {
    results.scenario = "short passphrase";
    const std::wstring eleven = L"elva-tecken";
    const std::wstring twelve = L"tolv-tecken!";
    Keys keys;
    keys.passphrase = eleven;
    keys.passphraseFile = keyPath(L"eleven.txt");
    writeFile(keys.passphraseFile, utf8Bytes(eleven));
    const std::vector<uint8_t> original = sampleBytes(2500, 12);
    writeFile(workPath(L"short.txt"), original);
    writeSettingsFile(0, true);
    const std::vector<std::wstring> before = folderEntries(folders.work);

    enterKey(s.main, BY_PASSPHRASE, keys);
    setControlText(s.main, IDC_MAIN_SOURCE_PATH, workPath(L"short.txt"));
    clickControl(s.main, IDC_MAIN_ENCRYPT);
    expectBox(s, SHORT_PASSPHRASE, YES_NO, WARNING_ICON, IDNO, L"workflow_short_passphrase_question");
    expectNothingFollows(s, "answered No");
    checkWorkFolder(before, "no job after No");

    JobRun run;
    run.source = workPath(L"short.txt");
    run.question = SHORT_PASSPHRASE;
    run.questionIcon = WARNING_ICON;
    run.target = workPath(L"short.txt.encrypted");
    run.status = STATUS_COMPRESSING;
    runJob(s, run);
    checkToolDecrypts(run.target, toolKey(BY_PASSPHRASE, keys), original);

    results.scenario = "short passphrase, decrypting";
    JobRun back;
    back.encrypt = false;
    back.source = run.target;
    back.suggestion = L"short.txt";
    back.target = workPath(L"short-back.txt");
    back.status = STATUS_DECRYPTING;
    runJob(s, back);
    check(readFile(back.target) == original, "decrypted to the original bytes");

    results.scenario = "twelve-character passphrase";
    setControlText(s.main, IDC_MAIN_PASSPHRASE, twelve);
    setControlText(s.main, IDC_MAIN_PASSPHRASE_REPEAT, twelve);
    setControlText(s.main, IDC_MAIN_SOURCE_PATH, workPath(L"short.txt"));
    clickControl(s.main, IDC_MAIN_ENCRYPT);
    const Popup popup = waitForPopup(s);
    check(popup.kind == Popup::SAVE_DIALOG, "no question, straight to the save dialog; saw " + describe(popup));
    if (popup.kind == Popup::SAVE_DIALOG) cancelFileDialog(popup.window);
    expectNothingFollows(s, "save dialog cancelled");
}

// A key code with spaces around it and upper-case digits is accepted, and it is the same key as
// the code in lower case: the tool opens the container with the code as it printed it.
void acceptedKeyCode(const Session& s, const Keys& keys) {
    results.scenario = "key code with spaces and upper-case digits";
    std::wstring upper = keys.keyCode;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    check(upper != keys.keyCode, "the key code has letters to change");
    Keys typed = keys;
    typed.keyCode = L"  " + upper + L"   ";
    const std::vector<uint8_t> original = sampleBytes(3500, 51);
    writeFile(workPath(L"upper.txt"), original);
    writeSettingsFile(1, true);
    enterKey(s.main, BY_KEY_CODE, typed);
    JobRun run;
    run.source = workPath(L"upper.txt");
    run.target = workPath(L"upper.txt.encrypted");
    run.status = STATUS_COMPRESSING;
    runJob(s, run);
    checkToolDecrypts(run.target, toolKey(BY_KEY_CODE, keys), original);

    results.scenario = "key code with spaces and upper-case digits, decrypting";
    enterKey(s.main, BY_KEY_CODE, keys);
    JobRun back;
    back.encrypt = false;
    back.source = run.target;
    back.target = workPath(L"upper-back.txt");
    back.status = STATUS_DECRYPTING;
    runJob(s, back);
    check(readFile(back.target) == original, "decrypted to the original bytes");
}

// The save dialog's suggested name; cancelling it ends the handler without a message or a job.
void suggestedNames(const Session& s, const Keys& keys) {
    struct Case {
        const char* name;
        bool encrypt;
        const wchar_t* source;
        bool asksAgain;
        const wchar_t* suggestion;
    };
    static const Case cases[] = {
        {"encrypting report.pdf", true, L"report.pdf", false, L"report.pdf.encrypted"},
        {"encrypting a container", true, L"x.pdf.encrypted", true, L"x.pdf.encrypted.encrypted"},
        {"encrypting a Swedish name", true, L"kvitto-åäö.txt", false, L"kvitto-åäö.txt.encrypted"},
        {"decrypting x.pdf.encrypted", false, L"x.pdf.encrypted", false, L"x.pdf"},
        {"decrypting report.bin", false, L"report.bin", false, L"report.bin"},
    };
    enterKey(s.main, BY_KEY_CODE, keys);
    const std::vector<std::wstring> before = folderEntries(folders.work);
    for (const Case& c : cases) {
        results.scenario = std::string("suggested name, ") + c.name;
        dismissStrays(s);
        const std::wstring source = workPath(c.source);
        setControlText(s.main, IDC_MAIN_SOURCE_PATH, source);
        clickControl(s.main, c.encrypt ? IDC_MAIN_ENCRYPT : IDC_MAIN_DECRYPT);
        if (c.asksAgain) expectBox(s, ENCRYPT_AGAIN, YES_NO, NO_ICON, IDYES);
        const Popup popup = waitForPopup(s);
        check(popup.kind == Popup::SAVE_DIALOG, "expected the save dialog, saw " + describe(popup));
        if (popup.kind != Popup::SAVE_DIALOG) continue;
        checkText(windowText(fileNameField(popup.window)), c.suggestion, "suggested name");
        cancelFileDialog(popup.window);
        waitUntilGone(popup.window);
        expectNothingFollows(s, "save dialog cancelled");
        checkText(controlText(s.main, IDC_MAIN_SOURCE_PATH), source, "the source field is unchanged");
    }
    checkWorkFolder(before, "no job ran");
}

// A target that is the source, by the same text or by another text naming the same file, is
// refused after the save dialog; the source is untouched.
void sameFileRefused(const Session& s, const Keys& keys) {
    const std::vector<uint8_t> original = sampleBytes(1500, 21);
    writeFile(workPath(L"same.bin"), original);
    // A second name of the same file that no file dialog can turn back into the first.
    check(CreateHardLinkW(workPath(L"alias.bin").c_str(), workPath(L"same.bin").c_str(), nullptr) != 0,
          "made a hard link to the source");
    const std::vector<std::wstring> before = folderEntries(folders.work);
    enterKey(s.main, BY_KEY_FILE, keys);
    struct Case {
        const char* name;
        std::wstring target;
    };
    const Case cases[] = {
        {"the same text", workPath(L"same.bin")},
        {"other letter case", workPath(L"SAME.bin")},
        {"a dot folder in the path", folders.work + L"\\.\\same.bin"},
        {"a hard link", workPath(L"alias.bin")},
    };
    for (const Case& c : cases) {
        for (bool encrypt : {true, false}) {
            results.scenario = std::string("same file, ") + c.name + (encrypt ? ", encrypting" : ", decrypting");
            dismissStrays(s);
            setControlText(s.main, IDC_MAIN_SOURCE_PATH, workPath(L"same.bin"));
            clickControl(s.main, encrypt ? IDC_MAIN_ENCRYPT : IDC_MAIN_DECRYPT);
            const Popup popup = waitForPopup(s);
            check(popup.kind == Popup::SAVE_DIALOG, "expected the save dialog, saw " + describe(popup));
            if (popup.kind != Popup::SAVE_DIALOG) continue;
            check(chooseInFileDialog(popup.window, c.target, true), "the save dialog closes");
            expectBox(s, SAME_FILE, OK_ONLY, NO_ICON, IDOK);
            expectNothingFollows(s, "after the message");
            check(readFile(workPath(L"same.bin")) == original, "the source is unchanged");
            checkWorkFolder(before, "no job ran");
        }
    }
}

// --- File names beyond the ANSI code page ---

// How a name reaches a field of the main window.
enum Entry { TYPED, CHOSEN, DROPPED };

const char* nameOf(Entry entry) {
    switch (entry) {
    case TYPED: return "typed";
    case CHOSEN: return "chosen";
    case DROPPED: return "dropped";
    }
    return "?";
}

// Types text into field key by key, as the WM_CHAR messages of a keyboard (a character beyond the
// basic plane as its two surrogate units). Each is sent, so it has been handled when the call
// returns; a field of an ANSI window would get each character through the ANSI code page.
void typeInto(HWND main, int field, const std::wstring& text) {
    HWND control = GetDlgItem(main, field);
    DWORD_PTR ignored;
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (wchar_t unit : text) {
        SendMessageTimeoutW(control, WM_CHAR, unit, 1, SMTO_NORMAL, WINDOW_TIMEOUT_MS, &ignored);
    }
}

// Puts path into field (the source or the key-file field) the way entry says: typed, chosen in
// the field's open dialog, or dropped on the window.
void enterPath(const Session& s, int field, const std::wstring& path, Entry entry) {
    switch (entry) {
    case TYPED: typeInto(s.main, field, path); break;
    case CHOSEN: {
        clickControl(s.main, field == IDC_MAIN_SOURCE_PATH ? IDC_MAIN_BROWSE_SOURCE : IDC_MAIN_BROWSE_KEY_FILE);
        HWND dialog = waitForFileDialog(s.pid(), OPEN_TITLE);
        check(dialog != nullptr, "the open dialog appears");
        if (dialog != nullptr) check(chooseInFileDialog(dialog, path), "the open dialog takes the name");
        break;
    }
    case DROPPED: check(dropFiles(s.program, s.main, {path}), "handed the dropped name to the program"); break;
    }
    settle(s.main);
    checkText(controlText(s.main, field), path, std::string("the field holds the ") + nameOf(entry) + " name");
}

// Presses the button, checks the suggested name, saves where the save dialog opens (the
// suggestion accepted as shown) or at target, and follows the job to its end.
void runNamedJob(const Session& s, bool encrypt, const std::wstring& suggestion, const std::wstring& target) {
    clickControl(s.main, encrypt ? IDC_MAIN_ENCRYPT : IDC_MAIN_DECRYPT);
    Popup popup = waitForPopup(s);
    check(popup.kind == Popup::SAVE_DIALOG, "expected the save dialog, saw " + describe(popup));
    if (popup.kind != Popup::SAVE_DIALOG) return dismissStrays(s);
    checkText(windowText(fileNameField(popup.window)), suggestion, "suggested name");
    if (target.empty()) {
        acceptFileDialog(popup.window);
        check(waitFor([&] { return IsWindow(popup.window) ? nullptr : HWND(1); }) != nullptr,
              "the save dialog takes the suggestion");
    } else {
        check(chooseInFileDialog(popup.window, target), "the save dialog takes the target");
    }
    popup = waitForPopup(s);
    check(popup.kind == Popup::PROGRESS, "expected the progress dialog, saw " + describe(popup));
    if (popup.kind != Popup::PROGRESS) return dismissStrays(s);
    waitUntilGone(popup.window, JOB_TIMEOUT_MS);
    const HWND box = waitFor([&] { return findMessageBox(s.pid()); }, ABSENCE_WAIT_MS);
    check(box == nullptr, "no message after the job, but saw \"" +
                              narrow(box != nullptr ? controlText(box, MESSAGE_BOX_TEXT_ID) : L"") + "\"");
    if (box != nullptr) answerBox(box, IDOK);
    checkText(controlText(s.main, IDC_MAIN_SOURCE_PATH), L"", "the source field is emptied by a success");
}

// Polish, Greek, Chinese and emoji names as source, target and key file, typed, chosen in the
// dialogs and dropped. The container of each lies where the save dialog opened, in the source's
// folder, under the suggested name; the tool decrypts it byte for byte, and the window decrypts it
// back under another such name. The key files, key texts and passphrases the tool reads have such
// names too.
void namesBeyondTheCodePage(const Session& s) {
    results.scenario = "names beyond the code page, keys";
    const Keys keys = makeKeys(L"κλειδί 钥匙 🔑", L"Vår hemliga fras för öl & bröd");
    struct Case {
        const char* name;
        const wchar_t* source;
        Method method;
        Entry entry;
        const wchar_t* back;  // the window's decryption
    };
    const Case cases[] = {
        {"Polish", L"Łódź.txt", BY_KEY_FILE, TYPED, L"tillbaka Łódź.txt"},
        {"Greek", L"Ελληνικά έγγραφα.txt", BY_KEY_CODE, CHOSEN, L"tillbaka Ελληνικά.txt"},
        {"Chinese", L"机密文件.doc", BY_PASSPHRASE, DROPPED, L"tillbaka 机密.doc"},
        {"emoji", L"rapport ✓ 🔒.txt", BY_KEY_FILE, DROPPED, L"tillbaka 🔓.txt"},
        {"emoji, chosen key file", L"anteckningar 📝.txt", BY_KEY_FILE, CHOSEN, L"tillbaka 📝.txt"},
        {"Chinese, typed", L"报告.pdf", BY_KEY_CODE, TYPED, L"tillbaka 报告.pdf"},
    };
    uint32_t seed = 300;
    for (const Case& c : cases) {
        results.scenario =
            std::string("names beyond the code page: ") + c.name + ", " + nameOf(c.entry) + ", " + nameOf(c.method);
        const std::vector<uint8_t> original = sampleBytes(2500 + 311 * seed % 4000, seed);
        ++seed;
        const std::wstring source = workPath(c.source);
        check(writeFile(source, original), "made the source");
        const std::wstring container = source + L".encrypted";
        std::vector<std::wstring> expected =
            withName(folderEntries(folders.work), std::wstring(c.source) + L".encrypted");

        enterKey(s.main, c.method, keys);
        if (c.method == BY_KEY_FILE) enterPath(s, IDC_MAIN_KEY_FILE_PATH, keys.keyFile, c.entry);
        enterPath(s, IDC_MAIN_SOURCE_PATH, source, c.entry);
        runNamedJob(s, true, std::wstring(c.source) + L".encrypted", L"");
        checkWorkFolder(expected, "the container lies beside the source");
        checkToolDecrypts(container, toolKey(c.method, keys), original);

        enterKey(s.main, c.method, keys);
        enterPath(s, IDC_MAIN_SOURCE_PATH, container, c.entry);
        runNamedJob(s, false, c.source, workPath(c.back));
        check(readFile(workPath(c.back)) == original, "the window's decryption gives the original bytes");
        checkWorkFolder(withName(expected, c.back), "after the decryption");
    }
}

// The look-alike trap: with "Łódź.txt" and "Lódz.txt" side by side, encrypting the first suggests
// its own name in its own folder, and the container holds its bytes, not the look-alike's.
void lookAlikeNames(const Session& s, const Keys& keys) {
    results.scenario = "look-alike names";
    const std::vector<uint8_t> real = utf8Bytes(L"the real secret\r\n");
    const std::vector<uint8_t> other = sampleBytes(1800, 77);
    check(writeFile(workPath(L"Łódź.txt"), real) && writeFile(workPath(L"Lódz.txt"), other), "made the two files");
    const std::vector<std::wstring> before = folderEntries(folders.work);
    enterKey(s.main, BY_KEY_CODE, keys);
    for (Entry entry : {TYPED, CHOSEN, DROPPED}) {
        results.scenario = std::string("look-alike names, ") + nameOf(entry);
        DeleteFileW(workPath(L"Łódź.txt.encrypted").c_str());
        enterPath(s, IDC_MAIN_SOURCE_PATH, workPath(L"Łódź.txt"), entry);
        runNamedJob(s, true, L"Łódź.txt.encrypted", L"");
        checkWorkFolder(withName(before, L"Łódź.txt.encrypted"), "the container lies beside the source");
        checkToolDecrypts(workPath(L"Łódź.txt.encrypted"), toolKey(BY_KEY_CODE, keys), real);
    }
    DeleteFileW(workPath(L"Łódź.txt.encrypted").c_str());
}

// The same-file refusal with names beyond the code page: the same text, a dot folder in the path
// and a hard link under another such name.
void sameFileBeyondTheCodePage(const Session& s, const Keys& keys) {
    const std::wstring source = workPath(L"钥匙 🔑.bin");
    const std::vector<uint8_t> original = sampleBytes(1200, 91);
    writeFile(source, original);
    check(CreateHardLinkW(workPath(L"別名 ✓.bin").c_str(), source.c_str(), nullptr) != 0,
          "made a hard link to the source");
    const std::vector<std::wstring> before = folderEntries(folders.work);
    enterKey(s.main, BY_KEY_FILE, keys);
    const std::pair<const char*, std::wstring> targets[] = {
        {"the same text", source},
        {"a dot folder in the path", folders.work + L"\\.\\钥匙 🔑.bin"},
        {"a hard link", workPath(L"別名 ✓.bin")},
    };
    for (const auto& [name, target] : targets) {
        for (bool encrypt : {true, false}) {
            results.scenario =
                std::string("same file beyond the code page, ") + name + (encrypt ? ", encrypting" : ", decrypting");
            dismissStrays(s);
            typeInto(s.main, IDC_MAIN_SOURCE_PATH, source);
            clickControl(s.main, encrypt ? IDC_MAIN_ENCRYPT : IDC_MAIN_DECRYPT);
            const Popup popup = waitForPopup(s);
            check(popup.kind == Popup::SAVE_DIALOG, "expected the save dialog, saw " + describe(popup));
            if (popup.kind != Popup::SAVE_DIALOG) continue;
            check(chooseInFileDialog(popup.window, target, true), "the save dialog closes");
            expectBox(s, SAME_FILE, OK_ONLY, NO_ICON, IDOK);
            expectNothingFollows(s, "after the message");
            check(readFile(source) == original, "the source is unchanged");
            checkWorkFolder(before, "no job ran");
        }
    }
}

// --- Job failures ---

// Each of the job's failures from a real cause: its message, owned by the main window; the source
// field keeps the path; a file that had the target's name is unchanged and no temporary is left.
void jobFailures(const Session& s, const Keys& keys, const Keys& otherKeys) {
    const std::vector<uint8_t> original = sampleBytes(6000, 31);
    writeFile(keyPath(L"failing.txt"), original);
    toolEncrypt(keyPath(L"failing.txt"), workPath(L"by-passphrase.encrypted"), toolKey(BY_PASSPHRASE, keys), 1, true);
    toolEncrypt(keyPath(L"failing.txt"), workPath(L"by-key-file.encrypted"), toolKey(BY_KEY_FILE, keys), 0, false);
    writeFile(workPath(L"failing.txt"), original);

    // A damaged chunk: the last byte of the three-chunk container lies in its last chunk's tag, so
    // the first two chunks have been written to the temporary target when the third fails.
    std::vector<uint8_t> damaged = readFile(workPath(L"three-chunks.bin.encrypted"));
    check(damaged.size() > 3 * 32, "the three-chunk container from before is there");
    if (!damaged.empty()) damaged.back() ^= 0x01;
    writeFile(workPath(L"damaged-chunk.encrypted"), damaged);
    // A damaged table: one byte of its ciphertext, after the header and the table's size and IV.
    std::vector<uint8_t> table = readFile(workPath(L"by-key-file.encrypted"));
    const size_t headerBytes = table.size() > 4 ? table[0] | table[1] << 8 : 0;
    const size_t tableByte = 4 + headerBytes + 4 + 16 + 3;
    check(tableByte < table.size(), "the container has a table");
    if (tableByte < table.size()) table[tableByte] ^= 0x80;
    writeFile(workPath(L"damaged-table.encrypted"), table);
    // A salt field of 7 bytes instead of 8: the header's size, the magic field (4 + 13 bytes), the
    // version, cipher, compression and key mode (5 bytes), then the salt field's length.
    std::vector<uint8_t> salt = readFile(workPath(L"by-passphrase.encrypted"));
    constexpr size_t SALT_LENGTH_AT = 4 + 17 + 5;
    check(salt.size() > SALT_LENGTH_AT && salt[SALT_LENGTH_AT] == 8, "the passphrase container has an 8-byte salt");
    if (salt.size() > SALT_LENGTH_AT) salt[SALT_LENGTH_AT] = 7;
    writeFile(workPath(L"damaged-salt.encrypted"), salt);

    const std::vector<uint8_t> earlier = utf8Bytes(L"En fil som redan fanns med målets namn.\r\n");
    struct Case {
        const char* name;
        bool encrypt;
        Method method;
        bool otherKey;  // the key is not the container's
        const wchar_t* source;
        const wchar_t* target;
        bool targetExists;  // a file with the target's name is there before
        bool holdTarget;    // the driver keeps that file open, so nothing can replace it
        const wchar_t* message;
        const wchar_t* shot;
    };
    static const Case cases[] = {
        {"missing source, encrypting", true, BY_KEY_FILE, false, L"missing.txt", L"missing.txt.encrypted", false, false,
         READ_ERROR, nullptr},
        {"missing source, decrypting over a file", false, BY_PASSPHRASE, false, L"missing.encrypted", L"kept.txt", true,
         false, READ_ERROR, nullptr},
        {"target held open, encrypting", true, BY_KEY_CODE, false, L"failing.txt", L"held.encrypted", true, true,
         WRITE_ERROR, L"workflow_write_error"},
        {"target held open, decrypting", false, BY_KEY_FILE, false, L"by-key-file.encrypted", L"held.txt", true, true,
         WRITE_ERROR, nullptr},
        {"another passphrase", false, BY_PASSPHRASE, true, L"by-passphrase.encrypted", L"kept.txt", true, false,
         WRONG_KEY, L"workflow_wrong_key"},
        {"another key file", false, BY_KEY_FILE, true, L"by-key-file.encrypted", L"kept.txt", true, false, WRONG_KEY,
         nullptr},
        {"damaged chunk", false, BY_KEY_FILE, false, L"damaged-chunk.encrypted", L"kept.txt", true, false, READ_ERROR,
         nullptr},
        {"damaged table", false, BY_KEY_FILE, false, L"damaged-table.encrypted", L"fresh.txt", false, false, READ_ERROR,
         nullptr},
        {"damaged salt field", false, BY_PASSPHRASE, false, L"damaged-salt.encrypted", L"kept.txt", true, false,
         CRYPTO_ERROR, L"workflow_crypto_error"},
    };
    writeSettingsFile(0, false);
    for (const Case& c : cases) {
        results.scenario = std::string("job fails: ") + c.name;
        const std::wstring target = workPath(c.target);
        DeleteFileW(target.c_str());
        if (c.targetExists) writeFile(target, earlier);
        const std::vector<std::wstring> before = folderEntries(folders.work);
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (c.holdTarget) {
            holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            check(holder != INVALID_HANDLE_VALUE, "the driver holds the target open");
        }
        enterKey(s.main, c.method, c.otherKey ? otherKeys : keys);
        JobRun run;
        run.encrypt = c.encrypt;
        run.source = workPath(c.source);
        run.target = target;
        run.status = c.encrypt ? STATUS_ENCRYPTING : STATUS_DECRYPTING;
        run.outcome = FAILS;
        run.message = c.message;
        if (c.shot != nullptr) run.messageShot = c.shot;
        runJob(s, run);
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        checkWorkFolder(before, "after the failure");
        if (c.targetExists) check(readFile(target) == earlier, "the file with the target's name is unchanged");
        DeleteFileW(target.c_str());
    }
    check(readFile(workPath(L"failing.txt")) == original, "the sources are unchanged");
}

// --- Cancelling ---

// Cancelling a job of many chunks with "Avbryt" or the close box: the status turns to "Avbryter...",
// the button is disabled and a second press changes nothing; the dialog closes by itself before the
// last chunk, with no message, no target and no temporary file, and a file that already had the
// target's name is untouched. Enter and Escape before that do not cancel.
void cancelJobs(const Session& s, const Keys& keys) {
    struct Way {
        const char* name;
        void (*cancel)(HWND dialog);
    };
    static const Way ways[] = {
        {"\"Avbryt\"", [](HWND dialog) { clickControl(dialog, IDC_PROGRESS_CANCEL); }},
        {"the close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    constexpr size_t BIG_CHUNKS = 24;
    const std::vector<uint8_t> big = sampleBytes(BIG_CHUNKS * CHUNK_BYTES, 41);
    check(writeFile(workPath(L"big.bin"), big), "made a 48 MiB source");
    const std::vector<uint8_t> earlier = utf8Bytes(L"Det här fanns före jobbet.\r\n");
    const std::wstring target = workPath(L"big.bin.encrypted");
    writeSettingsFile(0, true);
    enterKey(s.main, BY_KEY_CODE, keys);
    for (const Way& way : ways) {
        results.scenario = std::string("cancel with ") + way.name;
        writeFile(target, earlier);
        const std::vector<std::wstring> before = folderEntries(folders.work);
        bool cancelled = false;
        JobRun run;
        run.source = workPath(L"big.bin");
        run.target = target;
        run.status = STATUS_COMPRESSING;
        run.outcome = CANCELLED;
        run.hook = [&](HWND dialog, const BarReading& reading) {
            // Once the first chunk is done the job is surely running.
            if (cancelled || reading.isDefault()) return;
            cancelled = true;
            check(reading.high == static_cast<LRESULT>(BIG_CHUNKS - 1), "the range is set to the last chunk's index");
            HWND button = GetDlgItem(dialog, IDC_PROGRESS_CANCEL);
            pressEnterAndEscape(dialog);
            checkText(controlText(dialog, IDC_PROGRESS_STATUS), STATUS_COMPRESSING, "Enter and Escape do not cancel");
            check(IsWindowEnabled(button) != 0, "\"Avbryt\" is still enabled after Enter and Escape");
            way.cancel(dialog);
            const bool cancelling =
                waitFor([&] {
                    return controlText(dialog, IDC_PROGRESS_STATUS) == STATUS_CANCELLING ? dialog : nullptr;
                }) != nullptr;
            check(cancelling, "the status turns to \"Avbryter...\"");
            check(!IsWindowEnabled(button), "\"Avbryt\" is disabled");
            screenshot(L"workflow_cancelling");
            clickControl(dialog, IDC_PROGRESS_CANCEL);
            settle(dialog);
            if (IsWindow(dialog)) {
                checkText(controlText(dialog, IDC_PROGRESS_STATUS), STATUS_CANCELLING,
                          "a second press changes nothing");
                check(!IsWindowEnabled(button), "\"Avbryt\" stays disabled");
            }
        };
        const ProgressSeen seen = runJob(s, run);
        check(cancelled, "the job was cancelled while it ran");
        check(seen.last.position < static_cast<LRESULT>(BIG_CHUNKS - 1),
              "the job stopped before its last chunk (last position " + std::to_string(seen.last.position) + ")");
        checkWorkFolder(before, "after cancelling");
        check(readFile(target) == earlier, "the file with the target's name is untouched");
    }
    DeleteFileW(target.c_str());
    DeleteFileW(workPath(L"big.bin").c_str());
}

}  // namespace

void runWorkflowScenarios() {
    const DWORD start = GetTickCount();
    folders.work = paths.scratch + L"\\workflow";
    folders.keys = paths.scratch + L"\\workflow-keys";
    removeFolder(folders.work);
    removeFolder(folders.keys);
    CreateDirectoryW(folders.work.c_str(), nullptr);
    CreateDirectoryW(folders.keys.c_str(), nullptr);

    results.scenario = "workflow set-up";
    prepareWorkFolder();
    const Keys keys = makeKeys(L"main", L"Vår hemliga fras för öl & bröd");
    const Keys otherKeys = makeKeys(L"other", L"En helt annan lösenfras");

    Session s;
    if (openSession(s)) {
        windowEncryptsToolDecrypts(s, keys);
        toolEncryptsWindowDecrypts(s, keys);
        progressBar(s, keys);
        inputRefusals(s, keys);
        encryptAgainQuestion(s, keys);
        shortPassphraseQuestion(s);
        acceptedKeyCode(s, keys);
        suggestedNames(s, keys);
        sameFileRefused(s, keys);
        namesBeyondTheCodePage(s);
        lookAlikeNames(s, keys);
        sameFileBeyondTheCodePage(s, keys);
        jobFailures(s, keys, otherKeys);
        cancelJobs(s, keys);
    }
    results.scenario = "workflow end";
    closeSession(s);
    removeFolder(folders.work);
    removeFolder(folders.keys);
    std::printf("workflow scenarios took %lu s\n", static_cast<unsigned long>((GetTickCount() - start) / 1000));
}
