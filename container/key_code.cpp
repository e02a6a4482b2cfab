// Key codes, read and written.

#include "container/key_code.h"

#include <utility>

#include "base/text.h"

namespace {

// Value of a hexadecimal digit, or -1.
int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool isKeyCodeWellFormed(const SecureBuffer& text) {
    SecureBuffer trimmed(text);
    trimRight(trimmed);
    trimLeft(trimmed);
    if (textLength(trimmed) != KEY_CODE_CHARS) return false;
    const uint8_t* chars = trimmed.data();
    if (chars[0] != '<' || chars[KEY_CODE_CHARS - 1] != '>') return false;
    bool digits = true;
    for (uint32_t i = 1; i + 1 < KEY_CODE_CHARS; ++i) digits &= hexValue(chars[i]) >= 0;
    return digits;
}

bool keyFromKeyCode(const SecureBuffer& text, SecureBuffer& out) {
    if (!isKeyCodeWellFormed(text)) return false;
    SecureBuffer key = SecureBuffer::zeros(KEY_CODE_KEY_BYTES);
    uint32_t stored = 0;
    int high = -1;
    for (uint32_t i = 0; i < text.size(); ++i) {
        int value = hexValue(text.data()[i]);
        if (value < 0) continue;
        if (high < 0) {
            high = value;
            continue;
        }
        // A well-formed code holds exactly 64 digits, but the walk covers the untrimmed text:
        // count past the end instead of writing there.
        if (stored < KEY_CODE_KEY_BYTES) key.data()[stored] = static_cast<uint8_t>(high * 16 + value);
        ++stored;
        high = -1;
    }
    if (stored != KEY_CODE_KEY_BYTES || high >= 0) {
        out.wipe();
        return false;
    }
    out = std::move(key);
    return true;
}

bool formatKeyCode(const SecureBuffer& bytes, SecureBuffer& out) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    if (bytes.size() != KEY_CODE_KEY_BYTES) return false;
    SecureBuffer text = SecureBuffer::zeros(2 * KEY_CODE_KEY_BYTES + 3);
    text.data()[0] = '<';
    for (uint32_t i = 0; i < bytes.size(); ++i) {
        text.data()[1 + 2 * i] = static_cast<uint8_t>(DIGITS[bytes.data()[i] >> 4]);
        text.data()[2 + 2 * i] = static_cast<uint8_t>(DIGITS[bytes.data()[i] & 15]);
    }
    text.data()[2 * KEY_CODE_KEY_BYTES + 1] = '>';
    out = std::move(text);
    return true;
}
