// Passphrases as Windows-1252 bytes, from UTF-8 and UTF-16.

#include "job/passphrase.h"

#include <utility>

#include "job/texts.h"

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

// Decodes the UTF-8 character at p[i..size); length receives its byte count. -1 when it is
// malformed: a bad lead or continuation byte, a cut sequence, or an overlong form (which would
// let one character pass for another).
int64_t decodeUtf8(const uint8_t* p, uint32_t size, uint32_t i, uint32_t& length) {
    const uint8_t lead = p[i];
    uint32_t codePoint;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if ((lead & 0xE0) == 0xC0) {
        codePoint = lead & 0x1F;
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        codePoint = lead & 0x0F;
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        codePoint = lead & 0x07;
        length = 4;
    } else {
        return -1;
    }
    if (size - i < length) return -1;
    for (uint32_t k = 1; k < length; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return -1;
        codePoint = (codePoint << 6) | (p[i + k] & 0x3F);
    }
    static constexpr uint32_t SMALLEST[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < SMALLEST[length]) return -1;
    return codePoint;
}

// The Windows-1252 text of count characters that next() yields one by one as code points (-1 for
// a malformed one). limit bounds the result's bytes; PASSPHRASE_TOO_LONG beyond it.
template <typename Next>
PassphraseStatus cp1252Text(uint32_t count, uint32_t limit, Next next, SecureBuffer& out) {
    SecureBuffer result = SecureBuffer::zeros(secureBufferGrownSize(count, 1));
    uint32_t written = 0;
    for (int64_t codePoint = next(); codePoint != -2; codePoint = next()) {
        if (written == limit) return PASSPHRASE_TOO_LONG;
        const int byte = codePoint < 0 ? -1 : cp1252Byte(static_cast<uint32_t>(codePoint));
        if (byte < 0) return PASSPHRASE_UNREPRESENTABLE;
        result.data()[written++] = static_cast<uint8_t>(byte);
    }
    result.resize(written + 1);
    out = std::move(result);
    return PASSPHRASE_OK;
}

// Characters of UTF-8 bytes one by one; -2 at the end.
struct Utf8Reader {
    const uint8_t* p;
    uint32_t size;
    uint32_t i = 0;
    int64_t operator()() {
        if (i >= size) return -2;
        uint32_t length = 1;
        const int64_t codePoint = decodeUtf8(p, size, i, length);
        i += length;
        return codePoint;
    }
};

}  // namespace

const char* passphraseMessage(PassphraseStatus status) {
    switch (status) {
    case PASSPHRASE_OK: return nullptr;
    case PASSPHRASE_EMPTY: return TEXT_NO_PASSPHRASE;
    case PASSPHRASE_UNREPRESENTABLE: return TEXT_PASSPHRASE_UNREPRESENTABLE;
    case PASSPHRASE_TOO_LONG: return TEXT_PASSPHRASE_TOO_LONG;
    }
    return TEXT_PASSPHRASE_UNREPRESENTABLE;
}

PassphraseStatus passphraseFromUtf8(const SecureBuffer& utf8, SecureBuffer& out) {
    if (utf8.empty()) return PASSPHRASE_EMPTY;
    Utf8Reader reader{utf8.data(), utf8.size()};
    return cp1252Text(utf8.size(), MAX_PASSPHRASE_BYTES, reader, out);
}

PassphraseStatus passphraseFromUtf16(const uint16_t* units, uint32_t count, SecureBuffer& out) {
    if (count == 0) return PASSPHRASE_EMPTY;
    uint32_t i = 0;
    auto next = [&]() -> int64_t {
        if (i >= count) return -2;
        const uint32_t unit = units[i++];
        if (unit < 0xD800 || unit > 0xDFFF) return unit;
        // A pair stands for a character above U+FFFF, which Windows-1252 never holds; an unpaired
        // half is malformed. Either way the passphrase is refused, so the pair needs no decoding.
        if (unit <= 0xDBFF && i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF) ++i;
        return -1;
    };
    return cp1252Text(count, MAX_PASSPHRASE_BYTES, next, out);
}

bool utf8ToCp1252(const SecureBuffer& utf8, SecureBuffer& out) {
    Utf8Reader reader{utf8.data(), utf8.size()};
    return cp1252Text(utf8.size(), UINT32_MAX - 1, reader, out) == PASSPHRASE_OK;
}
