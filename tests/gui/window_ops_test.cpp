// The window operations with real windows under Wine: fileNamePart, the two centring operations,
// and the open and save dialogs (titles, filters, default extensions, the overwrite and
// must-exist checks, the suggested name, and an unchanged current directory). The file dialogs
// run on a second thread while this one works them through their controls.

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
#include "base/text.h"
#include "tests/gui/gui_support.h"

// The program's instance handle, which WinMain sets in Ferrolyn.exe.
HINSTANCE instanceHandle = GetModuleHandleW(nullptr);

namespace {

SecureBuffer text(const std::string& s) { return fromNulTerminated(s.c_str()); }

std::string asString(const SecureBuffer& t) {
    const char* p = textPointer(t);
    return p == nullptr ? std::string("<not a text>") : std::string(p);
}

// --- fileNamePart ---

TEST(FileNamePart, TakesWhatFollowsTheLastBackslash) {
    struct Row {
        const char* path;
        const char* expected;
    };
    const Row rows[] = {
        {"C:\\d\\report.pdf", "report.pdf"},
        {"report.pdf", "report.pdf"},
        {"C:\\d\\", ""},
        {"C:/d/report.pdf", "C:/d/report.pdf"},
        {"\\\\server\\share\\a\\b.key", "b.key"},
        {"C:\\d\\v\xE4rde.txt", "v\xE4rde.txt"},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(asString(fileNamePart(text(row.path))), row.expected);
    }
}

TEST(FileNamePart, NotATextGivesTheEmptyText) {
    EXPECT_EQ(asString(fileNamePart(SecureBuffer())), "");
    const uint8_t unterminated[] = {'a', '\\', 'b'};
    EXPECT_EQ(asString(fileNamePart(SecureBuffer(unterminated, 3))), "");
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
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "ferrolyn_window_ops_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        // A current directory apart from the files, so that a dialog that moved it would show.
        current_ = folder_ + "\\current";
        CreateDirectoryA(current_.c_str(), nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA(current_.c_str()));
        makeFile("exists.bin");
        makeFile("exists.key");
    }

    void TearDown() override {
        SetCurrentDirectoryA(folder_.c_str());
        SetCurrentDirectoryA("..");
        for (const char* name : {"exists.bin", "exists.key"}) DeleteFileA((folder_ + "\\" + name).c_str());
        RemoveDirectoryA(current_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    void makeFile(const std::string& name) {
        HANDLE file = CreateFileA((folder_ + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }

    std::wstring wide(const std::string& ansi) {
        wchar_t buffer[MAX_PATH * 2] = {};
        MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, buffer, MAX_PATH * 2);
        return buffer;
    }

    std::string currentDirectory() {
        char buffer[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, buffer);
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

    std::string folder_;
    std::string current_;
};

struct ChooserCase {
    const char* name;
    bool save;
    FileDialogKind kind;
    const char* suggested;  // save dialogs only
    const wchar_t* title;
    std::vector<std::wstring> filters;
    const char* typed;     // typed into the name field, relative to the test folder
    const char* expected;  // the chosen path, relative to the test folder
};

TEST_F(FileDialogs, TitlesFiltersAndDefaultExtensions) {
    const ChooserCase cases[] = {
        {"save key file",
         true,
         KEY_FILE_KIND,
         "key_0102030405060708",
         L"Välj plats för nyckelfilen...",
         {L"Nyckelfil (*.key)"},
         "nyckel_\xE5\xE4\xF6",
         "nyckel_\xE5\xE4\xF6.key"},
        {"save encrypted",
         true,
         ENCRYPTED_FILE,
         "report.pdf.encrypted",
         L"Välj plats för den krypterade filen...",
         {L"Krypterad fil (*.encrypted)"},
         "report",
         "report.encrypted"},
        {"save any", true, ANY_FILE, "report.pdf", L"Välj plats för filen...", {L"Alla filer (*.*)"}, "plain", "plain"},
        {"open any",
         false,
         ANY_FILE,
         "",
         L"Välj fil...",
         {L"Alla filer (*.*)", L"Krypterade filer (*.encrypted)"},
         "exists.bin",
         "exists.bin"},
        // Wine's open dialog checks that a typed name exists before it adds the default extension,
        // so the name is typed whole here.
        {"open key file", false, KEY_FILE_KIND, "", L"Välj fil...", {L"Nyckelfil (*.key)"}, "exists.key", "exists.key"},
    };
    for (const ChooserCase& c : cases) {
        SCOPED_TRACE(c.name);
        SecureBuffer path = text("unchanged");
        SecureBuffer suggested = text(c.suggested);
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
                    EXPECT_EQ(gui::narrow(gui::windowText(field)), c.suggested);
                }
                SetWindowTextW(field, wide(folder_ + "\\" + c.typed).c_str());
                accept(dialog);
            });
        EXPECT_TRUE(chosen);
        EXPECT_EQ(asString(path), folder_ + "\\" + c.expected);
        EXPECT_EQ(currentDirectory(), current_);
        if (c.save) {
            EXPECT_EQ(suggested.size(), 0u) << "the suggested name is wiped";
        }
    }
}

TEST_F(FileDialogs, CancelLeavesThePathAsItWas) {
    for (bool save : {true, false}) {
        SCOPED_TRACE(save ? "save" : "open");
        SecureBuffer path = text("unchanged");
        SecureBuffer suggested = text("name");
        const bool chosen = runDialog(
            save ? L"Välj plats för filen..." : L"Välj fil...",
            [&] {
                return save ? chooseSaveFile(path, nullptr, ANY_FILE, suggested)
                            : chooseOpenFile(nullptr, path, ANY_FILE);
            },
            [&](HWND dialog) { cancel(dialog); });
        EXPECT_FALSE(chosen);
        EXPECT_EQ(asString(path), "unchanged");
        EXPECT_EQ(currentDirectory(), current_);
    }
}

TEST_F(FileDialogs, SaveAsksBeforeReplacingAFile) {
    SecureBuffer path = text("unchanged");
    SecureBuffer suggested = text("");
    bool asked = false;
    const bool chosen = runDialog(
        L"Välj plats för nyckelfilen...", [&] { return chooseSaveFile(path, nullptr, KEY_FILE_KIND, suggested); },
        [&](HWND dialog) {
            SetWindowTextW(nameField(dialog), wide(folder_ + "\\exists.key").c_str());
            accept(dialog);
            asked = answerMessageBox(dialog, IDNO);
            EXPECT_TRUE(IsWindow(dialog)) << "answering No keeps the dialog open";
            cancel(dialog);
        });
    EXPECT_TRUE(asked);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(asString(path), "unchanged");
}

TEST_F(FileDialogs, OpenRefusesAMissingFile) {
    SecureBuffer path = text("unchanged");
    bool refused = false;
    const bool chosen = runDialog(
        L"Välj fil...", [&] { return chooseOpenFile(nullptr, path, KEY_FILE_KIND); },
        [&](HWND dialog) {
            SetWindowTextW(nameField(dialog), wide(folder_ + "\\missing.key").c_str());
            accept(dialog);
            refused = answerMessageBox(dialog, IDOK);
            cancel(dialog);
        });
    EXPECT_TRUE(refused);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(asString(path), "unchanged");
}

TEST_F(FileDialogs, ASuggestedNameIsCutTo259Characters) {
    SecureBuffer path = text("unchanged");
    SecureBuffer suggested = text(std::string(300, 'a'));
    std::wstring shown;
    runDialog(
        L"Välj plats för filen...", [&] { return chooseSaveFile(path, nullptr, ANY_FILE, suggested); },
        [&](HWND dialog) {
            shown = gui::windowText(nameField(dialog));
            cancel(dialog);
        });
    EXPECT_EQ(shown, std::wstring(259, L'a'));
}

TEST_F(FileDialogs, ThereIsNoOpenDialogForContainers) {
    SecureBuffer path = text("unchanged");
    EXPECT_FALSE(chooseOpenFile(nullptr, path, ENCRYPTED_FILE));
    EXPECT_EQ(asString(path), "unchanged");
}

}  // namespace
