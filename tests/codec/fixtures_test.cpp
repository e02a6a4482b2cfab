// Chunks compressed by an independent implementation of the codec: compressBlock must give the
// same bytes, and decompressBlock must restore them.

#include <gtest/gtest.h>

#include "codec/framing.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

struct FixtureRow {
    const char* plain;
    uint8_t method;
};

// Each X.z is X compressed as one chunk with mode 2, method byte first.
const FixtureRow FIXTURES[] = {
    {"text-200k.txt", METHOD_BLOCKSORT},
    {"log-2m.txt", METHOD_BLOCKSORT},  // the block sort finishes close to its budget
    {"table-2m.html", METHOD_HUFFMAN},  // the block sort runs out of budget
    {"periodic-300.bin", METHOD_HUFFMAN},
};

TEST(CodecFixtures, CompressToTheSameBytes) {
    for (const FixtureRow& row : FIXTURES) {
        SCOPED_TRACE(row.plain);
        const SecureBuffer plain = readFile(codecDataPath(row.plain));
        const SecureBuffer expected = readFile(codecDataPath(std::string(row.plain) + ".z"));
        ASSERT_FALSE(plain.empty()) << "missing fixture";
        ASSERT_FALSE(expected.empty()) << "missing fixture";
        EXPECT_EQ(expected.data()[0], row.method);

        SecureBuffer buffer(plain);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        ASSERT_EQ(buffer.size(), expected.size());
        uint32_t firstDifference = 0;
        while (firstDifference < buffer.size() &&
               buffer.data()[firstDifference] == expected.data()[firstDifference]) {
            ++firstDifference;
        }
        EXPECT_EQ(firstDifference, buffer.size()) << "first differing byte";
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
