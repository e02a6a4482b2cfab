// decompressBlock on streams no encoder made: truncated, bit-flipped, random and forged. Each
// must give false or some buffer, never touch memory outside its buffers (the sanitizer build
// checks that) and never hold more memory than decoding a 2 MiB chunk needs.

#include <gtest/gtest.h>

#include <random>

#include "codec/framing.h"
#include "codec/huffman.h"
#include "codec/runlength.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

// Most memory decompressBlock may hold at once: its own copies of a stream of a little over
// 2 MiB, the block-sort decoder's input, output and ranks (4 bytes per byte), and slack.
constexpr size_t DECODE_MEMORY_CEILING_BYTES = 16u << 20;

// Decodes one hostile stream under the recording allocator and checks what it held.
void decodeHostile(const SecureBuffer& stream) {
    RecordingAllocator allocator;
    SecureBuffer buffer(stream);
    bool ok = false;
    try {
        ok = decompressBlock(buffer);
    } catch (int) {
        ADD_FAILURE() << "decompressBlock threw for " << hexOf(stream, 16);
    }
    if (ok) {
        EXPECT_LE(buffer.size(), CODEC_CHUNK_MAX_BYTES);
    } else {
        EXPECT_TRUE(buffer.empty());
    }
    EXPECT_LE(allocator.record().peakLiveBytes, DECODE_MEMORY_CEILING_BYTES) << hexOf(stream, 16);
}

SecureBuffer compressed(const SecureBuffer& input, CompressionMethod mode) {
    SecureBuffer buffer(input);
    if (!compressBlock(buffer, mode)) ADD_FAILURE() << "compressBlock failed";
    return buffer;
}

// Small streams of each coded method with every stage in use.
std::vector<SecureBuffer> seedStreams() {
    SecureBuffer runsAndText = englishLikeText(1500, 51);
    runsAndText.append(repeated(0x20, 600));
    runsAndText.append(englishLikeText(400, 52));
    std::vector<SecureBuffer> streams = {
        compressed(englishLikeText(700, 50), METHOD_BLOCKSORT), compressed(runsAndText, METHOD_BLOCKSORT),
        compressed(cyclic("banana", 300), METHOD_HUFFMAN),      compressed(englishLikeText(500, 53), METHOD_HUFFMAN),
        compressed(cyclic("banana", 300), METHOD_BLOCKSORT),  // a periodic block
    };
    EXPECT_EQ(streams[0].data()[0], METHOD_BLOCKSORT);
    EXPECT_EQ(streams[1].data()[0], METHOD_BLOCKSORT);
    EXPECT_EQ(streams[2].data()[0], METHOD_HUFFMAN);
    EXPECT_EQ(streams[3].data()[0], METHOD_HUFFMAN);
    EXPECT_EQ(streams[4].data()[0], METHOD_BLOCKSORT);
    return streams;
}

TEST(CodecHostile, EveryTruncation) {
    for (const SecureBuffer& stream : seedStreams()) {
        for (uint32_t length = 0; length < stream.size(); ++length) {
            SCOPED_TRACE(length);
            decodeHostile(stream.slice(length, 0));
        }
    }
}

TEST(CodecHostile, EveryBitFlip) {
    for (const SecureBuffer& stream : seedStreams()) {
        SecureBuffer flipped(stream);
        for (uint32_t bit = 0; bit < 8 * stream.size(); ++bit) {
            SCOPED_TRACE(bit);
            flipped.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            decodeHostile(flipped);
            flipped.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        }
    }
}

TEST(CodecHostile, FlipsAndCutsInALargeStream) {
    const SecureBuffer stream = readFile(codecDataPath("text-200k.txt.z"));
    ASSERT_FALSE(stream.empty()) << "missing fixture";
    std::mt19937 generator(54);
    for (uint32_t trial = 0; trial < 40; ++trial) {
        SecureBuffer damaged(stream);
        const uint32_t bit = generator() % (8 * stream.size());
        damaged.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        decodeHostile(damaged);
        decodeHostile(stream.slice(generator() % stream.size(), 0));
    }
}

TEST(CodecHostile, RandomStreams) {
    std::mt19937 generator(55);
    for (uint32_t trial = 0; trial < 3000; ++trial) {
        SecureBuffer stream = randomBytes(1 + generator() % 600, generator());
        stream.data()[0] = static_cast<uint8_t>(generator() % 3);
        decodeHostile(stream);
    }
}

// Random data behind a valid Huffman layer, and behind valid Huffman and run-length layers, so
// that the inner stages see garbage too.
TEST(CodecHostile, RandomInnerStages) {
    std::mt19937 generator(56);
    for (uint32_t trial = 0; trial < 3000; ++trial) {
        SecureBuffer payload = randomBytes(1 + generator() % 400, generator());
        if (trial % 3 == 0) {
            // A small alphabet makes run tokens and escapes common.
            for (uint32_t i = 0; i < payload.size(); ++i) payload.data()[i] %= 4;
        }
        if (trial % 2 == 0) runLengthEncode(payload);
        ASSERT_TRUE(huffmanEncode(payload));
        const uint8_t method = static_cast<uint8_t>(1 + trial % 2);
        payload.prepend(&method, 1);
        decodeHostile(payload);
    }
}

// A Huffman layer holding the given bytes, behind a method byte.
SecureBuffer framedHuffman(uint8_t method, const SecureBuffer& inner) {
    SecureBuffer stream(inner);
    EXPECT_TRUE(huffmanEncode(stream));
    stream.prepend(&method, 1);
    return stream;
}

// A single-leaf Huffman layer that claims n copies of value, behind a method byte: five or six
// bytes for any n.
SecureBuffer singleLeafClaim(uint8_t method, uint32_t n, uint8_t value) {
    const uint32_t sizeClass = n <= 0xFF ? 0 : n <= 0xFFFF ? 1 : n <= 0xFFFFFF ? 2 : 3;
    uint64_t bits = sizeClass | (static_cast<uint64_t>(n) << 2);
    const uint32_t headerBits = 2 + 8 * (sizeClass + 1);
    bits |= (1ull | (static_cast<uint64_t>(value) << 1)) << headerBits;
    SecureBuffer stream = SecureBuffer::zeros(1 + (headerBits + 9 + 7) / 8);
    stream.data()[0] = method;
    for (uint32_t i = 1; i < stream.size(); ++i) stream.data()[i] = static_cast<uint8_t>(bits >> (8 * (i - 1)));
    return stream;
}

// A run-length stream of max-length runs of 41 (259 bytes each) and a last run of rest bytes.
SecureBuffer runTokens(uint32_t fullRuns, uint32_t rest) {
    SecureBuffer tokens = SecureBuffer::zeros(1 + 3 * fullRuns + 3);
    tokens.data()[0] = 0xFF;
    for (uint32_t t = 0; t <= fullRuns; ++t) {
        tokens.data()[1 + 3 * t] = 0xFF;
        tokens.data()[2 + 3 * t] = 0x41;
        tokens.data()[3 + 3 * t] = static_cast<uint8_t>(t < fullRuns ? 255 : rest - 4);
    }
    return tokens;
}

TEST(CodecHostile, ForgedLengthsFailWithoutAllocatingThem) {
    // 2 MiB = 8 097 runs of 259 and one of 29.
    const SecureBuffer exactChunk = runTokens(8097, 29);
    const SecureBuffer oneMore = runTokens(8097, 30);
    const struct Row {
        const char* name;
        SecureBuffer stream;
        bool ok;
    } rows[] = {
        {"method 1 claiming 2^32 - 1 bytes of one value", singleLeafClaim(1, 0xFFFFFFFFu, 0x41), false},
        {"method 2 claiming 2^32 - 1 bytes of one value", singleLeafClaim(2, 0xFFFFFFFFu, 0x41), false},
        {"method 1 claiming 2^24 bytes", singleLeafClaim(1, 1u << 24, 0x41), false},
        // Within the Huffman limit, but the run-length layer is only its escape doubled.
        {"method 2 claiming the most its Huffman layer may hold", singleLeafClaim(2, 2113577, 0x00), false},
        {"method 2 claiming one byte more", singleLeafClaim(2, 2113578, 0x00), false},
        {"run tokens for exactly 2 MiB", framedHuffman(1, exactChunk), true},
        {"run tokens for 2 MiB and one byte", framedHuffman(1, oneMore), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingAllocator allocator;
        SecureBuffer buffer(row.stream);
        EXPECT_EQ(decompressBlock(buffer), row.ok);
        EXPECT_LE(allocator.record().largestRequest, 4 * (CODEC_CHUNK_MAX_BYTES + 65536));
        EXPECT_LE(allocator.record().peakLiveBytes, DECODE_MEMORY_CEILING_BYTES);
        if (row.ok) {
            EXPECT_TRUE(buffer.constantTimeEquals(repeated(0x41, CODEC_CHUNK_MAX_BYTES)));
        }
    }
}

TEST(CodecHostile, HugeClaimsStayTiny) {
    // A claim far beyond any chunk is refused before anything of its size is asked for.
    for (uint8_t method : {uint8_t{1}, uint8_t{2}}) {
        RecordingAllocator allocator;
        SecureBuffer buffer = singleLeafClaim(method, 0xFFFFFFFFu, 0x00);
        EXPECT_FALSE(decompressBlock(buffer));
        EXPECT_LE(allocator.record().largestRequest, 16u);
    }
}

}  // namespace
