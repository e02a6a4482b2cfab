// Helpers for driving Win32 windows from a test program under Wine: finding windows by caption,
// reading and setting control texts, clicking, waiting, and saving screenshots. Header-only; used
// by the Ferrolyn.exe driver and the window-operations test.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace gui {

// Generous: a Wine process start takes a second or two, more on a loaded machine.
constexpr DWORD WINDOW_TIMEOUT_MS = 60000;
constexpr DWORD POLL_MS = 50;
// The class of dialogs and message boxes.
constexpr wchar_t DIALOG_CLASS[] = L"#32770";
// Message boxes keep their text in a static with this id.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

inline std::wstring windowText(HWND window) {
    wchar_t buffer[1024] = {};
    // WM_GETTEXT crosses process boundaries, unlike GetWindowText on another process's control.
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

inline std::wstring className(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

inline std::wstring controlText(HWND dialog, int id) { return windowText(GetDlgItem(dialog, id)); }

inline void setControlText(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A round trip through the window's message queue: everything posted before has been handled.
inline void settle(HWND window) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, WINDOW_TIMEOUT_MS, &ignored);
}

// Presses a button the way a click does; posted, so a modal loop it opens does not block us.
inline void clickButton(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

inline void clickControl(HWND dialog, int id) { clickButton(GetDlgItem(dialog, id)); }

struct DialogSearch {
    DWORD pid;
    const std::wstring* caption;
    HWND found;
};

inline BOOL CALLBACK matchDialog(HWND window, LPARAM parameter) {
    auto* s = reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((s->pid == 0 || owner == s->pid) && IsWindowVisible(window) && className(window) == DIALOG_CLASS &&
        windowText(window) == *s->caption) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level dialog of process pid (0: any process) whose caption is caption.
inline HWND findDialog(DWORD pid, const std::wstring& caption) {
    DialogSearch search = {pid, &caption, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Polls until found() gives a window or timeoutMs pass; watch() runs on every poll, so a caller
// can notice windows that must not appear while it waits.
inline HWND waitFor(const std::function<HWND()>& found, DWORD timeoutMs = WINDOW_TIMEOUT_MS,
                    const std::function<void()>& watch = {}) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (watch) watch();
        if (HWND window = found()) return window;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(POLL_MS);
    }
}

inline HWND waitForDialog(DWORD pid, const std::wstring& caption, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
    return waitFor([&] { return findDialog(pid, caption); }, timeoutMs);
}

struct DescendantSearch {
    int id;
    const std::wstring* wantedClass;
    HWND found;
};

inline BOOL CALLBACK matchDescendant(HWND window, LPARAM parameter) {
    auto* s = reinterpret_cast<DescendantSearch*>(parameter);
    if (GetDlgCtrlID(window) == s->id && className(window) == *s->wantedClass) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// The first descendant of parent with this id and class.
inline HWND findDescendant(HWND parent, int id, const std::wstring& wantedClass) {
    DescendantSearch search = {id, &wantedClass, nullptr};
    EnumChildWindows(parent, matchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Whether the window is centred in the desktop's rectangle, halves rounded toward zero.
inline bool centredOnDesktop(HWND window) {
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &own);
    return own.left == (desktop.right - (own.right - own.left)) / 2 &&
           own.top == (desktop.bottom - (own.bottom - own.top)) / 2;
}

// Saves the whole screen as a 24-bit BMP file.
inline bool saveScreenshot(const std::wstring& path) {
    HWND desktop = GetDesktopWindow();
    RECT area;
    GetWindowRect(desktop, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageBytes = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + imageBytes;
        FILE* file = _wfopen(path.c_str(), L"wb");
        if (file != nullptr) {
            ok = std::fwrite(&header, sizeof header, 1, file) == 1 &&
                 std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
                 std::fwrite(bits, imageBytes, 1, file) == 1;
            ok = std::fclose(file) == 0 && ok;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// UTF-8 for printing a wide text on the console.
inline std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);
    return out;
}

}  // namespace gui
