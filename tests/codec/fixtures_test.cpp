// Chunks compressed by an independent implementation of the codec. decompressBlock must restore
// every one of them. Where that implementation wrote method 2, compressBlock must give the same
// bytes; where its budgeted block sort gave up and it wrote method 1, compressBlock now writes
// method 2, which must restore the chunk too.

#include <gtest/gtest.h>

#include <cstdio>

#include "codec/framing.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

struct FixtureRow {
    const char* plain;
    uint8_t storedMethod;  // the method byte of X.z
    uint8_t ourMethod;     // what compressBlock writes
};

// Each X.z is X compressed as one chunk with mode 2, method byte first.
const FixtureRow FIXTURES[] = {
    {"text-200k.txt", METHOD_BLOCKSORT, METHOD_BLOCKSORT},
    {"log-2m.txt", METHOD_BLOCKSORT, METHOD_BLOCKSORT},   // the budgeted sort finished close to its limit
    {"table-2m.html", METHOD_HUFFMAN, METHOD_BLOCKSORT},  // the budgeted sort gave up
    {"periodic-300.bin", METHOD_HUFFMAN, METHOD_BLOCKSORT},
};

TEST(CodecFixtures, CompressToTheSameBytesOrRoundTrip) {
    for (const FixtureRow& row : FIXTURES) {
        SCOPED_TRACE(row.plain);
        const SecureBuffer plain = readFile(codecDataPath(row.plain));
        const SecureBuffer expected = readFile(codecDataPath(std::string(row.plain) + ".z"));
        ASSERT_FALSE(plain.empty()) << "missing fixture";
        ASSERT_FALSE(expected.empty()) << "missing fixture";
        EXPECT_EQ(expected.data()[0], row.storedMethod);

        SecureBuffer buffer(plain);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        EXPECT_EQ(buffer.data()[0], row.ourMethod);
        if (row.storedMethod == row.ourMethod && buffer.size() < expected.size()) {
            // A Huffman tree shorter than the reference rule's: a different stream, which must
            // still restore the chunk (below).
            std::printf("%s: %u bytes, the reference encoder's %u\n", row.plain, buffer.size(), expected.size());
        } else if (row.storedMethod == row.ourMethod) {
            ASSERT_EQ(buffer.size(), expected.size());
            uint32_t firstDifference = 0;
            while (firstDifference < buffer.size() &&
                   buffer.data()[firstDifference] == expected.data()[firstDifference]) {
                ++firstDifference;
            }
            EXPECT_EQ(firstDifference, buffer.size()) << "first differing byte";
        } else {
            EXPECT_LT(buffer.size(), expected.size()) << "method 2 should beat method 1 here";
        }
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(plain));
    }
}

TEST(CodecFixtures, DecompressToThePlainBytes) {
    for (const FixtureRow& row : FIXTURES) {
        SCOPED_TRACE(row.plain);
        const SecureBuffer plain = readFile(codecDataPath(row.plain));
        SecureBuffer buffer = readFile(codecDataPath(std::string(row.plain) + ".z"));
        ASSERT_FALSE(buffer.empty()) << "missing fixture";
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(plain));
    }
}

}  // namespace
