// Move-to-front stage: the format's vector, round trips, and both directions against a list kept
// the plain way.

#include "codec/movetofront.h"

#include <gtest/gtest.h>

#include "codec_references.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

TEST(MoveToFront, EncodesAndDecodesFormatVector) {
    SecureBuffer buffer = hexBuffer("01 00 02 00 00 FF FF FF 61");
    moveToFrontEncode(buffer);
    EXPECT_EQ(hexOf(buffer), "01 01 02 01 00 FF 00 00 62");
    moveToFrontDecode(buffer);
    EXPECT_EQ(hexOf(buffer), "01 00 02 00 00 FF FF FF 61");
}

TEST(MoveToFront, EncodesPositionsInTheMovingList) {
    struct Row {
        const char* name;
        const char* input;
        const char* expected;
    } rows[] = {
        {"a repeated value becomes zeros", "05 05 05", "05 00 00"},
        {"values move ahead of those passed", "02 01 02 01", "02 02 01 01"},
        {"the last value from the start", "FF FF 00", "FF 00 01"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer = hexBuffer(row.input);
        moveToFrontEncode(buffer);
        EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
    }
}

TEST(MoveToFront, RoundTrips) {
    SecureBuffer all = SecureBuffer::zeros(256);
    for (uint32_t i = 0; i < 256; ++i) all.data()[i] = static_cast<uint8_t>(255 - i);
    const SecureBuffer inputs[] = {SecureBuffer(),         hexBuffer("00"),           hexBuffer("FF"), all,
                                   randomBytes(65536, 11), englishLikeText(65536, 12)};
    for (const SecureBuffer& input : inputs) {
        SCOPED_TRACE(input.size());
        SecureBuffer buffer(input);
        moveToFrontEncode(buffer);
        ASSERT_EQ(buffer.size(), input.size());
        moveToFrontDecode(buffer);
        EXPECT_TRUE(buffer.constantTimeEquals(input));
    }
}

TEST(MoveToFront, MatchesAPlainList) {
    // Positions 0 and 1, short moves and long ones, in every mix.
    SecureBuffer small = randomBytes(20000, 13);
    for (uint32_t i = 0; i < small.size(); ++i) small.data()[i] &= 0x1F;
    SecureBuffer cycling = SecureBuffer::zeros(20000);
    for (uint32_t i = 0; i < cycling.size(); ++i) cycling.data()[i] = static_cast<uint8_t>(i * 7 % 40);
    const SecureBuffer inputs[] = {randomBytes(20000, 14), small, cycling, englishLikeText(20000, 15)};
    for (const SecureBuffer& input : inputs) {
        const Bytes plain(input.data(), input.data() + input.size());
        SecureBuffer buffer(input);
        moveToFrontEncode(buffer);
        const Bytes encoded = referenceMoveToFront(plain, false);
        ASSERT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), encoded);
        // Decoding any bytes, also positions an encoder would not give in that order.
        SecureBuffer positions(input);
        moveToFrontDecode(positions);
        ASSERT_EQ(Bytes(positions.data(), positions.data() + positions.size()), referenceMoveToFront(plain, true));
    }
}

}  // namespace
