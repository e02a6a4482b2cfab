// Block-sorting stage: the stream format's vectors, where equal rotations of periodic blocks go,
// the exact comparison budget, block boundaries and hostile headers.

#include "codec/blocksort.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"

using namespace codectest;

namespace {

struct VectorRow {
    const char* name;
    const char* input;
    const char* expected;
};

TEST(BlockSort, EncodesFormatVectors) {
    const VectorRow rows[] = {
        {"six bytes, primary index 3", "62 61 6E 61 6E 61", "01 00 03 00 00 6E 6E 62 61 61 61"},
        {"three bytes are copied", "61 62 63", "01 00 00 00 00 61 62 63"},
        {"one byte is copied", "7A", "01 00 00 00 00 7A"},
        {"equal rotations 0 and 2 keep their order", "61 62 61 62", "01 00 00 00 00 62 62 61 61"},
        {"four equal bytes", "61 61 61 61", "01 00 00 00 00 61 61 61 61"},
        {"the first run-length output of 259 x 61", "FF FF 61 FF", "01 00 02 00 00 FF FF FF 61"},
        // Equal rotations 0, 2, 4 of a 6-byte block: the exchange sort of 0..2 and the merge
        // with 3..5 put rotation 0 first among them.
        {"period 2 in six bytes", "61 62 61 62 61 62", "01 00 00 00 00 62 62 62 61 61 61"},
    };
    for (const VectorRow& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer = hexBuffer(row.input);
        ASSERT_TRUE(blockSortEncode(buffer));
        EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
        ASSERT_TRUE(blockSortDecode(buffer));
        EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.input)));
    }
}

TEST(BlockSort, GivesUpOnLongPeriodicBlockAndLeavesItUnchanged) {
    // "banana" without its first byte, 50 times: 300 bytes of period 6.
    SecureBuffer buffer = cyclic("banana", 300);
    const SecureBuffer before(buffer);
    EXPECT_FALSE(blockSortEncode(buffer));
    EXPECT_TRUE(buffer.constantTimeEquals(before));
}

TEST(BlockSort, BudgetIsExactlyFortyStepsPerByte) {
    // Both blocks are 173 bytes, so the budget is 6 920 extra comparison steps. The first needs
    // exactly 6 920 and sorts; the second needs 6 921 and gives up. (Counted with a separate
    // model of the sort.)
    SecureBuffer fits = cyclic("abababc", 173);
    const SecureBuffer fitsInput(fits);
    ASSERT_TRUE(blockSortEncode(fits));
    ASSERT_TRUE(blockSortDecode(fits));
    EXPECT_TRUE(fits.constantTimeEquals(fitsInput));

    SecureBuffer exceeds = cyclic("aaaabca", 173);
    const SecureBuffer before(exceeds);
    EXPECT_FALSE(blockSortEncode(exceeds));
    EXPECT_TRUE(exceeds.constantTimeEquals(before));
}

TEST(BlockSort, SplitsIntoBlocksOfTwoMebibytes) {
    struct Row {
        const char* name;
        uint32_t size;
        uint32_t blocks;
    } rows[] = {
        {"exactly one full block", BLOCK_SORT_SIZE, 1},
        {"a second block of one byte", BLOCK_SORT_SIZE + 1, 2},
        {"a second block of five bytes", BLOCK_SORT_SIZE + 5, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SecureBuffer input = englishLikeText(row.size, row.size);
        SecureBuffer buffer(input);
        ASSERT_TRUE(blockSortEncode(buffer));
        ASSERT_EQ(buffer.size(), blockSortEncodedBytes(row.size));
        EXPECT_EQ(buffer.data()[0] | (buffer.data()[1] << 8), static_cast<int>(row.blocks));
        if (row.size == BLOCK_SORT_SIZE + 1) {
            // The one-byte block is copied with primary index 0, as the last payload byte.
            EXPECT_EQ(hexOf(buffer.slice(3, 5)), "00 00 00");
            EXPECT_EQ(buffer.data()[buffer.size() - 1], input.data()[input.size() - 1]);
        }
        ASSERT_TRUE(blockSortDecode(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(input));
    }
}

TEST(BlockSort, RoundTripsEveryShortLength) {
    for (uint32_t length = 1; length <= 600; ++length) {
        SCOPED_TRACE(length);
        const SecureBuffer inputs[] = {randomBytes(length, length), englishLikeText(length, length),
                                       cyclic("ab", length), cyclic("abcabd", length),
                                       repeated(0x00, length)};
        for (const SecureBuffer& input : inputs) {
            SecureBuffer buffer(input);
            if (!blockSortEncode(buffer)) {
                // Only blocks too alike to sort may give up, and then unchanged.
                EXPECT_TRUE(buffer.constantTimeEquals(input));
                continue;
            }
            ASSERT_EQ(buffer.size(), input.size() + 5);
            ASSERT_TRUE(blockSortDecode(buffer));
            ASSERT_TRUE(buffer.constantTimeEquals(input)) << hexOf(input);
        }
    }
}

TEST(BlockSort, RoundTripsLargeBlocks) {
    SecureBuffer small = randomBytes(1 << 20, 5);
    for (uint32_t i = 0; i < small.size(); ++i) small.data()[i] &= 0x0F;
    const SecureBuffer inputs[] = {randomBytes(BLOCK_SORT_SIZE, 4), small,
                                   englishLikeText(1000003, 6)};
    for (const SecureBuffer& input : inputs) {
        SCOPED_TRACE(input.size());
        SecureBuffer buffer(input);
        ASSERT_TRUE(blockSortEncode(buffer));
        ASSERT_TRUE(blockSortDecode(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(input));
    }
}

TEST(BlockSort, EmptyBufferIsNotEncoded) {
    SecureBuffer empty;
    EXPECT_FALSE(blockSortEncode(empty));
    EXPECT_TRUE(empty.empty());
}

TEST(BlockSort, DecodeRejectsMalformedHeaders) {
    struct Row {
        const char* name;
        SecureBuffer stream;
    };
    // Two blocks whose first is one byte short of full.
    SecureBuffer shortFirst = SecureBuffer::zeros(2 + 6 + BLOCK_SORT_SIZE);
    shortFirst.data()[0] = 2;
    // Two blocks whose payload holds a full block and nothing for the second.
    SecureBuffer emptyLast = SecureBuffer::zeros(2 + 6 + BLOCK_SORT_SIZE);
    emptyLast.data()[0] = 2;
    // One block longer than a block can be.
    SecureBuffer tooLong = SecureBuffer::zeros(2 + 3 + BLOCK_SORT_SIZE + 1);
    tooLong.data()[0] = 1;
    Row rows[] = {
        {"empty", SecureBuffer()},
        {"one byte", hexBuffer("01")},
        {"count without its index table", hexBuffer("01 00 00 00")},
        {"65 535 blocks claimed by a short stream", hexBuffer("FF FF 00 00 00 61")},
        {"no blocks and no payload", hexBuffer("00 00")},
        {"no blocks but a payload", hexBuffer("00 00 61 62 63")},
        {"one block and no payload", hexBuffer("01 00 00 00 00")},
        {"primary index equal to the length", hexBuffer("01 00 04 00 00 61 62 63 64")},
        {"primary index far beyond the block", hexBuffer("01 00 FF FF FF 61 62 63 64")},
        {"index of a copied block out of range", hexBuffer("01 00 03 00 00 61 62 63")},
        {"second index beyond its block", [] {
             SecureBuffer b = SecureBuffer::zeros(2 + 6 + BLOCK_SORT_SIZE + 2);
             b.data()[0] = 2;
             b.data()[5] = 2;
             return b;
         }()},
        {"first block one byte short", shortFirst.slice(shortFirst.size() - 1, 0)},
        {"empty last block", emptyLast},
        {"single block too long", tooLong},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SecureBuffer before(row.stream);
        EXPECT_FALSE(blockSortDecode(row.stream));
        EXPECT_TRUE(row.stream.constantTimeEquals(before));
    }
}

TEST(BlockSort, DecodeOfAnyLastColumnStaysInside) {
    // Arbitrary last columns and indexes are not transforms of anything; decoding them must
    // still give a buffer of the payload's length.
    for (uint32_t seed = 0; seed < 200; ++seed) {
        SecureBuffer payload = randomBytes(1 + seed * 7, seed);
        SecureBuffer stream = hexBuffer("01 00 00 00 00");
        const uint32_t index = (seed * 2654435761u) % payload.size();
        stream.data()[2] = static_cast<uint8_t>(index);
        stream.data()[3] = static_cast<uint8_t>(index >> 8);
        stream.append(payload);
        ASSERT_TRUE(blockSortDecode(stream));
        EXPECT_EQ(stream.size(), payload.size());
    }
}

}  // namespace
