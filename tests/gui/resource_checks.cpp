// Reads Ferrolyn.exe's resources as data and compares them with the layout the program must have:
// ids, classes, texts, positions and sizes in dialog units, styles, captions and fonts.

#include "tests/gui/resource_checks.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/gui/checks.h"

namespace {

using gui::check;
using gui::checkText;

// --- Expected layouts ---

enum ControlKind { PUSH, RADIO, CHECK, GROUP, LABEL, BITMAP, EDIT, PASSWORD, COMBO, PROGRESS, PROGRESS_BORDERED };

// Positions and sizes in dialog units; ANY where the layout leaves a number free.
constexpr int ANY = -1;
constexpr bool OFF = true;  // created disabled

struct ControlLayout {
    int id;
    ControlKind kind;
    const wchar_t* text;  // "#n" for a resource ordinal
    int x, y, cx, cy;
    bool disabled = false;
};

struct DialogLayout {
    int id;
    const wchar_t* caption;
    int cx, cy;
    int menu;  // 0: none
    bool minimizeBox;
    std::vector<ControlLayout> controls;
};

const std::vector<DialogLayout>& expectedDialogs() {
    static const std::vector<DialogLayout> layouts = {
        {IDD_MAIN,
         L"Ferrolyn",
         371,
         317,
         IDM_MAIN_MENU,
         true,
         {
             {IDC_MAIN_BANNER, BITMAP, L"#110", 6, 4, 359, 57},
             {IDC_STATIC, GROUP, L"Krypteringsmetod:", 6, 66, 360, 171},
             {IDC_MAIN_METHOD_KEY_FILE, RADIO, L"Nyckelfil", 19, 81, 84, 10},
             {IDC_STATIC, LABEL, L"Filnamn:", 31, 99, 30, 8},
             {IDC_MAIN_KEY_FILE_PATH, EDIT, L"", 79, 96, 228, 13},
             {IDC_MAIN_BROWSE_KEY_FILE, PUSH, L"Välj fil", 313, 96, 44, 14},
             {IDC_MAIN_METHOD_KEY_CODE, RADIO, L"Nyckelkod", 18, 121, 87, 10},
             {IDC_STATIC, LABEL, L"Kod:", 30, 139, 24, 8},
             {IDC_MAIN_KEY_CODE, EDIT, L"", 78, 136, 274, 12, OFF},
             {IDC_MAIN_CREATE_KEY_CODE, PUSH, L"Skapa ny nyckelkod", 267, 153, 85, 16, OFF},
             {IDC_MAIN_METHOD_PASSPHRASE, RADIO, L"Lösenfras", 17, 160, 87, 10},
             {IDC_STATIC, LABEL, L"Lösenfras:", 28, 180, 48, 8},
             {IDC_MAIN_PASSPHRASE, PASSWORD, L"", 82, 178, 272, 13, OFF},
             {IDC_STATIC, LABEL, L"Repetera:", 28, 196, 48, 8},
             {IDC_MAIN_PASSPHRASE_REPEAT, PASSWORD, L"", 82, 196, 272, 13, OFF},
             {IDC_MAIN_HIDE_PASSPHRASE, CHECK, L"Dölj lösenfrasen", 82, 217, 79, 10, OFF},
             {IDC_MAIN_CREATE_PASSPHRASE, PUSH, L"Skapa lösenfras", 269, 215, 83, 14, OFF},
             {IDC_STATIC, GROUP, L"Datakälla:", 6, 240, 360, 49},
             {IDC_STATIC, LABEL, L"Filnamn:", 20, 260, 43, 8},
             {IDC_MAIN_SOURCE_PATH, EDIT, L"", 66, 258, 239, 13},
             {IDC_MAIN_BROWSE_SOURCE, PUSH, L"Välj fil", 311, 258, 43, 14},
             {IDC_MAIN_DECRYPT, PUSH, L"Dekryptera", 120, 294, 78, 18},
             {IDC_MAIN_ENCRYPT, PUSH, L"Kryptera", 204, 294, 78, 18},
             {IDC_MAIN_EXIT, PUSH, L"Avsluta", 288, 294, 78, 18},
         }},
        {IDD_PROGRESS,
         L"Ferrolyn",
         223,
         66,
         0,
         false,
         {
             {IDC_PROGRESS_CANCEL, PUSH, L"Avbryt", 165, 47, 50, 14},
             {IDC_PROGRESS_STATUS, LABEL, L"", 11, 12, 142, 8},
             {IDC_PROGRESS_BAR, PROGRESS_BORDERED, L"", 9, 28, 206, 12},
         }},
        {IDD_ENTROPY,
         L"Slumptalsinsamling",
         253,
         164,
         0,
         false,
         {
             {IDC_STATIC, LABEL, L"Rör muspekaren slumpmässigt över fönstret för att samla slumptal.", 24, 30, 215, 8},
             {IDC_STATIC, LABEL, L"OBS! Använd inte trådlös mus vid insamling av slumptal.", 42, 54, 179, 8},
             {IDC_ENTROPY_COUNTER, LABEL, L"0 /  1024", 108, 96, 44, 8},
             {IDC_ENTROPY_CONTINUE, PUSH, L"Fortsätt", 192, 138, 50, 14, OFF},
         }},
        {IDD_ABOUT,
         L"Ferrolyn",
         166,
         116,
         0,
         false,
         {
             {IDC_STATIC, LABEL, L"Ferrolyn v1.0", 54, 20, 64, 8},
             {IDC_STATIC, LABEL, L"2018-03-24", 65, 36, 38, 8},
             {IDC_STATIC, LABEL, L"Halvardi", 55, 55, 60, 8},
             {IDC_ABOUT_OK, PUSH, L"OK", 57, 90, 60, 14},
         }},
        {IDD_ENCRYPTION_INFO,
         L"Kryptering",
         276,
         233,
         0,
         false,
         {
             {IDC_STATIC, GROUP, L"Krypteringsinformation:", 6, 6, 264, 198},
             {IDC_STATIC, LABEL, L"Slumptalsgenerering:", 18, 24, ANY, ANY},
             {IDC_INFO_RANDOM_GENERATION, LABEL, L"Orvantis AES-256/SHA-256/4096", 132, 24, ANY, ANY},
             {IDC_STATIC, LABEL, L"Nyckelgenerering:", 18, 42, ANY, ANY},
             {IDC_STATIC, LABEL, L"RAW / PBKDF2 (75k itt)", 132, 42, ANY, ANY},
             {IDC_STATIC, LABEL, L"Nyckelverifiering:", 18, 54, ANY, ANY},
             {IDC_STATIC, LABEL, L"HMAC-SHA256", 132, 54, ANY, ANY},
             {IDC_STATIC, LABEL, L"Nyckeldelning:", 18, 66, ANY, ANY},
             {IDC_INFO_KEY_SPLITTING, LABEL, L"Deterministrisk CTR (AES-256)", 132, 66, ANY, ANY},
             {IDC_STATIC, LABEL, L"Typ av kryptering:", 18, 84, ANY, ANY},
             {IDC_STATIC, LABEL, L"Symmetriskt blockchiffer", 132, 84, ANY, ANY},
             {IDC_STATIC, LABEL, L"Algoritm:", 18, 102, ANY, ANY},
             {IDC_INFO_ALGORITHM, LABEL, L"AES-256", 132, 102, ANY, ANY},
             {IDC_STATIC, LABEL, L"Nyckellängd:", 18, 114, ANY, ANY},
             {IDC_STATIC, LABEL, L"256bit", 132, 114, ANY, ANY},
             {IDC_STATIC, LABEL, L"Krypteringsmode:", 18, 126, ANY, ANY},
             {IDC_STATIC, LABEL, L"Cipher Block Chaining (CBC)", 132, 126, ANY, ANY},
             {IDC_STATIC, LABEL, L"Implementation:", 18, 138, ANY, ANY},
             {IDC_INFO_IMPLEMENTATION, LABEL, L"32bit (equvivalent decryption algorithm)", 132, 138, ANY, ANY},
             {IDC_STATIC, LABEL, L"Autentisering:", 18, 156, ANY, ANY},
             {IDC_STATIC, LABEL, L"HMAC-SHA256", 132, 156, ANY, ANY},
             {IDC_STATIC, LABEL, L"Entropi-steg:", 18, 174, ANY, ANY},
             {IDC_INFO_ENTROPY_STAGE, LABEL, L"BWT/MTF/Huffman-codec", 132, 174, ANY, ANY},
             {IDC_INFO_CLOSE, PUSH, L"Stäng", 208, 208, 61, 18},
         }},
        {IDD_CREATE_KEY_FILE,
         L"Skapa nyckelfil",
         270,
         168,
         0,
         false,
         {
             {IDC_STATIC, LABEL, L"Rör muspekaren slumpmässigt över fönstret för att samla slumptal.", 24, 30, 215, 8},
             {IDC_STATIC, LABEL, L"OBS! Använd inte trådlös mus vid insamling av slumptal.", 42, 60, 179, 8},
             {IDC_KEY_FILE_COUNTER, LABEL, L"0 / 1024", 12, 102, 60, 8},
             {IDC_KEY_FILE_BAR, PROGRESS, L"", 12, 114, 246, 14},
             {IDC_KEY_FILE_CREATE, PUSH, L"Skapa nyckelfil", 108, 144, 92, 18, OFF},
             {IDC_KEY_FILE_CANCEL, PUSH, L"Avbryt", 204, 144, 56, 18},
         }},
        {IDD_SETTINGS,
         L"Inställningar",
         256,
         104,
         0,
         false,
         {
             {IDC_STATIC, LABEL, L"Krypteringsalgoritm:", 18, 18, 66, 8},
             {IDC_SETTINGS_CIPHER, COMBO, L"", 96, 16, 85, 30},
             {IDC_SETTINGS_COMPRESS, CHECK, L"Komprimera filer (tar längre tid)", 24, 48, 156, 10},
             {IDC_SETTINGS_OK, PUSH, L"OK", 144, 84, 50, 14},
             {IDC_SETTINGS_CANCEL, PUSH, L"Avbryt", 198, 84, 50, 14},
         }},
    };
    return layouts;
}

// --- Reading DLGTEMPLATEEX ---

struct TemplateReader {
    const uint8_t* start;
    const uint8_t* p;
    const uint8_t* end;
    bool ok = true;

    bool need(size_t n) {
        if (static_cast<size_t>(end - p) < n) ok = false;
        return ok;
    }
    uint16_t word() {
        if (!need(2)) return 0;
        uint16_t v;
        std::memcpy(&v, p, 2);
        p += 2;
        return v;
    }
    uint32_t dword() { return word() | static_cast<uint32_t>(word()) << 16; }
    int shortValue() { return static_cast<int16_t>(word()); }
    // A string or an ordinal ("#n"); an empty string for a lone zero.
    std::wstring stringOrOrdinal() {
        const uint16_t first = word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(word());
        std::wstring s;
        for (uint16_t c = first; ok && c != 0; c = word()) s.push_back(static_cast<wchar_t>(c));
        return s;
    }
    void alignDword() {
        while (ok && (p - start) % 4 != 0) ++p;
    }
};

// Templates name the predefined classes by atom or by name; both become the atom's "#n".
std::wstring predefinedClass(const std::wstring& name) {
    static const struct {
        const wchar_t* name;
        const wchar_t* atom;
    } classes[] = {{L"button", L"#128"}, {L"edit", L"#129"}, {L"static", L"#130"}, {L"combobox", L"#133"}};
    for (const auto& c : classes) {
        if (lstrcmpiW(name.c_str(), c.name) == 0) return c.atom;
    }
    return name;
}

struct TemplateControl {
    uint32_t style;
    int x, y, cx, cy;
    int id;
    std::wstring className;  // "#n" for the predefined classes
    std::wstring text;
};

struct TemplateDialog {
    uint32_t style;
    int cx, cy;
    std::wstring menu, caption, font;
    int pointSize = 0;
    std::vector<TemplateControl> controls;
};

bool readTemplate(const uint8_t* data, size_t size, TemplateDialog& dialog) {
    TemplateReader r{data, data, data + size};
    if (r.word() != 1 || r.word() != 0xFFFF) return false;  // DLGTEMPLATEEX version 1
    r.dword();                                              // help id
    r.dword();                                              // extended style
    dialog.style = r.dword();
    const int count = r.word();
    r.shortValue();
    r.shortValue();
    dialog.cx = r.shortValue();
    dialog.cy = r.shortValue();
    dialog.menu = r.stringOrOrdinal();
    r.stringOrOrdinal();  // window class
    dialog.caption = r.stringOrOrdinal();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = r.word();
        r.word();  // weight
        r.word();  // italic, character set
        dialog.font = r.stringOrOrdinal();
    }
    for (int i = 0; i < count && r.ok; ++i) {
        r.alignDword();
        TemplateControl control;
        r.dword();  // help id
        r.dword();  // extended style
        control.style = r.dword();
        control.x = r.shortValue();
        control.y = r.shortValue();
        control.cx = r.shortValue();
        control.cy = r.shortValue();
        control.id = static_cast<int32_t>(r.dword());
        control.className = predefinedClass(r.stringOrOrdinal());
        control.text = r.stringOrOrdinal();
        const uint16_t extra = r.word();
        if (r.need(extra)) r.p += extra;
        dialog.controls.push_back(control);
    }
    return r.ok;
}

// --- Comparing ---

// Class names ignore case; the resource compiler writes this one in capitals.
bool isProgressClass(const std::wstring& name) { return lstrcmpiW(name.c_str(), L"msctls_progress32") == 0; }

// The class and the style bits that make a control of this kind.
bool controlKindMatches(const TemplateControl& c, ControlKind kind) {
    const uint32_t buttonType = c.style & BS_TYPEMASK;
    const uint32_t staticType = c.style & SS_TYPEMASK;
    switch (kind) {
    case PUSH: return c.className == L"#128" && (buttonType == BS_PUSHBUTTON || buttonType == BS_DEFPUSHBUTTON);
    case RADIO: return c.className == L"#128" && buttonType == BS_AUTORADIOBUTTON;
    case CHECK: return c.className == L"#128" && buttonType == BS_AUTOCHECKBOX;
    case GROUP: return c.className == L"#128" && buttonType == BS_GROUPBOX;
    case LABEL: return c.className == L"#130" && staticType == SS_LEFT;
    case BITMAP: return c.className == L"#130" && staticType == SS_BITMAP;
    case EDIT: return c.className == L"#129" && (c.style & ES_AUTOHSCROLL) && !(c.style & ES_PASSWORD);
    case PASSWORD: return c.className == L"#129" && (c.style & ES_AUTOHSCROLL) && (c.style & ES_PASSWORD);
    case COMBO:
        return c.className == L"#133" && (c.style & 3) == CBS_DROPDOWNLIST && (c.style & CBS_SORT) &&
               (c.style & WS_VSCROLL);
    case PROGRESS: return isProgressClass(c.className);
    case PROGRESS_BORDERED: return isProgressClass(c.className) && (c.style & WS_BORDER);
    }
    return false;
}

bool sameNumber(int actual, int expected) { return expected == ANY || actual == expected; }

void compareDialog(const TemplateDialog& dialog, const DialogLayout& expected) {
    checkText(dialog.caption, expected.caption, "caption");
    check(dialog.cx == expected.cx && dialog.cy == expected.cy,
          "size " + std::to_string(dialog.cx) + " x " + std::to_string(dialog.cy));
    checkText(dialog.font, L"MS Shell Dlg", "font");
    check(dialog.pointSize == 8, "font size 8");
    check(dialog.menu == (expected.menu == 0 ? L"" : L"#" + std::to_wstring(expected.menu)), "menu");
    const uint32_t frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    check((dialog.style & frame) == frame, "modal frame with caption and system menu");
    check(!(dialog.style & (WS_THICKFRAME | WS_MAXIMIZEBOX)), "no resizing, no maximise box");
    check(((dialog.style & WS_MINIMIZEBOX) != 0) == expected.minimizeBox, "minimise box only on the main window");
    check(dialog.controls.size() == expected.controls.size(),
          "control count " + std::to_string(dialog.controls.size()));
    for (size_t i = 0; i < dialog.controls.size() && i < expected.controls.size(); ++i) {
        const TemplateControl& c = dialog.controls[i];
        const ControlLayout& s = expected.controls[i];
        const std::string where = "control " + std::to_string(i) + " (\"" + gui::narrow(s.text) + "\")";
        check(c.id == (s.id == IDC_STATIC ? 0xFFFF : s.id) || c.id == s.id, where + " id " + std::to_string(c.id));
        check(
            controlKindMatches(c, s.kind),
            where + " class and style: " + gui::narrow(c.className) + ", style 0x" + [&] {
                char h[16];
                std::snprintf(h, sizeof h, "%08lX", static_cast<unsigned long>(c.style));
                return std::string(h);
            }());
        checkText(c.text, s.text, where + " text");
        check(sameNumber(c.x, s.x) && sameNumber(c.y, s.y) && sameNumber(c.cx, s.cx) && sameNumber(c.cy, s.cy),
              where + " at " + std::to_string(c.x) + ", " + std::to_string(c.y) + ", " + std::to_string(c.cx) + ", " +
                  std::to_string(c.cy));
        check(((c.style & WS_DISABLED) != 0) == s.disabled, where + (s.disabled ? " created disabled" : " enabled"));
        check(c.style & WS_VISIBLE, where + " visible");
    }
}

const uint8_t* resourceData(HMODULE module, const wchar_t* type, int id, DWORD& size) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return nullptr;
    size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    return loaded == nullptr ? nullptr : static_cast<const uint8_t*>(LockResource(loaded));
}

// --- Showing templates ---

INT_PTR CALLBACK showProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        RECT desktop, own;
        GetWindowRect(GetDesktopWindow(), &desktop);
        GetWindowRect(dialog, &own);
        SetWindowPos(dialog, nullptr, (desktop.right - (own.right - own.left)) / 2,
                     (desktop.bottom - (own.bottom - own.top)) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        return TRUE;
    }
    return FALSE;
}

// Shows the template modelessly in this process, as the program will once the dialog is built,
// and saves a screenshot.
void showTemplate(HMODULE module, int id, const std::wstring& shot) {
    DWORD size = 0;
    const uint8_t* data = resourceData(module, reinterpret_cast<const wchar_t*>(RT_DIALOG), id, size);
    HWND dialog = data == nullptr ? nullptr
                                  : CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(data), nullptr,
                                                               showProc, 0);
    check(dialog != nullptr, "dialog " + std::to_string(id) + " can be created");
    if (dialog == nullptr) return;
    ShowWindow(dialog, SW_SHOW);
    const DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < 500) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(20);
    }
    check(gui::saveScreenshot(shot), "screenshot of dialog " + std::to_string(id));
    DestroyWindow(dialog);
}

// --- Menu, icon, bitmap, manifest ---

void checkMenu(HMODULE module) {
    gui::results.scenario = "menu 107";
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(IDM_MAIN_MENU));
    check(menu != nullptr, "menu 107 loads");
    if (menu == nullptr) return;
    auto itemText = [](HMENU m, UINT position) {
        wchar_t text[128] = {};
        GetMenuStringW(m, position, text, 128, MF_BYPOSITION);
        return std::wstring(text);
    };
    check(GetMenuItemCount(menu) == 2, "two menus");
    checkText(itemText(menu, 0), L"Arkiv", "first menu");
    checkText(itemText(menu, 1), L"Hjälp", "second menu");
    struct Item {
        int menu;
        UINT id;  // 0: separator
        const wchar_t* text;
    };
    static const Item items[] = {
        {0, IDM_CREATE_KEY_FILE, L"Skapa nyckelfil..."},
        {0, 0, L""},
        {0, IDM_SETTINGS, L"Inställningar..."},
        {0, IDM_ENCRYPTION_INFO, L"Kryptering..."},
        {0, 0, L""},
        {0, IDM_EXIT, L"Avsluta"},
        {1, IDM_ABOUT, L"Om..."},
    };
    int position[2] = {0, 0};
    for (const Item& item : items) {
        HMENU sub = GetSubMenu(menu, item.menu);
        const UINT at = static_cast<UINT>(position[item.menu]++);
        if (item.id == 0) {
            check((GetMenuState(sub, at, MF_BYPOSITION) & MF_SEPARATOR) != 0, "separator at " + std::to_string(at));
        } else {
            check(GetMenuItemID(sub, static_cast<int>(at)) == item.id, "command " + std::to_string(item.id));
            checkText(itemText(sub, at), item.text, "item " + std::to_string(item.id));
        }
    }
    check(GetMenuItemCount(GetSubMenu(menu, 0)) == position[0] && GetMenuItemCount(GetSubMenu(menu, 1)) == position[1],
          "no further items");
    DestroyMenu(menu);
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

void checkImages(HMODULE module) {
    gui::results.scenario = "icon 105 and banner 110";
    DWORD size = 0;
    const uint8_t* group = resourceData(module, reinterpret_cast<const wchar_t*>(RT_GROUP_ICON), IDI_FERROLYN, size);
    check(group != nullptr && size >= 6, "icon group 105 exists");
    if (group != nullptr && size >= 6) {
        WORD count;
        std::memcpy(&count, group + 4, 2);
        check(count == 3 && size >= 6 + count * sizeof(IconGroupEntry), "three icon images");
        const int sizes[] = {16, 32, 64};
        for (int i = 0; i < count && i < 3 && size >= 6 + (i + 1) * sizeof(IconGroupEntry); ++i) {
            IconGroupEntry entry;
            std::memcpy(&entry, group + 6 + i * sizeof entry, sizeof entry);
            check(entry.width == sizes[i] && entry.height == sizes[i],
                  "icon image of " + std::to_string(sizes[i]) + " pixels");
            DWORD imageSize = 0;
            const uint8_t* image = resourceData(module, reinterpret_cast<const wchar_t*>(RT_ICON), entry.id, imageSize);
            BITMAPINFOHEADER header = {};
            if (image != nullptr && imageSize >= sizeof header) std::memcpy(&header, image, sizeof header);
            check(header.biWidth == sizes[i] && header.biBitCount == 24,
                  "icon image of " + std::to_string(sizes[i]) + " pixels has 24 bits per pixel");
        }
    }
    const uint8_t* banner = resourceData(module, reinterpret_cast<const wchar_t*>(RT_BITMAP), IDB_BANNER, size);
    BITMAPINFOHEADER header = {};
    if (banner != nullptr && size >= sizeof header) std::memcpy(&header, banner, sizeof header);
    check(header.biWidth == 539 && header.biHeight == 92 && header.biBitCount == 24,
          "banner 110 is 539 x 92 at 24 bits");

    gui::results.scenario = "manifest";
    const uint8_t* manifest = resourceData(module, reinterpret_cast<const wchar_t*>(RT_MANIFEST), 1, size);
    const std::string text =
        manifest == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(manifest), size);
    check(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") != std::string::npos,
          "asks for common controls version 6");
    check(text.find("level=\"asInvoker\"") != std::string::npos, "runs as invoker");
    check(text.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>") !=
              std::string::npos,
          "declares itself DPI aware");
    check(text.find(">true</longPathAware>") != std::string::npos, "declares itself long-path aware");
    for (const char* windows : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        check(text.find(std::string("<supportedOS Id=\"{") + windows + "}\"/>") != std::string::npos,
              std::string("names Windows ") + windows + " as supported");
    }
}

}  // namespace

void checkResources(const std::wstring& program, const std::wstring& shots) {
    gui::results.scenario = "resources";
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    check(module != nullptr, "Ferrolyn.exe loads as data");
    if (module == nullptr) return;
    for (const DialogLayout& expected : expectedDialogs()) {
        gui::results.scenario = "dialog " + std::to_string(expected.id);
        DWORD size = 0;
        const uint8_t* data = resourceData(module, reinterpret_cast<const wchar_t*>(RT_DIALOG), expected.id, size);
        TemplateDialog dialog;
        check(data != nullptr && readTemplate(data, size, dialog), "template exists and reads");
        if (data == nullptr) continue;
        compareDialog(dialog, expected);
        // The main window and the entropy dialog are photographed running in the program.
        if (expected.id != IDD_MAIN && expected.id != IDD_ENTROPY) {
            showTemplate(module, expected.id, shots + L"\\dialog_" + std::to_wstring(expected.id) + L".bmp");
        }
    }
    checkMenu(module);
    checkImages(module);
    FreeLibrary(module);
}
