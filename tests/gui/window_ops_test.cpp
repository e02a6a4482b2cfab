// The window operations with real windows under Wine: file names in fields and their parts, the
// two centring operations, and the open and save dialogs (titles, filters, default extensions, the
// overwrite and must-exist checks, the suggested name and folder, names beyond the ANSI code page,
// and an unchanged current directory). The file dialogs run on a second thread while this one
// works them through their controls.

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialogs/window_ops.h"
#include "job/target_names.h"
#include "tests/gui/gui_support.h"

// The program's instance handle, which WinMain sets in Ferrolyn.exe.
HINSTANCE instanceHandle = GetModuleHandleW(nullptr);

namespace {

// A name as the program holds it: UTF-16 units and a zero unit.
NativePath name(const std::wstring& units) {
    return NativePath(reinterpret_cast<const uint8_t*>(units.c_str()),
                      static_cast<uint32_t>((units.size() + 1) * sizeof(wchar_t)));
}

// The units of a name; "<not a name>" when it does not end in a zero unit.
std::wstring asWide(const NativePath& path) {
    const uint32_t units = path.size() / sizeof(wchar_t);
    if (path.size() % sizeof(wchar_t) != 0 || units == 0) return L"<not a name>";
    const auto* data = reinterpret_cast<const wchar_t*>(path.data());
    if (data[units - 1] != 0) return L"<not a name>";
    return std::wstring(data, units - 1);
}

// Names no 8-bit code page holds together, and a look-alike of the first.
constexpr wchar_t POLISH[] = L"Łódź.txt";
constexpr wchar_t LOOK_ALIKE[] = L"Lódz.txt";
constexpr wchar_t GREEK[] = L"κλειδί.key";
constexpr wchar_t CHINESE_EMOJI[] = L"钥匙 🔑.txt";
// (Literals beyond Windows-1252 stay out of the check macros, which also keep their text narrow.)
constexpr wchar_t POLISH_CONTAINER[] = L"Łódź.txt.encrypted";
constexpr wchar_t L_WITH_STROKE = L'ł';

// --- File names and their parts ---

// A path splits at its last backslash into the folder (with the backslash) and the file name.
TEST(PathParts, SplitAtTheLastBackslash) {
    struct Row {
        const wchar_t* path;
        const wchar_t* folder;
        const wchar_t* fileName;
    };
    const Row rows[] = {
        {L"C:\\d\\report.pdf", L"C:\\d\\", L"report.pdf"},
        {L"report.pdf", L"", L"report.pdf"},
        {L"C:\\d\\", L"C:\\d\\", L""},
        {L"C:/d/report.pdf", L"", L"C:/d/report.pdf"},
        {L"\\\\server\\share\\a\\b.key", L"\\\\server\\share\\a\\", L"b.key"},
        {L"C:\\d\\värde.txt", L"C:\\d\\", L"värde.txt"},
        {L"C:\\d\\Łódź.txt", L"C:\\d\\", L"Łódź.txt"},
        {L"C:\\κλειδιά\\钥匙 🔑.txt", L"C:\\κλειδιά\\", L"钥匙 🔑.txt"},
        {L"", L"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(gui::narrow(row.path));
        EXPECT_EQ(asWide(fileNamePart(name(row.path))), row.fileName);
        EXPECT_EQ(asWide(folderPart(name(row.path))), row.folder);
    }
}

TEST(PathParts, NotANameGivesTheEmptyName) {
    const uint8_t unterminated[] = {'a', 0, '\\', 0, 'b', 0};
    const uint8_t oddBytes[] = {'a', 0, 0};
    for (const NativePath& path : {NativePath(), NativePath(unterminated, 6), NativePath(oddBytes, 3)}) {
        EXPECT_EQ(asWide(fileNamePart(path)), L"");
        EXPECT_EQ(asWide(folderPart(path)), L"");
    }
}

TEST(PathSuffixes, ComparedAddedAndRemovedUnitForUnit) {
    EXPECT_TRUE(pathEndsWith(name(POLISH_CONTAINER), ".encrypted"));
    EXPECT_TRUE(pathEndsWith(name(L".key"), ".key"));
    EXPECT_FALSE(pathEndsWith(name(L"C:\\d\\my.KEY"), ".key")) << "letter case counts";
    EXPECT_FALSE(pathEndsWith(name(L"key"), ".key"));
    EXPECT_FALSE(pathEndsWith(NativePath(), ".key"));

    EXPECT_EQ(asWide(pathWithSuffix(name(POLISH), ".encrypted")), POLISH_CONTAINER);
    EXPECT_EQ(asWide(pathWithSuffix(name(L""), ".key")), L".key");
    EXPECT_EQ(asWide(pathWithSuffix(NativePath(), "key_01")), L"key_01");

    // The default names of both programs, on UTF-16 names with surrogate pairs.
    NativePath target;
    const bool stripped = defaultTargetName(name(L"钥匙 🔑.txt.encrypted"), false, target);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(asWide(target), CHINESE_EMOJI);
    ASSERT_TRUE(defaultTargetName(name(POLISH), true, target));
    EXPECT_EQ(asWide(target), POLISH_CONTAINER);
    EXPECT_FALSE(defaultTargetName(name(L"C:\\d\\.encrypted"), false, target));
}

// A real edit control: what is typed into a field is the name, every character of it.
TEST(PathFields, ReadTheWholeFirstLineAndShowEveryCharacter) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    constexpr int FIELD = 7;
    HWND field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE | ES_AUTOHSCROLL, 0, 0, 400, 20, window,
                                 reinterpret_cast<HMENU>(FIELD), nullptr, nullptr);
    ASSERT_NE(field, nullptr);
    const std::wstring longName = L"C:\\" + std::wstring(300, L'ż') + L".txt";
    struct Row {
        std::wstring typed;
        std::wstring read;
    };
    const Row rows[] = {
        {std::wstring(L"C:\\d\\") + POLISH, std::wstring(L"C:\\d\\") + POLISH},
        {std::wstring(L"C:\\d\\") + CHINESE_EMOJI + L"\r\nmore", std::wstring(L"C:\\d\\") + CHINESE_EMOJI},
        {longName, longName},
        {L"", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(gui::narrow(row.typed));
        SetWindowTextW(field, row.typed.c_str());
        EXPECT_EQ(asWide(readPathField(window, FIELD)), row.read);
    }
    setPathField(window, FIELD, name(std::wstring(L"D:\\") + GREEK));
    EXPECT_EQ(gui::windowText(field), std::wstring(L"D:\\") + GREEK);
    setPathField(window, FIELD, NativePath());
    EXPECT_EQ(gui::windowText(field), L"");
    DestroyWindow(window);
}

// --- Centring ---

HWND makeWindow(int x, int y, int width, int height) {
    return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, x, y, width, height, nullptr, nullptr, nullptr, nullptr);
}

RECT rectOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return r;
}

TEST(Centring, OnTheDesktopRoundsHalvesTowardZero) {
    const RECT desktop = rectOf(GetDesktopWindow());
    for (SIZE size : {SIZE{300, 200}, SIZE{301, 201}, SIZE{2000, 1500}}) {
        SCOPED_TRACE(std::to_string(size.cx) + " x " + std::to_string(size.cy));
        HWND window = makeWindow(5, 7, size.cx, size.cy);
        ASSERT_NE(window, nullptr);
        centerOnDesktop(window);
        const RECT r = rectOf(window);
        EXPECT_EQ(r.left, (desktop.right - size.cx) / 2);
        EXPECT_EQ(r.top, (desktop.bottom - size.cy) / 2);
        EXPECT_EQ(r.right - r.left, size.cx);
        EXPECT_EQ(r.bottom - r.top, size.cy);
        DestroyWindow(window);
    }
}

TEST(Centring, OnTheMainWindowClampsNegativePositionsToZero) {
    struct Row {
        RECT main;  // left, top, right, bottom
        SIZE dialog;
        POINT expected;
    };
    const Row rows[] = {
        {{100, 50, 600, 450}, {201, 101}, {249, 199}},  {{100, 50, 600, 450}, {500, 400}, {100, 50}},
        {{-400, -300, -300, -200}, {300, 300}, {0, 0}}, {{-10, 20, 90, 120}, {50, 50}, {15, 45}},
        {{10, 10, 60, 60}, {100, 40}, {0, 15}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.main.left) + "," + std::to_string(row.main.top));
        HWND main =
            makeWindow(row.main.left, row.main.top, row.main.right - row.main.left, row.main.bottom - row.main.top);
        HWND dialog = makeWindow(0, 0, row.dialog.cx, row.dialog.cy);
        ASSERT_NE(main, nullptr);
        ASSERT_NE(dialog, nullptr);
        mainWindow = main;
        centerOnMainWindow(dialog);
        const RECT r = rectOf(dialog);
        EXPECT_EQ(r.left, row.expected.x);
        EXPECT_EQ(r.top, row.expected.y);
        EXPECT_EQ(r.right - r.left, row.dialog.cx);
        DestroyWindow(dialog);
        DestroyWindow(main);
        mainWindow = nullptr;
    }
}

// --- File dialogs ---

class FileDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        // A folder whose name no 8-bit code page holds: every path the dialogs hand back passes
        // through it.
        folder_ = std::wstring(temp) + L"ferrolyn_window_ops_Łódź_钥匙_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        // A current directory apart from the files, so that a dialog that moved it would show.
        current_ = folder_ + L"\\current";
        CreateDirectoryW(current_.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryW(current_.c_str()));
        for (const std::wstring& file : FILES) makeFile(file);
    }

    void TearDown() override {
        SetCurrentDirectoryW(folder_.c_str());
        SetCurrentDirectoryW(L"..");
        for (const std::wstring& file : FILES) DeleteFileW((folder_ + L"\\" + file).c_str());
        for (const wchar_t* chosen : {L"chosen.bin", L"chosen 🔑.bin"}) DeleteFileW((folder_ + L"\\" + chosen).c_str());
        RemoveDirectoryW(current_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    void makeFile(const std::wstring& file) {
        HANDLE handle = CreateFileW((folder_ + L"\\" + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        CloseHandle(handle);
    }

    std::wstring currentDirectory() {
        wchar_t buffer[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, buffer);
        return buffer;
    }

    // Runs chooser on its own thread, waits for the dialog captioned title, hands it to work, and
    // returns the chooser's result once its thread has ended.
    bool runDialog(const std::wstring& title, const std::function<bool()>& chooser,
                   const std::function<void(HWND dialog)>& work) {
        std::atomic<bool> done{false};
        bool result = false;
        std::thread thread([&] {
            result = chooser();
            done = true;
        });
        HWND dialog = gui::waitForDialog(GetCurrentProcessId(), title);
        EXPECT_NE(dialog, nullptr) << "no dialog \"" << gui::narrow(title) << "\"";
        if (dialog != nullptr) work(dialog);
        if (!gui::waitFor([&] { return done ? HWND(1) : nullptr; })) {
            std::fprintf(stderr, "the file dialog did not close; giving up\n");
            std::exit(1);
        }
        thread.join();
        return result;
    }

    static std::vector<std::wstring> filterNames(HWND dialog) {
        std::vector<std::wstring> names;
        HWND types = gui::findDescendant(dialog, FILE_TYPE_COMBO, L"ComboBox");
        const LRESULT count = types == nullptr ? 0 : SendMessageW(types, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t name[256] = {};
            SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
            names.push_back(name);
        }
        return names;
    }

    static HWND nameField(HWND dialog) { return gui::findDescendant(dialog, FILE_NAME_FIELD, L"Edit"); }

    static void accept(HWND dialog) { gui::clickButton(gui::findDescendant(dialog, IDOK, L"Button")); }
    static void cancel(HWND dialog) { gui::clickButton(gui::findDescendant(dialog, IDCANCEL, L"Button")); }

    // Waits for a message box that the file dialog opens, and answers it with button.
    static bool answerMessageBox(HWND fileDialog, int button) {
        HWND box = gui::waitFor([&] {
            HWND popup = GetLastActivePopup(fileDialog);
            return popup != fileDialog && popup != nullptr && GetDlgItem(popup, gui::MESSAGE_BOX_TEXT_ID) != nullptr
                       ? popup
                       : nullptr;
        });
        if (box == nullptr) return false;
        gui::clickButton(GetDlgItem(box, button));
        gui::waitFor([&] { return IsWindow(box) ? nullptr : HWND(1); });
        return true;
    }

    // The explorer-style dialog's file-type list and file-name field.
    static constexpr int FILE_TYPE_COMBO = 0x470;
    static constexpr int FILE_NAME_FIELD = 0x47C;

    const std::vector<std::wstring> FILES = {L"exists.bin", L"exists.key", POLISH, LOOK_ALIKE, GREEK};
    std::wstring folder_;
    std::wstring current_;
};

struct ChooserCase {
    const char* name;
    bool save;
    FileDialogKind kind;
    const wchar_t* suggested;  // save dialogs only
    const wchar_t* title;
    std::vector<std::wstring> filters;
    const wchar_t* typed;     // typed into the name field, relative to the test folder
    const wchar_t* expected;  // the chosen path, relative to the test folder
};

TEST_F(FileDialogs, TitlesFiltersAndDefaultExtensions) {
    const ChooserCase cases[] = {
        {"save key file",
         true,
         KEY_FILE_KIND,
         L"key_0102030405060708",
         L"Välj plats för nyckelfilen...",
         {L"Nyckelfil (*.key)"},
         L"nyckel_åäö",
         L"nyckel_åäö.key"},
        {"save encrypted",
         true,
         ENCRYPTED_FILE,
         L"report.pdf.encrypted",
         L"Välj plats för den krypterade filen...",
         {L"Krypterad fil (*.encrypted)"},
         L"report",
         L"report.encrypted"},
        {"save encrypted, a name beyond the code page",
         true,
         ENCRYPTED_FILE,
         L"Łódź.txt.encrypted",
         L"Välj plats för den krypterade filen...",
         {L"Krypterad fil (*.encrypted)"},
         L"钥匙 🔑",
         L"钥匙 🔑.encrypted"},
        {"save any",
         true,
         ANY_FILE,
         L"report.pdf",
         L"Välj plats för filen...",
         {L"Alla filer (*.*)"},
         L"plain",
         L"plain"},
        {"open any",
         false,
         ANY_FILE,
         L"",
         L"Välj fil...",
         {L"Alla filer (*.*)", L"Krypterade filer (*.encrypted)"},
         L"exists.bin",
         L"exists.bin"},
        // Wine's open dialog checks that a typed name exists before it adds the default extension,
        // so the name is typed whole here.
        {"open key file",
         false,
         KEY_FILE_KIND,
         L"",
         L"Välj fil...",
         {L"Nyckelfil (*.key)"},
         L"exists.key",
         L"exists.key"},
        {"open the Polish name beside its look-alike",
         false,
         ANY_FILE,
         L"",
         L"Välj fil...",
         {L"Alla filer (*.*)", L"Krypterade filer (*.encrypted)"},
         POLISH,
         POLISH},
        {"open a Greek key file", false, KEY_FILE_KIND, L"", L"Välj fil...", {L"Nyckelfil (*.key)"}, GREEK, GREEK},
    };
    for (const ChooserCase& c : cases) {
        SCOPED_TRACE(c.name);
        NativePath path = name(L"unchanged");
        NativePath suggested = name(c.suggested);
        const bool chosen = runDialog(
            c.title,
            [&] {
                return c.save ? chooseSaveFile(path, nullptr, c.kind, suggested)
                              : chooseOpenFile(nullptr, path, c.kind);
            },
            [&](HWND dialog) {
                EXPECT_EQ(filterNames(dialog), c.filters);
                HWND field = nameField(dialog);
                ASSERT_NE(field, nullptr);
                if (c.save) {
                    EXPECT_EQ(gui::windowText(field), c.suggested);
                }
                SetWindowTextW(field, (folder_ + L"\\" + c.typed).c_str());
                accept(dialog);
            });
        EXPECT_TRUE(chosen);
        EXPECT_EQ(asWide(path), folder_ + L"\\" + c.expected);
        EXPECT_EQ(currentDirectory(), current_);
        if (c.save) {
            EXPECT_EQ(suggested.size(), 0u) << "the suggested name is wiped";
        }
    }
}

// The save dialog opens in the folder it is given: a bare name typed there is a file of that
// folder, also when the folder's and the file's names are beyond the ANSI code page.
TEST_F(FileDialogs, SaveOpensInTheGivenFolder) {
    for (const wchar_t* typed : {L"chosen.bin", L"chosen 🔑.bin"}) {
        SCOPED_TRACE(gui::narrow(typed));
        NativePath path = name(L"unchanged");
        NativePath suggested = name(L"suggested.bin");
        const bool chosen = runDialog(
            L"Välj plats för filen...",
            [&] { return chooseSaveFile(path, nullptr, ANY_FILE, suggested, name(folder_ + L"\\")); },
            [&](HWND dialog) {
                SetWindowTextW(nameField(dialog), typed);
                accept(dialog);
            });
        EXPECT_TRUE(chosen);
        EXPECT_EQ(asWide(path), folder_ + L"\\" + typed);
        EXPECT_EQ(currentDirectory(), current_);
    }
}

TEST_F(FileDialogs, CancelLeavesThePathAsItWas) {
    for (bool save : {true, false}) {
        SCOPED_TRACE(save ? "save" : "open");
        NativePath path = name(L"unchanged");
        NativePath suggested = name(L"name");
        const bool chosen = runDialog(
            save ? L"Välj plats för filen..." : L"Välj fil...",
            [&] {
                return save ? chooseSaveFile(path, nullptr, ANY_FILE, suggested)
                            : chooseOpenFile(nullptr, path, ANY_FILE);
            },
            [&](HWND dialog) { cancel(dialog); });
        EXPECT_FALSE(chosen);
        EXPECT_EQ(asWide(path), L"unchanged");
        EXPECT_EQ(currentDirectory(), current_);
    }
}

TEST_F(FileDialogs, SaveAsksBeforeReplacingAFile) {
    NativePath path = name(L"unchanged");
    NativePath suggested = name(L"");
    bool asked = false;
    const bool chosen = runDialog(
        L"Välj plats för nyckelfilen...", [&] { return chooseSaveFile(path, nullptr, KEY_FILE_KIND, suggested); },
        [&](HWND dialog) {
            SetWindowTextW(nameField(dialog), (folder_ + L"\\exists.key").c_str());
            accept(dialog);
            asked = answerMessageBox(dialog, IDNO);
            EXPECT_TRUE(IsWindow(dialog)) << "answering No keeps the dialog open";
            cancel(dialog);
        });
    EXPECT_TRUE(asked);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(asWide(path), L"unchanged");
}

TEST_F(FileDialogs, OpenRefusesAMissingFile) {
    NativePath path = name(L"unchanged");
    bool refused = false;
    const bool chosen = runDialog(
        L"Välj fil...", [&] { return chooseOpenFile(nullptr, path, KEY_FILE_KIND); },
        [&](HWND dialog) {
            SetWindowTextW(nameField(dialog), (folder_ + L"\\missing.key").c_str());
            accept(dialog);
            refused = answerMessageBox(dialog, IDOK);
            cancel(dialog);
        });
    EXPECT_TRUE(refused);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(asWide(path), L"unchanged");
}

TEST_F(FileDialogs, ASuggestedNameIsCutTo259Characters) {
    NativePath path = name(L"unchanged");
    NativePath suggested = name(std::wstring(300, L_WITH_STROKE));
    std::wstring shown;
    runDialog(
        L"Välj plats för filen...", [&] { return chooseSaveFile(path, nullptr, ANY_FILE, suggested); },
        [&](HWND dialog) {
            shown = gui::windowText(nameField(dialog));
            cancel(dialog);
        });
    EXPECT_EQ(shown, std::wstring(259, L_WITH_STROKE));
}

TEST_F(FileDialogs, ThereIsNoOpenDialogForContainers) {
    NativePath path = name(L"unchanged");
    EXPECT_FALSE(chooseOpenFile(nullptr, path, ENCRYPTED_FILE));
    EXPECT_EQ(asWide(path), L"unchanged");
}

}  // namespace
