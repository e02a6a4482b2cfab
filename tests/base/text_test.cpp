// Text buffers: the NUL convention, sanitising, trimming, searching and number/hex conversions.

#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "support/hex.h"

using testsupport::bufferFromHex;
using testsupport::bufferOf;
using testsupport::toHex;

namespace {

// A text buffer of the characters of s and a NUL.
SecureBuffer text(const std::string& s) {
    SecureBuffer b = bufferOf(s);
    b.appendZeros(1);
    return b;
}

}  // namespace

TEST(Text, TransformsGiveExactBytes) {
    struct Row {
        const char* name;
        std::function<SecureBuffer()> make;
        const char* expectedHex;
    };
    const Row rows[] = {
        {"fromNulTerminated keeps control bytes", [] { return fromNulTerminated("a\tb"); }, "61096200"},
        {"fromNulTerminated of null", [] { return fromNulTerminated(nullptr); }, ""},
        {"fromNulTerminated of empty", [] { return fromNulTerminated(""); }, "00"},
        {"textFromChars sanitises", [] { return textFromChars("a\tb\x7f"); }, "6120622000"},
        {"toText without NUL", [] { return toText(bufferFromHex("41 09 42")); }, "41204200"},
        {"toText of empty", [] { return toText(SecureBuffer()); }, "00"},
        {"toText keeps high bytes", [] { return toText(bufferFromHex("e5 e4 f6 80 ff")); }, "e5e4f680ff00"},
        {"toText turns embedded NUL into space", [] { return toText(bufferFromHex("41 00 42 00")); }, "41204200"},
        {"concat a b", [] { return concat(text("a"), text("b")); }, "616200"},
        {"concat empty text and b", [] { return concat(text(""), text("b")); }, "6200"},
        {"concat empty buffer and b", [] { return concat(SecureBuffer(), text("b")); }, "6200"},
        {"decimal 0", [] { return decimalText(0); }, "3000"},
        {"decimal 1024", [] { return decimalText(1024); }, "3130323400"},
        {"decimal max", [] { return decimalText(4294967295u); }, "3432393439363732393500"},
        {"charText", [] { return charText('<'); }, "3c00"},
        {"firstLine stops at newline", [] { return firstLine(bufferOf("key\r\nrest")); }, "6b657900"},
        {"firstLine of whole buffer", [] { return firstLine(bufferOf("ab")); }, "616200"},
        {"firstLine of empty", [] { return firstLine(SecureBuffer()); }, "00"},
        {"firstLine stops at NUL", [] { return firstLine(text("ab")); }, "616200"},
        {"hexUpper", [] { return hexUpper(bufferFromHex("0a ff")); }, "30414646"},
        {"hexUpper of empty", [] { return hexUpper(SecureBuffer()); }, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(toHex(row.make()), row.expectedHex);
    }
}

TEST(Text, InPlaceEditsGiveExactBytes) {
    struct Row {
        const char* name;
        SecureBuffer input;
        std::function<void(SecureBuffer&)> edit;
        SecureBuffer expected;
    };
    const Row rows[] = {
        {"trimLeft of three spaces keeps one", text("   "), trimLeft, text(" ")},
        {"trimLeft", text("  ab "), trimLeft, text("ab ")},
        {"trimLeft of one space", text(" "), trimLeft, text(" ")},
        {"trimLeft of empty", text(""), trimLeft, text("")},
        {"trimRight", text("ab  "), trimRight, text("ab")},
        {"trimRight of spaces", text("   "), trimRight, text("")},
        {"trimRight keeps leading", text(" a"), trimRight, text(" a")},
        {"dropLast extension", text("report.pdf.encrypted"), [](SecureBuffer& t) { dropLast(t, 10); },
         text("report.pdf")},
        {"dropLast all", text("abc"), [](SecureBuffer& t) { dropLast(t, 3); }, text("")},
        {"dropLast more", text("abc"), [](SecureBuffer& t) { dropLast(t, 9); }, text("")},
        {"dropLast none", text("abc"), [](SecureBuffer& t) { dropLast(t, 0); }, text("abc")},
        {"emptyText", text("abc"), emptyText, text("")},
        {"sanitize empty buffer", SecureBuffer(), sanitizeText, text("")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer t = row.input;
        row.edit(t);
        EXPECT_EQ(toHex(t), toHex(row.expected));
    }
}

TEST(Text, PointerAndLength) {
    EXPECT_EQ(textPointer(SecureBuffer()), nullptr);
    EXPECT_EQ(textPointer(bufferOf("ab")), nullptr) << "no final NUL";
    SecureBuffer t = text("ab");
    ASSERT_NE(textPointer(t), nullptr);
    EXPECT_STREQ(textPointer(t), "ab");
    EXPECT_EQ(textLength(t), 2u);
    EXPECT_EQ(textLength(text("")), 0u);
    EXPECT_EQ(textLength(SecureBuffer()), 0u);
}
