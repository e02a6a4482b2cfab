// The platform layer on Win32: wide-character file handles, CryptoAPI random bytes, the local
// application-data working folder and the C runtime's clocks. Paths are UTF-16 code units.

#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstring>
#include <ctime>

#include "base/text.h"
#include "platform/platform.h"

namespace {

// The folder appended to the local application-data folder, with its backslash.
constexpr char WORKING_FOLDER_NAME[] = "\\QX_wd";
// SHGetFolderPathA fills at most MAX_PATH bytes; the name and its NUL fit behind any such path.
constexpr uint32_t WORKING_PATH_BYTES = 270;

// UTF-16 code units of a NUL-terminated narrow string in code page codePage, NUL included; empty
// when the string is empty or does not convert.
NativePath widen(const char* text, UINT codePage, DWORD flags) {
    if (text == nullptr || *text == 0) return NativePath();
    int units = MultiByteToWideChar(codePage, flags, text, -1, nullptr, 0);
    if (units <= 0) return NativePath();
    NativePath path = SecureBuffer::zeros(static_cast<uint32_t>(units) * sizeof(wchar_t));
    if (MultiByteToWideChar(codePage, flags, text, -1, reinterpret_cast<wchar_t*>(path.data()), units) != units) {
        path.wipe();
    }
    return path;
}

// The path's code units, or null when it is empty or its last unit is not NUL.
const wchar_t* widePointer(const NativePath& path) {
    if (path.size() < 2 * sizeof(wchar_t) || path.size() % sizeof(wchar_t) != 0) return nullptr;
    const wchar_t* units = reinterpret_cast<const wchar_t*>(path.data());
    return units[path.size() / sizeof(wchar_t) - 1] == 0 ? units : nullptr;
}

HANDLE handleOf(const PlatformFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

bool openWith(const NativePath& path, DWORD access, DWORD share, DWORD disposition, PlatformFile& file) {
    file = PlatformFile();
    const wchar_t* p = widePointer(path);
    if (p == nullptr) return false;
    HANDLE handle = CreateFileW(p, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<intptr_t>(handle);
    file.valid = true;
    return true;
}

bool fileIdentity(const NativePath& path, BY_HANDLE_FILE_INFORMATION& info) {
    const wchar_t* p = widePointer(path);
    if (p == nullptr) return false;
    // Access 0 asks only for attributes, so a file that another handle holds unshared still
    // answers.
    HANDLE handle = CreateFileW(p, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return ok;
}

}  // namespace

NativePath nativePathFromText(const SecureBuffer& text) { return widen(textPointer(text), CP_ACP, 0); }

NativePath nativePathFromUtf8(const char* utf8) { return widen(utf8, CP_UTF8, MB_ERR_INVALID_CHARS); }

bool platformOpenRead(const NativePath& path, PlatformFile& file) {
    return openWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, file);
}

bool platformCreateWrite(const NativePath& path, PlatformFile& file) {
    return openWith(path, GENERIC_WRITE, 0, CREATE_ALWAYS, file);
}

bool platformCreateNew(const NativePath& path, PlatformFile& file) {
    return openWith(path, GENERIC_WRITE, 0, CREATE_NEW, file);
}

bool platformRead(PlatformFile& file, uint8_t* data, uint32_t count, uint32_t& got) {
    got = 0;
    if (!file.valid) return false;
    while (got < count) {
        DWORD n = 0;
        if (!ReadFile(handleOf(file), data + got, count - got, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

bool platformWrite(PlatformFile& file, const uint8_t* data, uint32_t count) {
    if (!file.valid) return false;
    uint32_t written = 0;
    while (written < count) {
        DWORD n = 0;
        if (!WriteFile(handleOf(file), data + written, count - written, &n, nullptr) || n == 0) return false;
        written += n;
    }
    return true;
}

bool platformSeek(PlatformFile& file, uint64_t offset) {
    if (!file.valid || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handleOf(file), distance, nullptr, FILE_BEGIN) != 0;
}

bool platformFileSize(PlatformFile& file, uint64_t& size) {
    LARGE_INTEGER value;
    if (!file.valid || !GetFileSizeEx(handleOf(file), &value) || value.QuadPart < 0) return false;
    size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool platformClose(PlatformFile& file) {
    if (!file.valid) return true;
    const bool ok = CloseHandle(handleOf(file)) != 0;
    file = PlatformFile();
    return ok;
}

bool platformDelete(const NativePath& path) {
    const wchar_t* p = widePointer(path);
    return p != nullptr && DeleteFileW(p) != 0;
}

bool platformRenameOver(const NativePath& from, const NativePath& to) {
    const wchar_t* a = widePointer(from);
    const wchar_t* b = widePointer(to);
    return a != nullptr && b != nullptr && MoveFileExW(a, b, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool platformSameFile(const NativePath& a, const NativePath& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return fileIdentity(a, first) && fileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool platformSystemRandom(uint8_t* data, uint32_t count) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET)) {
        return false;
    }
    const bool ok = CryptGenRandom(provider, count, data) != 0;
    if (!ok) secureWipe(data, count);
    CryptReleaseContext(provider, 0);
    return ok;
}

bool selectWorkingDirectory() {
    SecureBuffer path = SecureBuffer::zeros(WORKING_PATH_BYTES);
    char* p = reinterpret_cast<char*>(path.data());
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, p) != S_OK) return false;
    const size_t length = strnlen(p, MAX_PATH);
    if (length >= MAX_PATH) return false;
    std::memcpy(p + length, WORKING_FOLDER_NAME, sizeof WORKING_FOLDER_NAME);
    // Fails harmlessly when the folder exists; a plain file of that name makes the next call fail.
    CreateDirectoryA(p, nullptr);
    return SetCurrentDirectoryA(p) == 1;
}

uint64_t platformCalendarSeconds() { return static_cast<uint64_t>(std::time(nullptr)); }

// The Windows C runtime's clock() counts wall-clock milliseconds since the process started.
uint32_t platformElapsedMilliseconds() { return static_cast<uint32_t>(std::clock()); }
