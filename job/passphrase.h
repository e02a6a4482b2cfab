// Passphrase bytes. Containers hash a passphrase as its Windows-1252 bytes: both programs make
// those bytes here, from UTF-8 (the tool's terminal and files) or UTF-16 (the desktop program's
// fields), with the same code page on every system. A container made with a passphrase therefore
// opens with the same typed characters wherever it is opened; the system's ANSI code page, which
// differs between countries, plays no part. A character outside Windows-1252 is refused, never
// replaced: ő (Windows-1250 0xF5) would otherwise pass for õ (Windows-1252 0xF5).
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

// The longest passphrase either program takes, in Windows-1252 bytes. Longer input is refused,
// never cut: a cut passphrase would let any text sharing its first bytes open the container.
constexpr uint32_t MAX_PASSPHRASE_BYTES = 65535;

enum PassphraseStatus : uint8_t {
    PASSPHRASE_OK,
    PASSPHRASE_EMPTY,             // "Du måste ange en lösenfras."
    PASSPHRASE_UNREPRESENTABLE,   // "Lösenfrasen innehåller tecken som inte kan användas."
    PASSPHRASE_TOO_LONG,          // "Lösenfrasen är för lång."
};

// The message of a status, in the program's execution character set; null for PASSPHRASE_OK.
const char* passphraseMessage(PassphraseStatus status);

// The passphrase in the UTF-8 bytes of utf8 (no NUL expected) as a text of its Windows-1252
// bytes. out is written only on PASSPHRASE_OK. Malformed UTF-8 (overlong forms, surrogates, cut
// sequences) counts as unrepresentable.
[[nodiscard]] PassphraseStatus passphraseFromUtf8(const SecureBuffer& utf8, SecureBuffer& out);

// As passphraseFromUtf8, for count UTF-16 code units. An unpaired surrogate counts as
// unrepresentable.
[[nodiscard]] PassphraseStatus passphraseFromUtf16(const uint16_t* units, uint32_t count, SecureBuffer& out);

// The Windows-1252 bytes of the UTF-8 bytes in utf8 (no NUL expected), as a text buffer with a
// NUL, of any length. False, out untouched, when the input is not valid UTF-8 or holds a
// character that Windows-1252 cannot represent exactly (nothing is ever replaced by "?").
[[nodiscard]] bool utf8ToCp1252(const SecureBuffer& utf8, SecureBuffer& out);
