// Key codes: which texts are well formed, the key each spells, and the text each key is written as.

#include "container/key_code.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/text.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

SecureBuffer text(const std::string& s) { return fromNulTerminated(s.c_str()); }

}  // namespace

TEST(KeyCodes, WhichTextsAreWellFormed) {
    const std::string digits = "f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeeff";
    struct Row {
        const char* name;
        std::string code;
        bool wellFormed;
    };
    const Row rows[] = {
        {"plain", "<" + digits + ">", true},
        {"spaces around", "   <" + digits + ">  ", true},
        {"upper case", "<F0E1D2C3B4A5968778695A4B3C2D1E0F00112233445566778899AABBCCDDEEFF>", true},
        {"63 digits", "<" + digits.substr(1) + ">", false},
        {"65 digits", "<" + digits + "0>", false},
        {"no <", digits + "0>", false},
        {"no >", "<" + digits + "0", false},
        {"brackets swapped", ">" + digits + "<", false},
        {"g among the digits", "<" + digits.substr(0, 10) + "g" + digits.substr(11) + ">", false},
        {"space among the digits", "<" + digits.substr(0, 10) + " " + digits.substr(11) + ">", false},
        {"tab after", "<" + digits + ">\t", false},
        {"empty", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isKeyCodeWellFormed(text(row.code)), row.wellFormed);
        SecureBuffer out = bufferOf("untouched");
        EXPECT_EQ(keyFromKeyCode(text(row.code), out), row.wellFormed);
        if (row.wellFormed) {
            EXPECT_EQ(toHex(out), digits);
        } else {
            EXPECT_EQ(toHex(out), toHex(bufferOf("untouched")));
        }
    }
}

TEST(KeyCodes, FormatGivesLowerCaseDigitPairs) {
    struct Row {
        const char* name;
        SecureBuffer bytes;
        std::string text;
    };
    const Row rows[] = {
        {"zeros", SecureBuffer::zeros(32), "<" + std::string(64, '0') + ">"},
        {"all ones", bufferFromHex(std::string(64, 'f')), "<" + std::string(64, 'f') + ">"},
        {"00 to 1f", fileKey(), "<000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f>"},
        {"the fixture key code", bufferFromHex(FIXTURE_KEY_CODE_HEX), FIXTURE_KEY_CODE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer text;
        ASSERT_TRUE(formatKeyCode(row.bytes, text));
        ASSERT_EQ(text.size(), 67u) << "66 characters and the NUL";
        EXPECT_STREQ(textPointer(text), row.text.c_str());
    }
}

TEST(KeyCodes, FormatRefusesOtherLengths) {
    for (uint32_t length : {0u, 1u, 31u, 33u, 64u}) {
        SCOPED_TRACE(length);
        SecureBuffer text = fromNulTerminated("untouched");
        EXPECT_FALSE(formatKeyCode(SecureBuffer::zeros(length), text));
        EXPECT_STREQ(textPointer(text), "untouched");
    }
}

TEST(KeyCodes, FormatRoundTripsThroughKeyFromKeyCode) {
    std::mt19937 engine(11);
    for (int i = 0; i < 50; ++i) {
        const SecureBuffer bytes = bufferOf(randomBytes(engine, 32));
        SecureBuffer text, back;
        ASSERT_TRUE(formatKeyCode(bytes, text));
        EXPECT_TRUE(isKeyCodeWellFormed(text));
        ASSERT_TRUE(keyFromKeyCode(text, back));
        EXPECT_EQ(toHex(back), toHex(bytes));
    }
}
