// Chunk framing: the method byte, the order of the stages, the fallback to method 0, chunks that
// earlier writers fell back to method 1 for, and round trips of whole chunks up to 2 MiB.

#include "codec/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "codec/blocksort.h"
#include "codec/huffman.h"
#include "codec/movetofront.h"
#include "codec/runlength.h"
#include "codec_test_support.h"
#include "support/allocators.h"

using namespace codectest;

namespace {

TEST(Framing, CompressesFormatVectors) {
    const struct Row {
        const char* name;
        SecureBuffer input;
        const char* expected;
    } rows[] = {
        {"coding makes three bytes longer: stored", hexBuffer("61 62 63"), "00 61 62 63"},
        {"four equal bytes: stored", hexBuffer("61 61 61 61"), "00 61 61 61 61"},
        {"259 equal bytes through all five stages", repeated(0x61, 259), "02 28 10 E0 BF 01 0A E8 5F EC 6A 21 3C"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer(row.input);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(row.input));
    }
}

TEST(Framing, StagesOf259EqualBytes) {
    SecureBuffer buffer = repeated(0x61, 259);
    runLengthEncode(buffer);
    EXPECT_EQ(hexOf(buffer), "FF FF 61 FF");
    ASSERT_TRUE(blockSortEncode(buffer));
    EXPECT_EQ(hexOf(buffer), "01 00 02 00 00 FF FF FF 61");
    moveToFrontEncode(buffer);
    EXPECT_EQ(hexOf(buffer), "01 01 02 01 00 FF 00 00 62");
    runLengthEncode(buffer);
    EXPECT_EQ(hexOf(buffer), "FE 01 01 02 01 00 FF 00 00 62");
    ASSERT_TRUE(huffmanEncode(buffer));
    EXPECT_EQ(hexOf(buffer), "28 10 E0 BF 01 0A E8 5F EC 6A 21 3C");
}

TEST(Framing, RepetitiveChunksUseTheBlockSort) {
    // Chunks whose block sort ran out of budget in earlier writers, which then wrote method 1.
    // The block sort now always completes; mode 1 still gives method 1.
    SecureBuffer evenRuns = SecureBuffer::zeros(CODEC_CHUNK_MAX_BYTES);
    for (uint32_t i = 0; i < evenRuns.size(); ++i) {
        evenRuns.data()[i] = static_cast<uint8_t>((i / 1000) * 37);
    }
    const struct Row {
        const char* name;
        SecureBuffer input;
        uint32_t mostBytes;  // what method 2 gives at most
    } rows[] = {
        {"banana 50 times: 300 bytes of period 6", cyclic("banana", 300), 80},
        {"a 44-byte line repeated over 2 MiB",
         cyclic("Ferrolyn krypterar en fil i taget, i block.\n", CODEC_CHUNK_MAX_BYTES), CODEC_CHUNK_MAX_BYTES / 100},
        {"runs of 1 000 over 2 MiB", evenRuns, CODEC_CHUNK_MAX_BYTES / 100},
        {"HTML table", readFile(codecDataPath("table-2m.html")), CODEC_CHUNK_MAX_BYTES / 10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.input.empty()) << "missing fixture";
        SecureBuffer buffer(row.input);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        EXPECT_EQ(buffer.data()[0], METHOD_BLOCKSORT);
        EXPECT_LE(buffer.size(), row.mostBytes);

        SecureBuffer method1(row.input);
        ASSERT_TRUE(compressBlock(method1, METHOD_HUFFMAN));
        EXPECT_EQ(method1.data()[0], METHOD_HUFFMAN);
        EXPECT_LT(buffer.size(), method1.size());

        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(row.input));
        ASSERT_TRUE(decompressBlock(method1));
        EXPECT_TRUE(method1.constantTimeEquals(row.input));
    }
}

// The second run-length stage's bound for runs of zeros is chosen per chunk: on text the stream
// is shorter than with the stage's own rule, and never longer on anything; it decodes unchanged.
TEST(Framing, ZeroRunChoiceShortensTextAndNeverLengthens) {
    const struct Row {
        const char* name;
        SecureBuffer input;
        bool shorter;
    } rows[] = {
        {"text 2 MiB", englishLikeText(CODEC_CHUNK_MAX_BYTES, 71), true},
        {"text 100 KB", englishLikeText(100000, 72), true},
        {"log", readFile(codecDataPath("log-2m.txt")), false},
        {"repeated line", cyclic("Ferrolyn krypterar en fil i taget, i block.\n", 1000000), false},
        {"259 equal bytes", repeated(0x61, 259), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.input.empty()) << "missing fixture";
        SecureBuffer stageRule(row.input);
        runLengthEncode(stageRule);
        ASSERT_TRUE(blockSortEncode(stageRule));
        moveToFrontEncode(stageRule);
        runLengthEncode(stageRule);
        ASSERT_TRUE(huffmanEncode(stageRule));
        SecureBuffer buffer(row.input);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        ASSERT_EQ(buffer.data()[0], METHOD_BLOCKSORT);
        if (row.shorter) {
            EXPECT_LT(buffer.size(), stageRule.size() + 1);
        } else {
            EXPECT_LE(buffer.size(), stageRule.size() + 1);
        }
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(row.input));
    }
}

TEST(Framing, ModesAskForMethods) {
    const SecureBuffer text = englishLikeText(20000, 31);
    const struct Row {
        CompressionMethod mode;
        uint8_t method;
    } rows[] = {{METHOD_STORED, 0}, {METHOD_HUFFMAN, 1}, {METHOD_BLOCKSORT, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.mode));
        SecureBuffer buffer(text);
        ASSERT_TRUE(compressBlock(buffer, row.mode));
        EXPECT_EQ(buffer.data()[0], row.method);
        if (row.mode == METHOD_STORED) {
            EXPECT_TRUE(buffer.slice(buffer.size(), 1).constantTimeEquals(text));
        } else {
            EXPECT_LT(buffer.size(), text.size());
        }
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(text));
    }
}

TEST(Framing, EmptyChunkStaysEmptyInEveryMode) {
    for (CompressionMethod mode : {METHOD_STORED, METHOD_HUFFMAN, METHOD_BLOCKSORT}) {
        SecureBuffer buffer;
        EXPECT_TRUE(compressBlock(buffer, mode));
        EXPECT_TRUE(buffer.empty());
    }
}

TEST(Framing, RefusesWhatItCannotFrame) {
    SecureBuffer badMode = hexBuffer("61 62 63");
    EXPECT_FALSE(compressBlock(badMode, static_cast<CompressionMethod>(3)));
    EXPECT_TRUE(badMode.empty()) << "a failed compression leaves nothing behind";

    SecureBuffer tooLong = englishLikeText(CODEC_CHUNK_MAX_BYTES + 1, 32);
    EXPECT_FALSE(compressBlock(tooLong, METHOD_BLOCKSORT));
    EXPECT_TRUE(tooLong.empty());
}

TEST(Framing, DecompressesTinyStreams) {
    const struct Row {
        const char* name;
        const char* stream;
        bool ok;
        const char* expected;
    } rows[] = {
        {"stored, empty", "00", true, ""},
        {"stored bytes", "00 61 62", true, "61 62"},
        {"method 3", "03 61", false, nullptr},
        {"method FF", "FF", false, nullptr},
        {"method 1 without payload", "01", true, ""},
        {"method 2 without payload: no block-sort header", "02", false, nullptr},
        {"method 1, Huffman header cut", "01 01", false, nullptr},
        {"method 1, Huffman of n = 0", "01 00 04 00", true, ""},
        {"method 2, Huffman of n = 0", "02 00 04 00", false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer = hexBuffer(row.stream);
        const bool ok = decompressBlock(buffer);
        ASSERT_EQ(ok, row.ok);
        if (ok) {
            EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
        } else {
            EXPECT_TRUE(buffer.empty()) << "a failed decompression leaves nothing behind";
        }
    }
    SecureBuffer empty;
    EXPECT_FALSE(decompressBlock(empty));
}

// Chunks whose first run-length stage gives exactly 2^21 and 2^21 + 1 bytes: text that holds
// no FF and no run of four is one escape byte longer after that stage.
TEST(Framing, RoundTripsAtTheBlockBoundary) {
    for (uint32_t afterRunLength : {BLOCK_SORT_SIZE, BLOCK_SORT_SIZE + 1}) {
        SCOPED_TRACE(afterRunLength);
        const SecureBuffer input = englishLikeText(afterRunLength - 1, 41);
        SecureBuffer stage(input);
        runLengthEncode(stage);
        ASSERT_EQ(stage.size(), afterRunLength);
        ASSERT_TRUE(blockSortEncode(stage));
        EXPECT_EQ(stage.data()[0], afterRunLength > BLOCK_SORT_SIZE ? 2 : 1);

        SecureBuffer buffer(input);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        EXPECT_EQ(buffer.data()[0], METHOD_BLOCKSORT);
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(input));
    }
}

TEST(Framing, RoundTripsWholeChunks) {
    SecureBuffer all = SecureBuffer::zeros(CODEC_CHUNK_MAX_BYTES);
    for (uint32_t i = 0; i < all.size(); ++i) all.data()[i] = static_cast<uint8_t>(i);
    // Runs of 1 000: after the run-length stage a short repeated pattern.
    SecureBuffer evenRuns = SecureBuffer::zeros(CODEC_CHUNK_MAX_BYTES);
    for (uint32_t i = 0; i < evenRuns.size(); ++i) {
        evenRuns.data()[i] = static_cast<uint8_t>((i / 1000) * 37);
    }
    // Runs of random values and lengths up to 1 000. FF is left out: as the rarest value it is
    // the escape, and runs of the escape are doubled rather than run-coded, which would leave
    // long stretches of equal bytes for the block sort.
    SecureBuffer runs = SecureBuffer::zeros(CODEC_CHUNK_MAX_BYTES);
    {
        const SecureBuffer noise = randomBytes(CODEC_CHUNK_MAX_BYTES / 64, 45);
        uint32_t i = 0;
        for (uint32_t k = 0; i < runs.size(); k = (k + 2) % noise.size()) {
            const uint32_t length = 1 + (noise.data()[k] * 4 + noise.data()[k + 1] % 4) % 1000;
            const uint8_t value = noise.data()[k + 1] == 0xFF ? 0xFE : noise.data()[k + 1];
            for (uint32_t j = 0; j < length && i < runs.size(); ++j) runs.data()[i++] = value;
        }
    }
    // Every value in runs of eight: all equally common, so FF escapes, and FF comes in runs.
    SecureBuffer escapeRuns = SecureBuffer::zeros(256 * 8 * 64);
    for (uint32_t i = 0; i < escapeRuns.size(); ++i) {
        escapeRuns.data()[i] = static_cast<uint8_t>((i / 8) * 7);
    }
    SecureBuffer mixed = englishLikeText(CODEC_CHUNK_MAX_BYTES, 42);
    for (uint32_t i = 0; i < mixed.size(); i += 65536) {
        for (uint32_t k = 0; k < 3000 && i + k < mixed.size(); ++k) mixed.data()[i + k] = 0xFF;
    }
    const struct Row {
        const char* name;
        SecureBuffer input;
        int method;  // -1: any
    } rows[] = {
        {"random 2 MiB", randomBytes(CODEC_CHUNK_MAX_BYTES, 43), METHOD_STORED},
        {"text 2 MiB", englishLikeText(CODEC_CHUNK_MAX_BYTES, 44), METHOD_BLOCKSORT},
        {"long runs 2 MiB", runs, METHOD_BLOCKSORT},
        {"even runs 2 MiB", evenRuns, METHOD_BLOCKSORT},
        {"all 256 values, cycling, 2 MiB", all, -1},
        {"runs of the escape byte", escapeRuns, -1},
        {"text with long FF runs", mixed, METHOD_BLOCKSORT},
        {"one zero byte", hexBuffer("00"), METHOD_STORED},
        {"two bytes", hexBuffer("FF FF"), METHOD_STORED},
        {"three bytes", hexBuffer("61 62 63"), METHOD_STORED},
        {"four bytes", hexBuffer("FF FF 61 FF"), METHOD_STORED},
        {"five bytes", hexBuffer("41 41 41 41 41"), METHOD_STORED},
        {"2 MiB of one value", repeated(0x41, CODEC_CHUNK_MAX_BYTES), -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer(row.input);
        ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
        if (row.method >= 0) {
            EXPECT_EQ(buffer.data()[0], row.method);
        }
        ASSERT_TRUE(decompressBlock(buffer));
        EXPECT_TRUE(buffer.constantTimeEquals(row.input));
    }
}

// One scratch and one output buffer through a run of chunks of every method and size, with a
// forged chunk among them, as a decrypting thread uses them: each chunk comes out as the
// one-shot decoder gives it, a failure leaves the output empty, and after every call the scratch
// holds zeros only, however much of it the chunk before used.
TEST(Framing, ScratchServesChunkAfterChunkAndKeepsNothing) {
    auto compressed = [](const SecureBuffer& input, CompressionMethod mode) {
        SecureBuffer buffer(input);
        EXPECT_TRUE(compressBlock(buffer, mode));
        return buffer;
    };
    SecureBuffer forged = compressed(englishLikeText(100000, 61), METHOD_BLOCKSORT);
    forged.data()[forged.size() / 2] ^= 0x10;
    SecureBuffer truncated = compressed(englishLikeText(CODEC_CHUNK_MAX_BYTES, 62), METHOD_BLOCKSORT);
    truncated.resize(truncated.size() - 7);
    const struct Row {
        const char* name;
        SecureBuffer chunk;
    } rows[] = {
        {"text 2 MiB", compressed(englishLikeText(CODEC_CHUNK_MAX_BYTES, 63), METHOD_BLOCKSORT)},
        {"repeated line 2 MiB", compressed(cyclic("Ferrolyn krypterar en fil i taget, i block.\n",
                                                  CODEC_CHUNK_MAX_BYTES), METHOD_BLOCKSORT)},
        {"short text", compressed(englishLikeText(3000, 64), METHOD_BLOCKSORT)},
        {"forged", forged},
        {"random 2 MiB, stored", compressed(randomBytes(CODEC_CHUNK_MAX_BYTES, 65), METHOD_BLOCKSORT)},
        {"text, method 1", compressed(englishLikeText(500000, 66), METHOD_HUFFMAN)},
        {"truncated 2 MiB", truncated},
        {"empty", hexBuffer("00")},
        {"two blocks' worth of runs", compressed(repeated(0x41, CODEC_CHUNK_MAX_BYTES), METHOD_BLOCKSORT)},
        {"text 2 MiB again", compressed(englishLikeText(CODEC_CHUNK_MAX_BYTES, 67), METHOD_BLOCKSORT)},
    };
    auto allZero = [](const SecureBuffer& b) {
        return std::all_of(b.data(), b.data() + b.size(), [](uint8_t byte) { return byte == 0; });
    };
    CodecScratch scratch;
    SecureBuffer out;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer expected(row.chunk);
        const bool decodes = decompressBlock(expected);
        EXPECT_EQ(decompressBlock(row.chunk.data(), row.chunk.size(), out, scratch), decodes);
        if (decodes) {
            EXPECT_TRUE(out.constantTimeEquals(expected));
        } else {
            EXPECT_TRUE(out.empty());
        }
        EXPECT_TRUE(allZero(scratch.stages[0]));
        EXPECT_TRUE(allZero(scratch.stages[1]));
        EXPECT_TRUE(allZero(scratch.blockSort.words));
        EXPECT_TRUE(allZero(scratch.blockSort.spare));
    }
    EXPECT_FALSE(scratch.blockSort.words.empty());  // the scratch was used, and kept
}

TEST(Framing, EveryRegionComesBackWiped) {
    // All working memory of both directions is SecureBuffer memory, wiped before release.
    testsupport::AllocationAudit audit;
    {
        const SecureBuffer inputs[] = {englishLikeText(300000, 46), randomBytes(100000, 47),
                                       cyclic("Ferrolyn krypterar en fil i taget, i block.\n", 200000),
                                       cyclic("banana", 300)};
        for (const SecureBuffer& input : inputs) {
            SCOPED_TRACE(input.size());
            SecureBuffer buffer(input);
            ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
            ASSERT_TRUE(decompressBlock(buffer));
            EXPECT_TRUE(buffer.constantTimeEquals(input));
        }
    }
    EXPECT_EQ(testsupport::AllocationAudit::releasedWithData(), 0);
    EXPECT_EQ(testsupport::AllocationAudit::outstanding(), 0);
}

TEST(Framing, RoundTripsEveryLengthUpTo64) {
    for (uint32_t length = 1; length <= 64; ++length) {
        for (uint32_t seed = 0; seed < 8; ++seed) {
            SecureBuffer input = randomBytes(length, length * 8 + seed);
            for (uint32_t i = 0; i < input.size(); ++i) input.data()[i] &= static_cast<uint8_t>(seed);
            for (CompressionMethod mode : {METHOD_HUFFMAN, METHOD_BLOCKSORT}) {
                SecureBuffer buffer(input);
                ASSERT_TRUE(compressBlock(buffer, mode));
                ASSERT_TRUE(decompressBlock(buffer));
                ASSERT_TRUE(buffer.constantTimeEquals(input)) << hexOf(input);
            }
        }
    }
}

// The quick look against the full chain over a corpus of files cut into chunks: where the look
// stores a chunk, coding it would not have saved more than 1%; random data is judged
// incompressible, and compressBlock then stores it as the full attempt would. The rows that save
// a little over 1% (thin text, an island of text, a repeated block) must be coded. "chain" is the
// full chain with the run-length stage's own rule for runs of zeros, "written" what compressBlock
// writes.
TEST(Framing, QuickLookStoresOnlyWhatTheChainCannotShrink) {
    auto join = [](std::initializer_list<SecureBuffer> parts) {
        std::vector<uint8_t> bytes;
        for (const SecureBuffer& part : parts) bytes.insert(bytes.end(), part.data(), part.data() + part.size());
        return SecureBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    };
    const SecureBuffer block = randomBytes(1 << 20, 41);
    // A tar-like archive: 512-byte headers in front of text, random, zero and short files.
    SecureBuffer tar;
    {
        std::vector<SecureBuffer> parts;
        const SecureBuffer members[] = {englishLikeText(300000, 42), randomBytes(700000, 43),
                                        repeated(0, 100000),         randomBytes(1500000, 44),
                                        cyclic("int main() { return 0; }\n", 200000), randomBytes(3000, 45),
                                        englishLikeText(5000, 46),   randomBytes(900000, 47)};
        uint32_t index = 0;
        for (const SecureBuffer& member : members) {
            SecureBuffer header = SecureBuffer::zeros(512);
            std::snprintf(reinterpret_cast<char*>(header.data()), 100, "member-%u.dat", index++);
            std::snprintf(reinterpret_cast<char*>(header.data()) + 124, 12, "%011o", member.size());
            parts.push_back(header);
            parts.push_back(member);
            parts.push_back(SecureBuffer::zeros((512 - member.size() % 512) % 512));
        }
        std::vector<uint8_t> bytes;
        for (const SecureBuffer& part : parts) bytes.insert(bytes.end(), part.data(), part.data() + part.size());
        tar.assign(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    std::mt19937 generator(48);
    auto build = [&](uint32_t size, auto&& byteAt) {
        SecureBuffer b = SecureBuffer::zeros(size);
        for (uint32_t i = 0; i < size; ++i) b.data()[i] = static_cast<uint8_t>(byteAt(i));
        return b;
    };
    SecureBuffer shortRuns = SecureBuffer::zeros(1 << 21);
    for (uint32_t i = 0; i < shortRuns.size();) {
        const uint8_t value = static_cast<uint8_t>(generator());
        for (uint32_t k = 1 + generator() % 3; k > 0 && i < shortRuns.size(); --k) shortRuns.data()[i++] = value;
    }
    SecureBuffer sparseText = randomBytes(1 << 21, 49);
    const SecureBuffer text = englishLikeText(1 << 21, 50);
    for (uint32_t at = 0; at + 700 <= sparseText.size(); at += 65536) {
        std::memcpy(sparseText.data() + at, text.data() + at, 700);  // about 1% text
    }
    // Text spread thinly, 2600 bytes in every 64 KiB; an island of text; a random block that
    // occurs twice. The chain saves a little over 1% on each.
    SecureBuffer thinText = randomBytes(1 << 21, 54);
    for (uint32_t at = 0; at + 2600 <= thinText.size(); at += 65536) {
        std::memcpy(thinText.data() + at + 30000, text.data() + at, 2600);
    }
    SecureBuffer textIsland = randomBytes(1 << 21, 55);
    std::memcpy(textIsland.data() + 1000000, text.data(), 96 * 1024);
    SecureBuffer repeatedIsland = randomBytes(1 << 21, 56);
    std::memcpy(repeatedIsland.data() + 1500000, repeatedIsland.data() + 200000, 256 * 1024);
    uint8_t walk = 0;
    const struct File {
        const char* name;
        SecureBuffer bytes;
        // Every chunk is judged incompressible, or none is. The look counts in integers only, so
        // the 32-bit Windows build must come to these very answers: a different one would write
        // different container bytes.
        bool stored;
    } files[] = {
        {"random 4 MiB", randomBytes(4 << 20, 51), true},
        {"one random 1 MiB block repeated", join({block, block, block, block}), false},
        {"text, random 1 MiB, text", join({englishLikeText(1500000, 52), block, englishLikeText(1500000, 53)}),
         false},
        {"tar of mixed files", tar, false},
        {"short random runs", shortRuns, false},
        {"random with 1% text", sparseText, false},
        {"random with 4% text", thinText, false},
        {"random with 96 KiB of text", textIsland, false},
        {"random with 256 KiB twice", repeatedIsland, false},
        {"random 2 MiB and 100 KiB", randomBytes((1 << 21) + 100 * 1024, 57), true},
        {"random walk", build(1 << 21, [&](uint32_t) {
             walk = static_cast<uint8_t>(walk + generator() % 9 - 4);
             return walk;
         }), false},
        {"200 of 256 byte values", build(1 << 21, [&](uint32_t) { return generator() % 200; }), false},
        {"16-bit samples", build(1 << 21, [&](uint32_t i) {
             const uint32_t sample = static_cast<uint32_t>(20000 + 8000 * std::sin(i / 400.0) + generator() % 64);
             return i % 2 == 0 ? sample & 0xFF : sample >> 8;
         }), false},
    };
    std::printf("%-36s %5s %9s %9s %9s %6s\n", "file", "chunk", "bytes", "chain", "written", "look");
    for (const File& file : files) {
        SCOPED_TRACE(file.name);
        for (uint32_t at = 0; at < file.bytes.size(); at += CODEC_CHUNK_MAX_BYTES) {
            const uint32_t size = std::min<uint32_t>(CODEC_CHUNK_MAX_BYTES, file.bytes.size() - at);
            const SecureBuffer chunk(file.bytes.data() + at, size);
            SCOPED_TRACE(at / CODEC_CHUNK_MAX_BYTES);
            const bool looksIncompressible = chunkLooksIncompressible(chunk.data(), size);
            // The full chain, stage by stage, as compressBlock ran it before the quick look.
            SecureBuffer coded(chunk);
            runLengthEncode(coded);
            ASSERT_TRUE(blockSortEncode(coded));
            moveToFrontEncode(coded);
            runLengthEncode(coded);
            const uint64_t chainBytes = huffmanEncode(coded) ? coded.size() + 1 : size + 1;
            SecureBuffer buffer(chunk);
            ASSERT_TRUE(compressBlock(buffer, METHOD_BLOCKSORT));
            std::printf("%-36s %5u %9u %9llu %9u %6s\n", file.name, at / CODEC_CHUNK_MAX_BYTES, size,
                        static_cast<unsigned long long>(chainBytes), buffer.size(),
                        looksIncompressible ? "stored" : "coded");
            if (looksIncompressible) {
                EXPECT_GE(chainBytes * 100, uint64_t{size} * 99) << "the chain would have saved more than 1%";
            }
            EXPECT_EQ(looksIncompressible, file.stored);
            if (looksIncompressible) {
                ASSERT_EQ(buffer.data()[0], METHOD_STORED);
                EXPECT_EQ(buffer.size(), size + 1);
            } else {
                // The written chunk is never longer than the chain with the stage's own rule for
                // runs of zeros, or than the stored chunk.
                EXPECT_LE(buffer.size(), std::min<uint64_t>(chainBytes, size + 1));
            }
            ASSERT_TRUE(decompressBlock(buffer));
            EXPECT_TRUE(buffer.constantTimeEquals(chunk));
        }
    }
}

}  // namespace
