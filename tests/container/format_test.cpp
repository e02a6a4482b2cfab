// Container headers: exact bytes for each key mode, table area sizes, and which damage or key
// mismatch parseHeader reports as a read error, a wrong key or an encryption error.

#include "container/chunk_pipeline.h"
#include "container/format.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "base/text.h"
#include "crypto/pbkdf2.h"
#include "container/session.h"
#include "crypto/sha256.h"
#include "random/generator.h"
#include "support/hex.h"

using testsupport::bufferFromHex;
using testsupport::toHex;

namespace {

constexpr const char* MAGIC_FIELD_HEX = "0d000000 456e637279707465644669 6c65";

SecureBuffer fileKey() {
    SecureBuffer key = SecureBuffer::zeros(32);
    for (uint32_t i = 0; i < 32; ++i) key.data()[i] = static_cast<uint8_t>(i);
    return key;
}

SecureBuffer passphrase() { return fromNulTerminated("korrekt h\xe4st batteri zon"); }

struct Fixture {
    std::unique_ptr<RandomGenerator> generator = std::make_unique<RandomGenerator>();
    PipelineOptions options;
    Fixture(CipherAlgorithm cipher, bool compress) {
        generator->entropy = ENTROPY_THRESHOLD;
        options.generator = generator.get();
        options.cipher = cipher;
        options.compress = compress;
    }
};

}  // namespace

TEST(ContainerHeader, RawHeaderBytes) {
    for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
        for (bool compress : {false, true}) {
            SCOPED_TRACE(std::to_string(cipher) + (compress ? " compressed" : ""));
            Fixture f(cipher, compress);
            SecureBuffer key = fileKey();
            SecureBuffer header;
            JobResult result = RESULT_CANCELLED;
            ASSERT_TRUE(buildHeader(key, f.options, KEY_MODE_RAW, SecureBuffer(), header, result));
            ASSERT_EQ(header.size(), HEADER_SIZE_RAW);
            std::string expected = toHex(bufferFromHex(MAGIC_FIELD_HEX)) + "0000" + (cipher ? "01" : "00") +
                                   (compress ? "01" : "00") + "00" + "08000000" + toHex(keyCheckValue(key));
            EXPECT_EQ(toHex(header), expected);
            EXPECT_EQ(result, RESULT_CANCELLED) << "result is left alone on success";
        }
    }
}

TEST(ContainerHeader, PassphraseHeaderDerivesTheKeyWithASalt) {
    Fixture f(CIPHER_SERPENT, false);
    SecureBuffer key, header;
    JobResult result = RESULT_CANCELLED;
    ASSERT_TRUE(buildHeader(key, f.options, KEY_MODE_PASSPHRASE, passphrase(), header, result));
    ASSERT_EQ(header.size(), HEADER_SIZE_PASSPHRASE);
    EXPECT_EQ(toHex(header.slice(22, 0)), toHex(bufferFromHex(MAGIC_FIELD_HEX)) + "0000010001");
    EXPECT_EQ(toHex(header.slice(4, 22)), "08000000");
    SecureBuffer salt = header.slice(8, 26);
    SecureBuffer expectedKey;
    ASSERT_TRUE(pbkdf2Sha256(sha256OfText(passphrase()), salt, expectedKey));
    EXPECT_TRUE(key.constantTimeEquals(expectedKey));
    EXPECT_EQ(toHex(header.slice(12, 34)), "08000000" + toHex(keyCheckValue(key)));

    // The same passphrase opens it; the derived key comes out.
    SecureBuffer opened;
    bool compressed = true;
    CipherAlgorithm cipher = CIPHER_AES256;
    ASSERT_TRUE(parseHeader(header, KEY_MODE_PASSPHRASE, passphrase(), opened, compressed, cipher, result));
    EXPECT_TRUE(opened.constantTimeEquals(key));
    EXPECT_FALSE(compressed);
    EXPECT_EQ(cipher, CIPHER_SERPENT);
}

TEST(ContainerHeader, BuildFailures) {
    Fixture f(CIPHER_AES256, false);
    SecureBuffer header = bufferFromHex("aa");
    JobResult result = RESULT_CANCELLED;

    f.generator->entropy = ENTROPY_THRESHOLD - 1;
    SecureBuffer key;
    EXPECT_FALSE(buildHeader(key, f.options, KEY_MODE_PASSPHRASE, passphrase(), header, result));
    EXPECT_EQ(result, RESULT_CRYPTO_ERROR) << "no salt without a ready generator";
    EXPECT_TRUE(header.empty());

    f.generator->entropy = ENTROPY_THRESHOLD;
    SecureBuffer shortKey = fileKey().slice(10, 0);
    result = RESULT_CANCELLED;
    EXPECT_FALSE(buildHeader(shortKey, f.options, KEY_MODE_RAW, SecureBuffer(), header, result));
    EXPECT_EQ(result, RESULT_CRYPTO_ERROR) << "a key without a check value must not make a header";

    f.options.cipher = static_cast<CipherAlgorithm>(2);
    SecureBuffer good = fileKey();
    EXPECT_FALSE(buildHeader(good, f.options, KEY_MODE_RAW, SecureBuffer(), header, result));
}

TEST(ContainerHeader, ParseOutcomes) {
    Fixture f(CIPHER_SERPENT, true);
    SecureBuffer key = fileKey();
    SecureBuffer raw, pass;
    JobResult result = RESULT_CANCELLED;
    ASSERT_TRUE(buildHeader(key, f.options, KEY_MODE_RAW, SecureBuffer(), raw, result));
    SecureBuffer passKey;
    ASSERT_TRUE(buildHeader(passKey, f.options, KEY_MODE_PASSPHRASE, passphrase(), pass, result));

    auto edited = [](const SecureBuffer& header, uint32_t offset, uint8_t value) {
        SecureBuffer copy = header;
        copy.data()[offset] = value;
        return copy;
    };
    SecureBuffer otherKey = fileKey();
    otherKey.data()[31] ^= 1;
    SecureBuffer damagedSaltLength = edited(pass, 22, 7);

    struct Row {
        const char* name;
        SecureBuffer header;
        KeyMode mode;
        SecureBuffer key;
        SecureBuffer passphrase;
        bool ok;
        JobResult result;
    };
    const Row rows[] = {
        {"raw opens", raw, KEY_MODE_RAW, fileKey(), {}, true, RESULT_CANCELLED},
        {"wrong key", raw, KEY_MODE_RAW, otherKey, {}, false, RESULT_WRONG_KEY},
        {"31-byte key", raw, KEY_MODE_RAW, fileKey().slice(31, 0), {}, false, RESULT_WRONG_KEY},
        {"raw container, passphrase given", raw, KEY_MODE_PASSPHRASE, {}, passphrase(), false, RESULT_WRONG_KEY},
        {"passphrase container, key given", pass, KEY_MODE_RAW, fileKey(), {}, false, RESULT_WRONG_KEY},
        {"wrong passphrase",
         pass,
         KEY_MODE_PASSPHRASE,
         {},
         fromNulTerminated("korrekt hast batteri zon"),
         false,
         RESULT_WRONG_KEY},
        {"damaged salt byte",
         edited(pass, 26, pass.data()[26] ^ 1),
         KEY_MODE_PASSPHRASE,
         {},
         passphrase(),
         false,
         RESULT_WRONG_KEY},
        {"damaged check value",
         edited(raw, 33, raw.data()[33] ^ 0x80),
         KEY_MODE_RAW,
         fileKey(),
         {},
         false,
         RESULT_WRONG_KEY},
        {"check value field of 7", edited(raw, 22, 7), KEY_MODE_RAW, fileKey(), {}, false, RESULT_WRONG_KEY},
        {"empty check value field",
         [&] {
             SecureBuffer h = raw.slice(22, 0);
             h.appendZeros(4);
             return h;
         }(),
         KEY_MODE_RAW,
         SecureBuffer(),
         {},
         false,
         RESULT_WRONG_KEY},
        {"salt field of 7", damagedSaltLength, KEY_MODE_PASSPHRASE, {}, passphrase(), false, RESULT_CRYPTO_ERROR},
        {"magic", edited(raw, 4, 'e'), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"magic length", edited(raw, 0, 12), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"version 01 00", edited(raw, 17, 1), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"version 00 01", edited(raw, 18, 1), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"cipher 2", edited(raw, 19, 2), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"compressed 2", edited(raw, 20, 2), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"key mode 2", edited(raw, 21, 2), KEY_MODE_RAW, fileKey(), {}, false, RESULT_WRONG_KEY},
        {"empty header", SecureBuffer(), KEY_MODE_RAW, fileKey(), {}, false, RESULT_READ_ERROR},
        {"trailing bytes ignored",
         [&] {
             SecureBuffer h = raw;
             h.appendZeros(5);
             return h;
         }(),
         KEY_MODE_RAW,
         fileKey(),
         {},
         true,
         RESULT_CANCELLED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer masterKey = row.key;
        bool compressed = false;
        CipherAlgorithm cipher = CIPHER_AES256;
        JobResult parsed = RESULT_CANCELLED;
        EXPECT_EQ(parseHeader(row.header, row.mode, row.passphrase, masterKey, compressed, cipher, parsed), row.ok);
        EXPECT_EQ(parsed, row.result);
        if (row.ok) {
            EXPECT_TRUE(compressed);
            EXPECT_EQ(cipher, CIPHER_SERPENT);
        }
    }
}

// Every truncation of both header kinds is refused (never accepted, never out of bounds).
TEST(ContainerHeader, TruncatedHeadersAreRefused) {
    Fixture f(CIPHER_AES256, false);
    SecureBuffer key = fileKey();
    SecureBuffer raw;
    JobResult result;
    ASSERT_TRUE(buildHeader(key, f.options, KEY_MODE_RAW, SecureBuffer(), raw, result));
    for (uint32_t length = 0; length < raw.size(); ++length) {
        SCOPED_TRACE(length);
        SecureBuffer masterKey = fileKey();
        bool compressed;
        CipherAlgorithm cipher;
        EXPECT_FALSE(
            parseHeader(raw.slice(length, 0), KEY_MODE_RAW, SecureBuffer(), masterKey, compressed, cipher, result));
    }
}

TEST(ContainerFormat, TableAreaSizes) {
    struct Row {
        uint32_t chunks, bytes;
    };
    const Row rows[] = {{0, 64}, {1, 64}, {2, 64}, {3, 80}, {4, 80}, {7, 96}, {2048, 8256}};
    for (const Row& row : rows) EXPECT_EQ(tableAreaSize(row.chunks), row.bytes) << row.chunks;
}

// The table's size field is 32 bits: MAX_CHUNKS is the last count whose sealed table fits it, and
// a source of one byte more is refused instead of writing a table size cut to 32 bits.
TEST(ContainerFormat, ChunkCountBounds) {
    EXPECT_EQ(uint64_t{tableAreaSize(MAX_CHUNKS)}, sealedBlobBytes(4 + 4 * MAX_CHUNKS));
    EXPECT_GT(sealedBlobBytes(4 + 4 * (MAX_CHUNKS + 1)), uint64_t{UINT32_MAX}) << "one chunk more does not fit";
    struct Row {
        const char* name;
        uint64_t sourceBytes;
        bool ok;
        uint32_t chunks;
    };
    const uint64_t largest = uint64_t{MAX_CHUNKS} * CHUNK_SIZE;
    const Row rows[] = {
        {"empty", 0, true, 0},
        {"one byte", 1, true, 1},
        {"one chunk", CHUNK_SIZE, true, 1},
        {"one chunk and a byte", uint64_t{CHUNK_SIZE} + 1, true, 2},
        {"MAX_CHUNKS whole chunks", largest, true, MAX_CHUNKS},
        {"one byte more", largest + 1, false, 0},
        {"2^32 chunks (the old 32-bit limit)", uint64_t{1} << (32 + CHUNK_SHIFT), false, 0},
        {"largest 64-bit size", UINT64_MAX, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        uint32_t chunks = 12345;
        EXPECT_EQ(chunkCountFor(row.sourceBytes, chunks), row.ok);
        EXPECT_EQ(chunks, row.chunks);
    }
}

// The largest sealed chunk follows from the codec's largest block and the padding; the decryption
// refuses table entries above it (ForgedContainer.TablesChunksAndSizes).
TEST(ContainerFormat, LargestSealedChunk) {
    EXPECT_EQ(CODEC_BLOCK_MAX_BYTES, CHUNK_SIZE + 1);
    EXPECT_EQ(MAX_SEALED_CHUNK_BYTES, sealedBlobBytes(CHUNK_INDEX_BYTES + CHUNK_SIZE + 1));
    EXPECT_EQ(MAX_SEALED_CHUNK_BYTES, CHUNK_SIZE + 64u);
}

// Workers are fewer where their slots would exceed the budget; the 32-bit program's budget keeps
// Serpent's 64 workers of 6 lanes (about 780 MiB of slots) within 256 MiB.
TEST(ChunkPipeline, SlotMemoryBudget) {
    struct Row {
        const char* name;
        uint32_t workers, batch;
        uint64_t slotBytes, budget;
        uint32_t expected;
    };
    const uint64_t slot = MAX_SEALED_CHUNK_BYTES;
    const uint64_t budget32 = uint64_t{256} << 20;
    const Row rows[] = {
        {"Serpent lanes, 64 workers", 64, 6, slot, budget32, 20},
        {"AES lanes, 64 workers", 64, 4, slot, budget32, 31},
        {"compressed, 64 workers", 64, 1, 2 * slot, budget32, 61},
        {"decryption, 64 workers", 64, 1, slot + CHUNK_SIZE, budget32, 61},
        {"few workers fit", 4, 6, slot, budget32, 4},
        {"never fewer than one", 8, 6, slot, slot, 1},
        {"no budget", 64, 6, slot, UINT64_MAX, 64},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const uint32_t workers = pipelineWorkersWithinBudget(row.workers, row.batch, row.slotBytes, row.budget);
        EXPECT_EQ(workers, row.expected);
        if (workers > 1) {
            EXPECT_LE(pipelineSlotCount(workers, row.batch) * row.slotBytes, row.budget);
        }
    }
    if (sizeof(void*) < 8) {
        EXPECT_EQ(PIPELINE_SLOT_BUDGET_BYTES, budget32);
    } else {
        EXPECT_EQ(PIPELINE_SLOT_BUDGET_BYTES, UINT64_MAX);
    }
}
