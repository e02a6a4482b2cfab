// Key codes: the text "<", 64 hexadecimal digits, ">" that spells a 32-byte master key, read
// (surrounding spaces ignored, digits of either case) and written (lower-case digits).
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

// "<", 64 hexadecimal digits, ">".
constexpr uint32_t KEY_CODE_CHARS = 66;
// The key a key code spells.
constexpr uint32_t KEY_CODE_KEY_BYTES = 32;

// Whether text, with surrounding spaces ignored, is "<", 64 hexadecimal digits (either case) and
// ">".
[[nodiscard]] bool isKeyCodeWellFormed(const SecureBuffer& text);

// The 32 bytes that a well-formed key code spells, two digits a byte, high nibble first, into
// out. A malformed code: false with out untouched.
[[nodiscard]] bool keyFromKeyCode(const SecureBuffer& text, SecureBuffer& out);

// "<", the 32 bytes as lower-case hexadecimal digit pairs, ">" and a NUL. False (out untouched) for
// any other length.
[[nodiscard]] bool formatKeyCode(const SecureBuffer& bytes, SecureBuffer& out);
