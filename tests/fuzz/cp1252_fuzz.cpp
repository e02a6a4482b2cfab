// libFuzzer target: UTF-8 to Windows-1252. The input is read both ways. As UTF-8 it is decoded
// by an independent decoder here, and the conversion must succeed exactly when every character
// is well-formed (shortest form, no surrogate) and has a Windows-1252 byte, giving those bytes. As Windows-1252 it is encoded to UTF-8 here, and converting that must give the
// bytes back (the five bytes the code page leaves undefined are skipped).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/secure_buffer.h"
#include "job/passphrase.h"
#include "fuzz_support.h"

using fuzzsupport::require;

namespace {

// Unicode of the bytes 0x80..0x9F; 0 where Windows-1252 defines no character.
constexpr uint32_t HIGH_CONTROLS[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t unicodeOf(uint8_t byte) { return byte >= 0x80 && byte < 0xA0 ? HIGH_CONTROLS[byte - 0x80] : byte; }

void appendUtf8(std::vector<uint8_t>& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<uint8_t>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<uint8_t>(0xC0 | (c >> 6)));
        out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<uint8_t>(0xE0 | (c >> 12)));
        out.push_back(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
    }
}

// Decodes UTF-8 strictly: shortest forms only, at most U+10FFFF, no surrogates. Appends the
// Windows-1252 byte of each character; false at the first character that is malformed or has none.
bool expectedBytes(const uint8_t* p, size_t size, std::vector<uint8_t>& out) {
    for (size_t i = 0; i < size;) {
        const uint8_t lead = p[i];
        size_t length = lead < 0x80                    ? 1
                        : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
        if (length == 0 || size - i < length) return false;
        uint32_t c = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i + k] & 0x3Fu);
        }
        if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF))) return false;
        if (c >= 0xD800 && c <= 0xDFFF) return false;
        int byte = -1;
        for (int b = 0; b < 256 && byte < 0; ++b) {
            if (unicodeOf(static_cast<uint8_t>(b)) == c && (c != 0 || b == 0)) byte = b;
        }
        if (byte < 0) return false;
        out.push_back(static_cast<uint8_t>(byte));
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    const SecureBuffer utf8(data, static_cast<uint32_t>(size));
    std::vector<uint8_t> expected;
    const bool valid = expectedBytes(data, size, expected);
    SecureBuffer out = SecureBuffer::zeros(1);
    out.data()[0] = 0x55;
    const bool converted = utf8ToCp1252(utf8, out);
    require(converted == valid, "conversion disagrees with a strict UTF-8 reading");
    if (converted) {
        require(out.size() == expected.size() + 1 && out.data()[expected.size()] == 0, "wrong length or no NUL");
        require(expected.empty() || std::memcmp(out.data(), expected.data(), expected.size()) == 0, "wrong bytes");
    } else {
        require(out.size() == 1 && out.data()[0] == 0x55, "a refused conversion changed the output");
    }

    std::vector<uint8_t> encoded, kept;
    for (size_t i = 0; i < size; ++i) {
        const uint32_t c = unicodeOf(data[i]);
        if (c == 0 && data[i] != 0) continue;
        appendUtf8(encoded, c);
        kept.push_back(data[i]);
    }
    SecureBuffer back;
    require(utf8ToCp1252(SecureBuffer(encoded.data(), static_cast<uint32_t>(encoded.size())), back),
            "Windows-1252 text encoded as UTF-8 was refused");
    require(back.size() == kept.size() + 1, "round trip changed the length");
    require(kept.empty() || std::memcmp(back.data(), kept.data(), kept.size()) == 0, "round trip changed bytes");
    return 0;
}
