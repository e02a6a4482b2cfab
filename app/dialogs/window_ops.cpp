// Centring, icons, the two file dialogs and fileNamePart. Every path buffer is a SecureBuffer,
// so it is wiped on each way out.

#include "app/dialogs/window_ops.h"

#include <commdlg.h>

#include <cstring>

#include "app/startup.h"
#include "job/texts.h"
#include "base/text.h"
#include "resources/resource_ids.h"

HWND mainWindow = nullptr;

namespace {

// The file-name buffer of both dialogs, in bytes, and its longest text.
constexpr uint32_t FILE_NAME_BYTES = 260;
constexpr uint32_t FILE_NAME_MAX_CHARS = FILE_NAME_BYTES - 1;

constexpr DWORD OPEN_FLAGS = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
constexpr DWORD SAVE_FLAGS =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static_assert(OPEN_FLAGS == 0x8100C && SAVE_FLAGS == 0x8080E);
// The full structure, with the fields of Windows 2000 and later.
static_assert(sizeof(OPENFILENAMEA) == 88);

struct FileDialogTexts {
    const char* title;
    const char* filter;
    const char* defaultExtension;
};

FileDialogTexts saveDialogTexts(FileDialogKind kind) {
    switch (kind) {
    case ANY_FILE: return {TEXT_SAVE_ANY_TITLE, TEXT_FILTER_SAVE_ANY, TEXT_EXTENSION_SAVE_ANY};
    case KEY_FILE_KIND: return {TEXT_SAVE_KEY_FILE_TITLE, TEXT_FILTER_KEY_FILE, TEXT_EXTENSION_KEY_FILE};
    case ENCRYPTED_FILE: return {TEXT_SAVE_ENCRYPTED_TITLE, TEXT_FILTER_ENCRYPTED, TEXT_EXTENSION_ENCRYPTED};
    }
    return {TEXT_SAVE_ANY_TITLE, TEXT_FILTER_SAVE_ANY, TEXT_EXTENSION_SAVE_ANY};
}

OPENFILENAMEA fileDialogRecord(HWND owner, SecureBuffer& fileName, const FileDialogTexts& texts, DWORD flags) {
    OPENFILENAMEA record;
    std::memset(&record, 0, sizeof record);
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.lpstrFilter = texts.filter;
    record.lpstrFile = reinterpret_cast<char*>(fileName.data());
    record.nMaxFile = FILE_NAME_BYTES;
    record.lpstrTitle = texts.title;
    record.lpstrDefExt = texts.defaultExtension;
    record.Flags = flags;
    return record;
}

// left or top of a length centred in the span [origin, origin + span).
LONG centred(LONG origin, LONG span, LONG length) { return origin + (span - length) / 2; }

}  // namespace

SecureBuffer fileNamePart(const SecureBuffer& path) {
    const char* text = textPointer(path);
    if (text == nullptr) return fromNulTerminated("");
    const char* last = std::strrchr(text, '\\');
    return fromNulTerminated(last == nullptr ? text : last + 1);
}

bool chooseOpenFile(HWND owner, SecureBuffer& path, FileDialogKind kind) {
    FileDialogTexts texts{};
    switch (kind) {
    case ANY_FILE: texts = {TEXT_OPEN_TITLE, TEXT_FILTER_OPEN_ANY, TEXT_EXTENSION_OPEN_ANY}; break;
    case KEY_FILE_KIND: texts = {TEXT_OPEN_TITLE, TEXT_FILTER_KEY_FILE, TEXT_EXTENSION_KEY_FILE}; break;
    case ENCRYPTED_FILE: return false;
    }
    SecureBuffer fileName = SecureBuffer::zeros(FILE_NAME_BYTES);
    OPENFILENAMEA record = fileDialogRecord(owner, fileName, texts, OPEN_FLAGS);
    if (!GetOpenFileNameA(&record)) return false;
    path = firstLine(fileName);
    return true;
}

bool chooseSaveFile(SecureBuffer& path, HWND owner, FileDialogKind kind, SecureBuffer& suggestedName) {
    SecureBuffer fileName = SecureBuffer::zeros(FILE_NAME_BYTES);
    const uint32_t suggestedLength = textLength(suggestedName);
    if (textPointer(suggestedName) != nullptr) {
        std::memcpy(fileName.data(), suggestedName.data(),
                    suggestedLength < FILE_NAME_MAX_CHARS ? suggestedLength : FILE_NAME_MAX_CHARS);
    }
    suggestedName.wipe();
    OPENFILENAMEA record = fileDialogRecord(owner, fileName, saveDialogTexts(kind), SAVE_FLAGS);
    if (!GetSaveFileNameA(&record)) return false;
    path = firstLine(fileName);
    return true;
}

void centerOnDesktop(HWND window) {
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &own);
    const LONG left = (desktop.right - (own.right - own.left)) / 2;
    const LONG top = (desktop.bottom - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void centerOnMainWindow(HWND dialog) {
    RECT main, own;
    GetWindowRect(mainWindow, &main);
    GetWindowRect(dialog, &own);
    LONG left = centred(main.left, main.right - main.left, own.right - own.left);
    LONG top = centred(main.top, main.bottom - main.top, own.bottom - own.top);
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setProgramIcons(HWND window) {
    HICON big = LoadIconA(instanceHandle, MAKEINTRESOURCEA(IDI_FERROLYN));
    HICON smallIcon = static_cast<HICON>(LoadImageA(instanceHandle, MAKEINTRESOURCEA(IDI_FERROLYN), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    if (big != nullptr) SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (smallIcon != nullptr) SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
}

void showMessage(HWND owner, const char* text) { MessageBoxA(owner, text, TEXT_CAPTION, MB_OK); }

bool askYesNo(HWND owner, const char* text, UINT icon) {
    return MessageBoxA(owner, text, TEXT_CAPTION, MB_YESNO | icon) == IDYES;
}
