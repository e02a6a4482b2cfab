// UTF-8 to Windows-1252.

#include "cli/cp1252.h"

#include <utility>

namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; 0 where the code page has no character.
constexpr uint16_t HIGH_CONTROL_RANGE[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                             0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The Windows-1252 byte of a code point, or -1.
int cp1252Byte(uint32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return static_cast<int>(codePoint);
    for (int i = 0; i < 32; ++i) {
        if (HIGH_CONTROL_RANGE[i] != 0 && HIGH_CONTROL_RANGE[i] == codePoint) return 0x80 + i;
    }
    return -1;
}

}  // namespace

bool utf8ToCp1252(const SecureBuffer& utf8, SecureBuffer& out) {
    SecureBuffer result = SecureBuffer::zeros(secureBufferGrownSize(utf8.size(), 1));
    uint32_t written = 0;
    const uint8_t* p = utf8.data();
    const uint32_t size = utf8.size();
    for (uint32_t i = 0; i < size;) {
        uint32_t codePoint;
        uint32_t length;
        const uint8_t lead = p[i];
        if (lead < 0x80) {
            codePoint = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            codePoint = lead & 0x07;
            length = 4;
        } else {
            return false;
        }
        if (size - i < length) return false;
        for (uint32_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms would let one character pass for another.
        static constexpr uint32_t SMALLEST[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < SMALLEST[length]) return false;
        const int byte = cp1252Byte(codePoint);
        if (byte < 0) return false;
        result.data()[written++] = static_cast<uint8_t>(byte);
        i += length;
    }
    result.resize(written + 1);
    out = std::move(result);
    return true;
}
