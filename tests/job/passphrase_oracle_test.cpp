// Passphrase bytes: the tool's UTF-8 and the desktop program's UTF-16 give the same Windows-1252
// bytes, checked against the C library's own Windows-1252 table; characters outside it, malformed
// input and too long a passphrase are refused, never replaced or cut.

#include "job/passphrase.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "job/texts.h"

namespace {

// UTF-16 code units of a UTF-8 string, through the C library.
std::u16string utf16Of(const std::string& utf8) {
    iconv_t convert = iconv_open("UTF-16LE", "UTF-8");
    EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8;
    std::string out(in.size() * 4 + 4, '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    EXPECT_NE(iconv(convert, &inPointer, &inLeft, &outPointer, &outLeft), static_cast<size_t>(-1)) << utf8;
    iconv_close(convert);
    out.resize(out.size() - outLeft);
    std::u16string units(out.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<uint8_t>(out[2 * i]) | (static_cast<uint8_t>(out[2 * i + 1]) << 8));
    }
    return units;
}

// The UTF-8 form of a Windows-1252 byte, through the C library; empty where the code page has no
// character.
std::string utf8OfCp1252(uint8_t byte) {
    iconv_t convert = iconv_open("UTF-8", "WINDOWS-1252");
    EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
    char in = static_cast<char>(byte);
    char out[8] = {};
    char* inPointer = &in;
    char* outPointer = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    const bool converted = iconv(convert, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<size_t>(-1);
    iconv_close(convert);
    return converted ? std::string(out, sizeof out - outLeft) : std::string();
}

struct Outcome {
    PassphraseStatus status;
    std::vector<uint8_t> bytes;  // without the text's NUL
};

Outcome fromUtf8(const std::string& utf8) {
    SecureBuffer out = SecureBuffer::zeros(1);
    const PassphraseStatus status = passphraseFromUtf8(
        SecureBuffer(reinterpret_cast<const uint8_t*>(utf8.data()), static_cast<uint32_t>(utf8.size())), out);
    if (status != PASSPHRASE_OK) return {status, {}};
    EXPECT_EQ(out.data()[out.size() - 1], 0) << "a passphrase is a text with its NUL";
    return {status, std::vector<uint8_t>(out.data(), out.data() + out.size() - 1)};
}

Outcome fromUtf16(const std::u16string& units) {
    SecureBuffer out = SecureBuffer::zeros(1);
    const PassphraseStatus status = passphraseFromUtf16(reinterpret_cast<const uint16_t*>(units.data()),
                                                        static_cast<uint32_t>(units.size()), out);
    if (status != PASSPHRASE_OK) return {status, {}};
    EXPECT_EQ(out.data()[out.size() - 1], 0);
    return {status, std::vector<uint8_t>(out.data(), out.data() + out.size() - 1)};
}

}  // namespace

TEST(Passphrase, BothProgramsGiveTheSameBytesForCharactersInsideAndOutsideTheCodePage) {
    struct Row {
        const char* name;
        std::string utf8;
        PassphraseStatus status;
        std::vector<uint8_t> bytes;
    };
    const Row rows[] = {
        {"ASCII", "hemligt 123", PASSPHRASE_OK, {'h', 'e', 'm', 'l', 'i', 'g', 't', ' ', '1', '2', '3'}},
        {"Swedish letters", "åäöÅÄÖ", PASSPHRASE_OK, {0xE5, 0xE4, 0xF6, 0xC5, 0xC4, 0xD6}},
        {"euro, dash, quotes, ligature", "€—“”Œ", PASSPHRASE_OK, {0x80, 0x97, 0x93, 0x94, 0x8C}},
        {"õ is in the code page", "õ", PASSPHRASE_OK, {0xF5}},
        {"ő (0xF5 in Windows-1250) is not", "ő", PASSPHRASE_UNREPRESENTABLE, {}},
        {"Cyrillic", "пароль", PASSPHRASE_UNREPRESENTABLE, {}},
        {"an arrow", "a→b", PASSPHRASE_UNREPRESENTABLE, {}},
        {"outside the basic plane", "nyckel🔑", PASSPHRASE_UNREPRESENTABLE, {}},
        {"a C1 control the code page leaves undefined", "\xC2\x81", PASSPHRASE_UNREPRESENTABLE, {}},
        {"empty", "", PASSPHRASE_EMPTY, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome utf8 = fromUtf8(row.utf8);
        EXPECT_EQ(utf8.status, row.status);
        EXPECT_EQ(utf8.bytes, row.bytes);
        const Outcome utf16 = fromUtf16(utf16Of(row.utf8));
        EXPECT_EQ(utf16.status, row.status);
        EXPECT_EQ(utf16.bytes, row.bytes);
    }
}

// Every character of the code page, as the C library defines it, comes back as its own byte
// through both forms.
TEST(Passphrase, EveryCharacterOfTheCodePageGivesItsByte) {
    int defined = 0;
    for (int byte = 1; byte < 256; ++byte) {
        const std::string utf8 = utf8OfCp1252(static_cast<uint8_t>(byte));
        if (utf8.empty()) continue;
        SCOPED_TRACE(byte);
        ++defined;
        const std::vector<uint8_t> expected = {static_cast<uint8_t>(byte)};
        EXPECT_EQ(fromUtf8(utf8).bytes, expected);
        EXPECT_EQ(fromUtf16(utf16Of(utf8)).bytes, expected);
    }
    EXPECT_EQ(defined, 250) << "Windows-1252 leaves five of the bytes 1..255 undefined";
}

TEST(Passphrase, MalformedInputIsRefused) {
    const std::string malformed[] = {
        "\xC3",              // cut two-byte sequence
        "\xC0\xA0",          // overlong space
        "\xE0\x80\xA0",      // overlong three-byte form
        "\xED\xA0\x80",      // an encoded surrogate
        "\xFF",              // never a lead byte
        "a\x80",             // a lone continuation byte
    };
    for (const std::string& bytes : malformed) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        EXPECT_EQ(fromUtf8(bytes).status, PASSPHRASE_UNREPRESENTABLE);
    }
    const std::u16string unpaired[] = {std::u16string(1, char16_t(0xD800)), u"a" + std::u16string(1, char16_t(0xDC00)),
                                       std::u16string(1, char16_t(0xD83D)) + u"x"};
    for (const std::u16string& units : unpaired) EXPECT_EQ(fromUtf16(units).status, PASSPHRASE_UNREPRESENTABLE);
}

// The longest passphrase is taken whole; one character more is refused rather than cut to a
// passphrase that another text shares.
TEST(Passphrase, TooLongIsRefusedNotCut) {
    for (const char* character : {"a", "å"}) {
        SCOPED_TRACE(character);
        std::string longest;
        for (uint32_t i = 0; i < MAX_PASSPHRASE_BYTES; ++i) longest += character;
        const Outcome whole = fromUtf8(longest);
        ASSERT_EQ(whole.status, PASSPHRASE_OK);
        EXPECT_EQ(whole.bytes.size(), MAX_PASSPHRASE_BYTES);
        EXPECT_EQ(fromUtf16(utf16Of(longest)).bytes, whole.bytes);
        EXPECT_EQ(fromUtf8(longest + character).status, PASSPHRASE_TOO_LONG);
        EXPECT_EQ(fromUtf16(utf16Of(longest + character)).status, PASSPHRASE_TOO_LONG);
    }
    EXPECT_STREQ(passphraseMessage(PASSPHRASE_TOO_LONG), TEXT_PASSPHRASE_TOO_LONG);
    EXPECT_EQ(passphraseMessage(PASSPHRASE_OK), nullptr);
}
