// Byte fields and the reader: encodings, both field-reading variants, and reading truncated or
// missing input without ever throwing or reading outside the buffer.

#include "base/byte_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "support/hex.h"

using testsupport::bufferFromHex;
using testsupport::toHex;

TEST(ByteFields, Encodings) {
    SecureBuffer out;
    appendU32(out, 258);
    EXPECT_EQ(toHex(out), "02010000");

    SecureBuffer fields;
    appendField(fields, SecureBuffer());
    appendField(fields, bufferFromHex("61 62"));
    EXPECT_EQ(toHex(fields), "00000000020000006162");
}

TEST(ByteFields, IntegersReadZeroWhenShortAndStillAdvance) {
    ByteReader r{bufferFromHex("01 02 03 04 05 06 07"), 0};
    EXPECT_EQ(readU16(r), 0x0201);
    EXPECT_EQ(readU32(r), 0x06050403u);
    EXPECT_EQ(r.position, 6u);
    EXPECT_EQ(readU16(r), 0u) << "one byte left";
    EXPECT_EQ(r.position, 8u);
    EXPECT_EQ(readU32(r), 0u);
    EXPECT_EQ(r.position, 12u);
}

TEST(ByteFields, PositionNeverWrapsPast32Bits) {
    ByteReader r{bufferFromHex("ff ff ff ff"), 0};
    r.position = std::numeric_limits<uint32_t>::max() - 1;
    EXPECT_EQ(readU32(r), 0u);
    EXPECT_EQ(r.position, std::numeric_limits<uint32_t>::max() - 1);
    r.position = 0;
    skipField(r);  // 4 + 0xffffffff does not fit
    EXPECT_EQ(r.position, 0u);
    r.position = 0;
    SecureBuffer taken = readFieldDeclared(r);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(r.position, 0u);
}

TEST(ByteFields, FieldReadingVariants) {
    struct Row {
        const char* name;
        const char* input;
        uint32_t start;
        const char* containerBytes;
        uint32_t containerPosition;
        const char* declaredBytes;
        uint32_t declaredPosition;
    };
    const Row rows[] = {
        {"whole field", "02000000 6162 ff", 0, "6162", 6, "6162", 6},
        {"cut short", "05000000 6162", 0, "6162", 6, "6162", 9},
        {"no byte left", "05000000", 0, "", 4, "", 0},
        {"zero length", "00000000 61", 0, "", 4, "", 4},
        {"length cut short", "0500", 0, "", 4, "", 4},
        {"nothing at all", "", 0, "", 4, "", 4},
        {"second field cut", "01000000 61 03000000 62", 5, "62", 10, "62", 12},
        {"second field missing", "01000000 61 03000000", 5, "", 9, "", 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ByteReader container{bufferFromHex(row.input), row.start};
        EXPECT_EQ(toHex(readField(container)), row.containerBytes);
        EXPECT_EQ(container.position, row.containerPosition);
        ByteReader declared{bufferFromHex(row.input), row.start};
        EXPECT_EQ(toHex(readFieldDeclared(declared)), row.declaredBytes);
        EXPECT_EQ(declared.position, row.declaredPosition);
    }
}

TEST(ByteFields, SkipField) {
    ByteReader r{bufferFromHex("02000000 6162 01000000 63"), 0};
    skipField(r);
    EXPECT_EQ(r.position, 6u);
    EXPECT_EQ(toHex(readField(r)), "63");
    skipField(r);
    EXPECT_EQ(r.position, 15u) << "a missing length counts as 0 and still skips 4";
}

// Every truncation of a valid record, read in every order of operations, stays inside the buffer
// (the sanitizer build checks the memory side) and never throws.
TEST(ByteFields, TruncatedInputNeverThrows) {
    SecureBuffer record;
    appendU32(record, 0x12345678);
    appendField(record, bufferFromHex("0102030405060708"));
    appendField(record, SecureBuffer());
    appendField(record, bufferFromHex("aabbcc"));
    std::mt19937 rng(7);
    for (uint32_t cut = 0; cut <= record.size(); ++cut) {
        SCOPED_TRACE(cut);
        for (int order = 0; order < 20; ++order) {
            ByteReader r{record.slice(cut, 0), 0};
            for (int step = 0; step < 6; ++step) {
                switch (rng() % 5) {
                case 0: (void)readU16(r); break;
                case 1: (void)readU32(r); break;
                case 2: EXPECT_LE(readField(r).size(), record.size()); break;
                case 3: EXPECT_LE(readFieldDeclared(r).size(), record.size()); break;
                case 4: skipField(r); break;
                }
            }
        }
        ByteReader r{record.slice(cut, 0), 0};
        uint32_t first = readU32(r);
        SecureBuffer field = readField(r);
        EXPECT_EQ(first, cut >= 4 ? 0x12345678u : 0u);
        EXPECT_EQ(field.size(), cut <= 8 ? 0u : std::min<uint32_t>(8, cut - 8));
    }
}
