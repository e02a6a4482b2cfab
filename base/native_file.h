// Native paths, and runtime streams opened by them. A name travels from where the user gave it to
// the file call without passing through a narrow code page: on Windows a character outside the
// ANSI code page would otherwise turn into a look-alike ("Łódź.txt" into "Lódz.txt", another file)
// or into "?".
#pragma once

#include <cstdio>

#include "base/secure_buffer.h"

// A native path: on Windows UTF-16LE code units, on POSIX the path's bytes; always followed by a
// terminating zero unit (two zero bytes on Windows, one on POSIX). Paths are secrets and live in
// SecureBuffers. platform/platform.h makes them from command-line and ANSI text.
using NativePath = SecureBuffer;

// The bytes of one native code unit: 2 on Windows, 1 on POSIX. Every size of a native path in
// bytes is counted in these; NativeUnit is the character type the system's file calls take.
#if defined(_WIN32)
constexpr uint32_t NATIVE_UNIT_BYTES = 2;
using NativeUnit = wchar_t;
#else
constexpr uint32_t NATIVE_UNIT_BYTES = 1;
using NativeUnit = char;
#endif
static_assert(sizeof(NativeUnit) == NATIVE_UNIT_BYTES);

// Whether path holds at least one unit before its terminating zero unit, in whole units.
bool isNativePath(const NativePath& path);

// The units of path before its terminating zero unit; 0 when it is not a native path.
uint32_t nativePathLength(const NativePath& path);

// The units of path, terminator included, as the system's file calls take them; null when path is
// not a native path (the empty name included). Valid while path is neither changed nor released.
const NativeUnit* nativePathUnits(const NativePath& path);

// Opens the file at path with the runtime's stream functions, mode as for std::fopen ("rb",
// "wb"): on Windows through the wide-character call. Null when path is not a native path or the
// file does not open.
std::FILE* openNativeStream(const NativePath& path, const char* mode);
