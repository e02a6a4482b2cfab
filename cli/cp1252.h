// Conversion of UTF-8 text to Windows-1252 bytes, so that a passphrase typed or stored as UTF-8
// opens the same containers as the desktop program, which hashes the passphrase's ANSI bytes.
#pragma once

#include "base/secure_buffer.h"

// The Windows-1252 bytes of the UTF-8 bytes in utf8 (no NUL expected), as a text buffer with a
// NUL. False, out untouched, when the input is not valid UTF-8 or holds a character that
// Windows-1252 cannot represent exactly (nothing is ever replaced by "?").
[[nodiscard]] bool utf8ToCp1252(const SecureBuffer& utf8, SecureBuffer& out);
