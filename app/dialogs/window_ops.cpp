// Centring, icons, the two file dialogs and file names. Every path buffer is a SecureBuffer, so it
// is wiped on each way out.

#include "app/dialogs/window_ops.h"

#include <commdlg.h>

#include <cstring>
#include <string>
#include <utility>

#include "app/startup.h"
#include "job/texts.h"
#include "base/text.h"
#include "resources/resource_ids.h"

HWND mainWindow = nullptr;

namespace {

// The file-name buffer of both dialogs, in UTF-16 units, and its longest name.
constexpr uint32_t FILE_NAME_UNITS = 260;
constexpr uint32_t FILE_NAME_MAX_CHARS = FILE_NAME_UNITS - 1;
// The program's texts are compiled as Windows-1252; the wide dialog gets them by that code page,
// whatever the system's ANSI code page is.
constexpr UINT TEXT_CODE_PAGE = 1252;

constexpr DWORD OPEN_FLAGS = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
constexpr DWORD SAVE_FLAGS =
    OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
static_assert(OPEN_FLAGS == 0x8100C && SAVE_FLAGS == 0x8080E);
// The full structure, with the fields of Windows 2000 and later.
static_assert(sizeof(OPENFILENAMEW) == 88);

struct FileDialogTexts {
    const char* title;
    const char* filter;  // pairs of NUL-terminated texts, ended by one more NUL
    const char* defaultExtension;
};

// The wide form of the dialog's texts.
struct WideDialogTexts {
    std::wstring title;
    std::wstring filter;
    std::wstring defaultExtension;
};

// The UTF-16 form of count Windows-1252 bytes (NULs kept).
std::wstring widenText(const char* text, size_t count) {
    if (count == 0) return std::wstring();
    const int units = MultiByteToWideChar(TEXT_CODE_PAGE, 0, text, static_cast<int>(count), nullptr, 0);
    std::wstring wide(units > 0 ? static_cast<size_t>(units) : 0, L'\0');
    if (units > 0) MultiByteToWideChar(TEXT_CODE_PAGE, 0, text, static_cast<int>(count), wide.data(), units);
    return wide;
}

// The filter's bytes up to and including the NUL that ends its list.
size_t filterBytes(const char* filter) {
    size_t length = 0;
    while (filter[length] != '\0') length += std::strlen(filter + length) + 1;
    return length + 1;
}

WideDialogTexts widen(const FileDialogTexts& texts) {
    return {widenText(texts.title, std::strlen(texts.title) + 1), widenText(texts.filter, filterBytes(texts.filter)),
            widenText(texts.defaultExtension, std::strlen(texts.defaultExtension) + 1)};
}

FileDialogTexts saveDialogTexts(FileDialogKind kind) {
    switch (kind) {
    case ANY_FILE: return {TEXT_SAVE_ANY_TITLE, TEXT_FILTER_SAVE_ANY, TEXT_EXTENSION_SAVE_ANY};
    case KEY_FILE_KIND: return {TEXT_SAVE_KEY_FILE_TITLE, TEXT_FILTER_KEY_FILE, TEXT_EXTENSION_KEY_FILE};
    case ENCRYPTED_FILE: return {TEXT_SAVE_ENCRYPTED_TITLE, TEXT_FILTER_ENCRYPTED, TEXT_EXTENSION_ENCRYPTED};
    }
    return {TEXT_SAVE_ANY_TITLE, TEXT_FILTER_SAVE_ANY, TEXT_EXTENSION_SAVE_ANY};
}

OPENFILENAMEW fileDialogRecord(HWND owner, SecureBuffer& fileName, const WideDialogTexts& texts, DWORD flags) {
    OPENFILENAMEW record;
    std::memset(&record, 0, sizeof record);
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.lpstrFilter = texts.filter.c_str();
    record.lpstrFile = reinterpret_cast<wchar_t*>(fileName.data());
    record.nMaxFile = FILE_NAME_UNITS;
    record.lpstrTitle = texts.title.c_str();
    record.lpstrDefExt = texts.defaultExtension.c_str();
    record.Flags = flags;
    return record;
}

// The name of count units at units, followed by the zero unit.
NativePath nameOf(const wchar_t* units, uint32_t count) {
    NativePath name = SecureBuffer::zeros((count + 1) * NATIVE_UNIT_BYTES);
    if (count > 0) std::memcpy(name.data(), units, count * NATIVE_UNIT_BYTES);
    return name;
}

NativePath emptyName() { return nameOf(nullptr, 0); }

// The position after the last backslash of path's count units; 0 when it has none.
uint32_t afterLastBackslash(const wchar_t* units, uint32_t count) {
    for (uint32_t i = count; i > 0; --i) {
        if (units[i - 1] == L'\\') return i;
    }
    return 0;
}

// left or top of a length centred in the span [origin, origin + span).
LONG centred(LONG origin, LONG span, LONG length) { return origin + (span - length) / 2; }

}  // namespace

NativePath firstLineOfPath(const SecureBuffer& buffer) {
    const auto* units = reinterpret_cast<const wchar_t*>(buffer.data());
    const uint32_t capacity = buffer.size() / NATIVE_UNIT_BYTES;
    uint32_t count = 0;
    while (count < capacity && units[count] >= 32) ++count;
    return nameOf(units, count);
}

NativePath readPathField(HWND window, int id) {
    HWND field = GetDlgItem(window, id);
    const int length = GetWindowTextLengthW(field);
    if (length <= 0) return emptyName();
    SecureBuffer buffer = SecureBuffer::zeros((static_cast<uint32_t>(length) + 1) * NATIVE_UNIT_BYTES);
    GetWindowTextW(field, reinterpret_cast<wchar_t*>(buffer.data()), length + 1);
    return firstLineOfPath(buffer);
}

void setPathField(HWND window, int id, const NativePath& path) {
    const wchar_t* units = nativePathUnits(path);
    SetDlgItemTextW(window, id, units != nullptr ? units : L"");
}

NativePath fileNamePart(const NativePath& path) {
    const wchar_t* units = nativePathUnits(path);
    if (units == nullptr) return emptyName();
    const uint32_t count = nativePathLength(path);
    const uint32_t start = afterLastBackslash(units, count);
    return nameOf(units + start, count - start);
}

NativePath folderPart(const NativePath& path) {
    const wchar_t* units = nativePathUnits(path);
    if (units == nullptr) return emptyName();
    return nameOf(units, afterLastBackslash(units, nativePathLength(path)));
}

bool pathEndsWith(const NativePath& path, const char* suffix) {
    const wchar_t* units = nativePathUnits(path);
    const uint32_t count = nativePathLength(path);
    const auto suffixLength = static_cast<uint32_t>(std::strlen(suffix));
    if (units == nullptr || count < suffixLength) return false;
    const wchar_t* tail = units + (count - suffixLength);
    for (uint32_t i = 0; i < suffixLength; ++i) {
        if (tail[i] != static_cast<wchar_t>(static_cast<unsigned char>(suffix[i]))) return false;
    }
    return true;
}

NativePath pathWithSuffix(const NativePath& path, const char* suffix) {
    const uint32_t count = nativePathLength(path);
    const auto suffixLength = static_cast<uint32_t>(std::strlen(suffix));
    NativePath joined = nameOf(nativePathUnits(path), count);
    joined.resize((count + suffixLength + 1) * NATIVE_UNIT_BYTES);
    auto* units = reinterpret_cast<wchar_t*>(joined.data());
    for (uint32_t i = 0; i < suffixLength; ++i)
        units[count + i] = static_cast<wchar_t>(static_cast<unsigned char>(suffix[i]));
    units[count + suffixLength] = 0;
    return joined;
}

bool chooseOpenFile(HWND owner, NativePath& path, FileDialogKind kind) {
    FileDialogTexts texts{};
    switch (kind) {
    case ANY_FILE: texts = {TEXT_OPEN_TITLE, TEXT_FILTER_OPEN_ANY, TEXT_EXTENSION_OPEN_ANY}; break;
    case KEY_FILE_KIND: texts = {TEXT_OPEN_TITLE, TEXT_FILTER_KEY_FILE, TEXT_EXTENSION_KEY_FILE}; break;
    case ENCRYPTED_FILE: return false;
    }
    const WideDialogTexts wide = widen(texts);
    SecureBuffer fileName = SecureBuffer::zeros(FILE_NAME_UNITS * NATIVE_UNIT_BYTES);
    OPENFILENAMEW record = fileDialogRecord(owner, fileName, wide, OPEN_FLAGS);
    if (!GetOpenFileNameW(&record)) return false;
    path = firstLineOfPath(fileName);
    return true;
}

bool chooseSaveFile(NativePath& path, HWND owner, FileDialogKind kind, NativePath& suggestedName,
                    const NativePath& folder) {
    SecureBuffer fileName = SecureBuffer::zeros(FILE_NAME_UNITS * NATIVE_UNIT_BYTES);
    const uint32_t suggestedLength = nativePathLength(suggestedName);
    if (suggestedLength > 0) {
        std::memcpy(
            fileName.data(), suggestedName.data(),
            (suggestedLength < FILE_NAME_MAX_CHARS ? suggestedLength : FILE_NAME_MAX_CHARS) * NATIVE_UNIT_BYTES);
    }
    suggestedName.wipe();
    const WideDialogTexts wide = widen(saveDialogTexts(kind));
    OPENFILENAMEW record = fileDialogRecord(owner, fileName, wide, SAVE_FLAGS);
    record.lpstrInitialDir = nativePathUnits(folder);
    if (!GetSaveFileNameW(&record)) return false;
    path = firstLineOfPath(fileName);
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
