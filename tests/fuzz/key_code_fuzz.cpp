// libFuzzer target: key code texts. The format check is compared with an independent reading of
// the format ("<", 64 hexadecimal digits, ">", spaces around it ignored); a code that passes
// converts to the key its digits spell, and formatting that key gives the code back in lower case.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/secure_buffer.h"
#include "container/key_code.h"
#include "fuzz_support.h"

using fuzzsupport::require;

namespace {

int digitValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The key the text spells by the format, read up to the first NUL; false when it spells none.
bool expectedKey(const uint8_t* text, size_t length, uint8_t key[32]) {
    size_t begin = 0, end = length;
    while (begin < end && text[begin] == ' ') ++begin;
    while (end > begin && text[end - 1] == ' ') --end;
    if (end - begin != KEY_CODE_CHARS || text[begin] != '<' || text[end - 1] != '>') return false;
    for (size_t i = 0; i < 32; ++i) {
        const int high = digitValue(text[begin + 1 + 2 * i]);
        const int low = digitValue(text[begin + 2 + 2 * i]);
        if (high < 0 || low < 0) return false;
        key[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    // A text buffer: the bytes up to the first NUL, then the NUL.
    const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    SecureBuffer text = SecureBuffer::zeros(static_cast<uint32_t>(length + 1));
    if (length != 0) std::memcpy(text.data(), data, length);

    uint8_t key[32];
    const bool valid = expectedKey(data, length, key);
    require(isKeyCodeWellFormed(text) == valid, "the format check disagrees with the format");
    SecureBuffer converted = SecureBuffer::zeros(3);
    require(keyFromKeyCode(text, converted) == valid, "conversion disagrees with the format check");
    if (!valid) {
        require(converted.size() == 3, "a refused code changed the output");
        return 0;
    }
    require(converted.constantTimeEquals(SecureBuffer(key, 32)), "wrong key");
    SecureBuffer formatted;
    require(formatKeyCode(converted, formatted), "formatting refused 32 bytes");
    require(formatted.size() == KEY_CODE_CHARS + 1 && formatted.data()[KEY_CODE_CHARS] == 0, "bad formatted length");
    size_t begin = 0;
    while (data[begin] == ' ') ++begin;
    for (uint32_t i = 0; i < KEY_CODE_CHARS; ++i) {
        uint8_t c = data[begin + i];
        if (c >= 'A' && c <= 'F') c = static_cast<uint8_t>(c - 'A' + 'a');
        require(formatted.data()[i] == c, "formatting does not give the code back");
    }
    return 0;
}
