// The platform layer on Win32: wide-character file handles, CryptoAPI random bytes, the local
// application-data working folder and the C runtime's clocks. Paths are UTF-16 code units.

#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstring>
#include <ctime>

#include "base/text.h"
#include "platform/failures.h"
#include "platform/platform.h"
#include "platform/unfinished_files.h"

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
    NativePath path = SecureBuffer::zeros(static_cast<uint32_t>(units) * NATIVE_UNIT_BYTES);
    if (MultiByteToWideChar(codePage, flags, text, -1, reinterpret_cast<wchar_t*>(path.data()), units) != units) {
        path.wipe();
    }
    return path;
}

HANDLE handleOf(const PlatformFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

PlatformFailureCause causeOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return CAUSE_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return CAUSE_ACCESS_DENIED;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return CAUSE_DISK_FULL;
    case ERROR_DIRECTORY: return CAUSE_IS_DIRECTORY;
    default: return CAUSE_OTHER;
    }
}

bool failWithLastError(PlatformOperation operation) {
    const DWORD error = GetLastError();
    platformRecordFailure(operation, causeOf(error), static_cast<int32_t>(error));
    SetLastError(error);
    return false;
}

bool isDirectory(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What an open accepts besides files on disk.
enum OpenKinds { DISK_FILES_ONLY, DISK_FILES_AND_PIPES };

bool openWith(const NativePath& path, DWORD access, DWORD share, DWORD disposition, OpenKinds kinds,
              PlatformOperation operation, PlatformFile& file) {
    file = PlatformFile();
    const wchar_t* p = nativePathUnits(path);
    if (p == nullptr) {
        platformRecordFailure(operation, CAUSE_NOT_FOUND, ERROR_INVALID_NAME);
        return false;
    }
    if (platformFaultInjected(operation)) return false;
    HANDLE handle = CreateFileW(p, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A folder is refused with "access denied"; say what it is.
        if (GetLastError() == ERROR_ACCESS_DENIED && isDirectory(p)) {
            platformRecordFailure(operation, CAUSE_IS_DIRECTORY, ERROR_ACCESS_DENIED);
            return false;
        }
        return failWithLastError(operation);
    }
    // Only files on disk are sources, containers or targets; pipes and devices (CON, NUL, COM1,
    // \\.\pipe\...) are refused before any byte moves.
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK && !(kinds == DISK_FILES_AND_PIPES && type == FILE_TYPE_PIPE)) {
        platformRecordFailure(operation, CAUSE_NOT_REGULAR_FILE, 0);
        CloseHandle(handle);
        return false;
    }
    file.handle = reinterpret_cast<intptr_t>(handle);
    file.valid = true;
    return true;
}

bool fileIdentity(const NativePath& path, BY_HANDLE_FILE_INFORMATION& info) {
    const wchar_t* p = nativePathUnits(path);
    if (p == nullptr) return false;
    // Access 0 asks only for attributes, so a file that another handle holds unshared still
    // answers.
    HANDLE handle = CreateFileW(p, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return ok;
}

}  // namespace

NativePath nativePathFromText(const SecureBuffer& text) { return widen(textPointer(text), CP_ACP, 0); }

NativePath nativePathFromUtf8(const char* utf8) { return widen(utf8, CP_UTF8, MB_ERR_INVALID_CHARS); }

std::string utf8FromNativePath(const NativePath& path) {
    const wchar_t* units = nativePathUnits(path);
    if (units == nullptr) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, -1, text.data(), bytes, nullptr, nullptr);
    text.pop_back();
    return text;
}

bool platformStandardOutput(PlatformFile& file) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<intptr_t>(output);
    file.valid = true;
    return true;
}

bool platformOpenRead(const NativePath& path, PlatformFile& file) {
    return openWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, DISK_FILES_ONLY, PLATFORM_OPEN, file);
}

bool platformOpenReadStream(const NativePath& path, PlatformFile& file) {
    return openWith(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, DISK_FILES_AND_PIPES, PLATFORM_OPEN, file);
}

bool platformCreateWrite(const NativePath& path, PlatformFile& file) {
    return openWith(path, GENERIC_WRITE, 0, CREATE_ALWAYS, DISK_FILES_ONLY, PLATFORM_CREATE, file);
}

bool platformCreateNew(const NativePath& path, PlatformFile& file, PlatformPermissions) {
    // DELETE access lets an interrupt mark the file for deletion while it is still open.
    if (!openWith(path, GENERIC_WRITE | DELETE, 0, CREATE_NEW, DISK_FILES_ONLY, PLATFORM_CREATE, file)) return false;
    unfinishedTrack(unfinishedFiles, path, file.handle);
    return true;
}

bool platformRead(PlatformFile& file, uint8_t* data, uint32_t count, uint32_t& got) {
    got = 0;
    if (!file.valid) return false;
    if (platformFaultInjected(PLATFORM_READ)) return false;
    while (got < count) {
        DWORD n = 0;
        if (!ReadFile(handleOf(file), data + got, count - got, &n, nullptr)) return failWithLastError(PLATFORM_READ);
        if (n == 0) break;
        got += n;
    }
    return true;
}

bool platformWrite(PlatformFile& file, const uint8_t* data, uint32_t count) {
    if (!file.valid) return false;
    if (platformFaultInjected(PLATFORM_WRITE)) return false;
    uint32_t written = 0;
    while (written < count) {
        DWORD n = 0;
        if (!WriteFile(handleOf(file), data + written, count - written, &n, nullptr)) {
            return failWithLastError(PLATFORM_WRITE);
        }
        if (n == 0) {
            platformRecordFailure(PLATFORM_WRITE, CAUSE_DISK_FULL, ERROR_DISK_FULL);
            return false;
        }
        written += n;
    }
    return true;
}

bool platformFlush(PlatformFile& file) {
    if (!file.valid) return false;
    if (platformFaultInjected(PLATFORM_FLUSH)) return false;
    return FlushFileBuffers(handleOf(file)) != 0 || failWithLastError(PLATFORM_FLUSH);
}

// The cache manager writes dirty pages back on its own within seconds.
void platformStartWriteback(PlatformFile&) {}

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
    const bool injected = platformFaultInjected(PLATFORM_CLOSE);
    unfinishedForgetHandle(unfinishedFiles, file.handle);
    const bool ok = CloseHandle(handleOf(file)) != 0;
    if (!ok) (void)failWithLastError(PLATFORM_CLOSE);
    file = PlatformFile();
    return ok && !injected;
}

bool platformDelete(const NativePath& path) {
    const wchar_t* p = nativePathUnits(path);
    if (p == nullptr || DeleteFileW(p) == 0) return false;
    unfinishedUntrack(unfinishedFiles, path);
    return true;
}

bool platformRenameOver(const NativePath& from, const NativePath& to) {
    const wchar_t* a = nativePathUnits(from);
    const wchar_t* b = nativePathUnits(to);
    if (a == nullptr || b == nullptr) return false;
    if (platformFaultInjected(PLATFORM_RENAME)) return false;
    if (isDirectory(b)) {
        platformRecordFailure(PLATFORM_RENAME, CAUSE_IS_DIRECTORY, ERROR_ACCESS_DENIED);
        return false;
    }
    // Write-through: the call returns only when the move is on the disk.
    if (MoveFileExW(a, b, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        return failWithLastError(PLATFORM_RENAME);
    }
    unfinishedUntrack(unfinishedFiles, from);
    return true;
}

bool platformRenameNew(const NativePath& from, const NativePath& to) {
    const wchar_t* a = nativePathUnits(from);
    const wchar_t* b = nativePathUnits(to);
    if (a == nullptr || b == nullptr) return false;
    if (platformFaultInjected(PLATFORM_RENAME)) return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything has the name b.
    if (MoveFileExW(a, b, MOVEFILE_WRITE_THROUGH) == 0) return failWithLastError(PLATFORM_RENAME);
    unfinishedUntrack(unfinishedFiles, from);
    return true;
}

// An open file was created with DELETE access: marked for deletion through its handle, it vanishes
// when the handle closes, at the latest when the process ends.
void unfinishedFileRemove(const NativeUnit* path, intptr_t handle) {
    if (handle != UNFINISHED_NO_HANDLE) {
        FILE_DISPOSITION_INFO disposition;
        disposition.DeleteFile = TRUE;
        (void)SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), FileDispositionInfo, &disposition,
                                         sizeof disposition);
    } else {
        (void)DeleteFileW(path);
    }
}

bool platformSameFile(const NativePath& a, const NativePath& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return fileIdentity(a, first) && fileIdentity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
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
