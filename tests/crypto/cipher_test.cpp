// Cipher context: the padding rule, CBC lanes and decryption over the caller's memory, padded CBC, the
// count byte rules of decryption, the key stream, pool encryption,
// and what every operation leaves behind on a context that is not valid. Expected values are
// built here from the single-block functions; cipher_oracle_test.cpp compares with OpenSSL and
// libgcrypt.

#include "crypto/cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/crypto/cipher_test_support.h"

namespace {

using namespace cipher_test;

const char* const KEY_HEX = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const char* const IV_HEX = "f0e1d2c3b4a5968778695a4b3c2d1e0f";
const char* const ZERO_BLOCK_HEX = "00000000000000000000000000000000";

struct AlgorithmRow {
    const char* name;
    CipherAlgorithm algorithm;
};

const AlgorithmRow ALGORITHMS[] = {{"AES-256", CIPHER_AES256}, {"Serpent", CIPHER_SERPENT}};

// A valid context under KEY_HEX with the chaining block set to IV_HEX.
void initWithIv(CipherContext& ctx, CipherAlgorithm algorithm) {
    cipherInit(ctx, algorithm, bufferOf(fromHex(KEY_HEX)));
    ASSERT_TRUE(ctx.valid);
    cipherSetChainingBlock(ctx, fromHex(IV_HEX).data());
}

// One block through the block cipher module alone, as the reference for what the context does;
// AES on its portable engine, so that the context's fast engine is checked against it.
Bytes encryptSingleBlock(CipherAlgorithm algorithm, Bytes block) {
    const SecureBuffer key = bufferOf(fromHex(KEY_HEX));
    bool ok = false;
    if (algorithm == CIPHER_AES256) {
        AesKeySchedule schedule;
        ok = aesSetKey(schedule, key) && aesEncryptBlock(schedule, block.data(), AES_ENGINE_PORTABLE);
    } else {
        SerpentKeySchedule schedule;
        ok = serpentSetKey(schedule, key) && serpentEncryptBlock(schedule, block.data());
    }
    EXPECT_TRUE(ok);
    return block;
}

// The system's padding followed by CBC, built block by block.
Bytes referenceCbc(CipherAlgorithm algorithm, const Bytes& plaintext, const Bytes& iv) {
    Bytes padded = plaintext;
    const size_t padding = 16 - plaintext.size() % 16;
    padded.insert(padded.end(), padding - 1, 0);
    padded.push_back(static_cast<uint8_t>(padding));
    Bytes chain = iv;
    Bytes ciphertext;
    for (size_t offset = 0; offset < padded.size(); offset += 16) {
        Bytes block(padded.begin() + static_cast<long>(offset), padded.begin() + static_cast<long>(offset + 16));
        for (size_t i = 0; i < 16; ++i) block[i] ^= chain[i];
        chain = encryptSingleBlock(algorithm, block);
        ciphertext.insert(ciphertext.end(), chain.begin(), chain.end());
    }
    return ciphertext;
}

// Counter blocks 0..12: four copies of the counter as a 32-bit little-endian number.
const char* const COUNTER_BLOCKS_HEX[] = {
    "00000000000000000000000000000000", "01000000010000000100000001000000", "02000000020000000200000002000000",
    "03000000030000000300000003000000", "04000000040000000400000004000000", "05000000050000000500000005000000",
    "06000000060000000600000006000000", "07000000070000000700000007000000", "08000000080000000800000008000000",
    "09000000090000000900000009000000", "0a0000000a0000000a0000000a000000", "0b0000000b0000000b0000000b000000",
    "0c0000000c0000000c0000000c000000",
};

// --- Padding and CBC over the caller's memory ---

TEST(CipherPadding, PadAndCountByteRule) {
    const struct {
        uint32_t length;
        const char* paddingHex;  // what cipherPad writes behind the bytes
    } padRows[] = {
        {0, "00000000000000000000000000000010"},
        {15, "01"},
        {16, "00000000000000000000000000000010"},
        {17, "00000000000000000000000000000f"},
    };
    for (const auto& row : padRows) {
        SCOPED_TRACE(row.length);
        Bytes buffer(row.length + 32, 0xee);
        const uint32_t padded = cipherPad(buffer.data(), row.length);
        EXPECT_EQ(padded, cipherPaddedBytes(row.length));
        EXPECT_EQ(padded % 16, 0u);
        EXPECT_EQ(toHex(Bytes(buffer.begin() + row.length, buffer.begin() + padded)), row.paddingHex);
        EXPECT_EQ(buffer[padded], 0xee) << "nothing written beyond the padded length";
    }
    const struct {
        uint32_t length;
        uint8_t count;
        bool accepted;
        uint32_t kept;
    } countRows[] = {
        {16, 0, true, 16},  {16, 1, true, 15}, {16, 16, true, 0}, {16, 17, false, 0},
        {32, 16, true, 16}, {32, 5, true, 27}, {48, 0, true, 48}, {32, 255, false, 0},
    };
    for (const auto& row : countRows) {
        SCOPED_TRACE(std::to_string(row.length) + " bytes ending in " + std::to_string(row.count));
        Bytes plaintext(row.length, 0x10);
        plaintext.back() = row.count;
        uint32_t kept = 12345;
        EXPECT_EQ(cipherUnpaddedBytes(plaintext.data(), row.length, kept), row.accepted);
        EXPECT_EQ(kept, row.kept);
    }
}

// Lanes of different lengths, an empty one among them, each equal to its chain alone; and the
// decryption in place and into other memory gives each lane's plaintext back.
TEST(CipherLanes, EachLaneIsItsOwnChainAndDecryptsBack) {
    for (const AlgorithmRow& row : ALGORITHMS) {
        SCOPED_TRACE(row.name);
        CipherContext ctx;
        cipherInit(ctx, row.algorithm, bufferOf(fromHex(KEY_HEX)));
        ASSERT_TRUE(ctx.valid);
        SeededBytes random(7);
        const size_t blockCounts[] = {3, 0, 1, 40, 7, 2, 9, 1, 16, 5};
        std::vector<Bytes> plaintexts;
        std::vector<Bytes> ivs;
        std::vector<Bytes> data;
        std::vector<CbcLane> lanes(std::size(blockCounts));
        for (size_t i = 0; i < lanes.size(); ++i) {
            plaintexts.push_back(random.next(16 * blockCounts[i]));
            ivs.push_back(random.next(16));
            data.push_back(plaintexts.back());
        }
        for (size_t i = 0; i < lanes.size(); ++i) {
            std::memcpy(lanes[i].chainingBlock, ivs[i].data(), 16);
            lanes[i].data = data[i].data();
            lanes[i].blockCount = blockCounts[i];
        }
        ASSERT_TRUE(cipherCbcEncryptLanes(ctx, lanes.data(), lanes.size()));
        for (size_t i = 0; i < lanes.size(); ++i) {
            SCOPED_TRACE("lane " + std::to_string(i));
            // referenceCbc pads: its last block is the padding's, the lane has none.
            const Bytes expected = referenceCbc(row.algorithm, plaintexts[i], ivs[i]);
            EXPECT_EQ(toHex(data[i]), toHex(Bytes(expected.begin(), expected.end() - 16)));
            const Bytes last = blockCounts[i] == 0 ? ivs[i] : Bytes(data[i].end() - 16, data[i].end());
            EXPECT_EQ(toHex(Bytes(lanes[i].chainingBlock, lanes[i].chainingBlock + 16)), toHex(last));

            Bytes elsewhere(data[i].size(), 0);
            ASSERT_TRUE(cipherCbcDecrypt(ctx, ivs[i].data(), data[i].data(), elsewhere.data(), blockCounts[i]));
            EXPECT_EQ(elsewhere, plaintexts[i]);
            ASSERT_TRUE(cipherCbcDecrypt(ctx, ivs[i].data(), data[i].data(), data[i].data(), blockCounts[i]));
            EXPECT_EQ(data[i], plaintexts[i]);
        }
        cipherRelease(ctx);
    }
}

// --- Padded CBC ---

TEST(CipherPadded, EncryptsToPaddedLengthAndDecryptsBack) {
    const struct {
        uint32_t plaintextBytes;
        uint32_t ciphertextBytes;
    } rows[] = {{0, 16},    {1, 16},    {15, 16},   {16, 32},   {17, 32},   {31, 32},   {32, 48},
                {100, 112}, {127, 128}, {128, 144}, {129, 144}, {255, 256}, {256, 272}, {1000, 1008}};
    SeededBytes random(0xc0de0001);
    for (const auto& algorithm : ALGORITHMS) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(algorithm.name) + ", " + std::to_string(row.plaintextBytes) + " bytes");
            const Bytes plaintext = random.next(row.plaintextBytes);
            CipherContext ctx;
            initWithIv(ctx, algorithm.algorithm);
            SecureBuffer buffer = bufferOf(plaintext);
            ASSERT_TRUE(cipherEncryptPadded(ctx, buffer));
            EXPECT_EQ(buffer.size(), row.ciphertextBytes);
            EXPECT_EQ(toHex(ctx.chainingBlock), ZERO_BLOCK_HEX);

            cipherSetChainingBlock(ctx, fromHex(IV_HEX).data());
            ASSERT_TRUE(cipherDecryptPadded(ctx, buffer));
            EXPECT_EQ(toHex(buffer), toHex(plaintext));
            EXPECT_EQ(toHex(ctx.chainingBlock), ZERO_BLOCK_HEX);
        }
    }
}

// The empty plaintext is one block: E(IV ⊕ 00…00 10); longer ones chain each block into the next.
TEST(CipherPadded, MatchesPaddingAndChainingBuiltFromSingleBlocks) {
    SeededBytes random(0xc0de0002);
    for (const auto& algorithm : ALGORITHMS) {
        for (uint32_t length : {0u, 5u, 15u, 16u, 40u, 64u, 130u, 300u}) {
            SCOPED_TRACE(std::string(algorithm.name) + ", " + std::to_string(length) + " bytes");
            const Bytes plaintext = random.next(length);
            CipherContext ctx;
            initWithIv(ctx, algorithm.algorithm);
            SecureBuffer buffer = bufferOf(plaintext);
            ASSERT_TRUE(cipherEncryptPadded(ctx, buffer));
            EXPECT_EQ(toHex(buffer), toHex(referenceCbc(algorithm.algorithm, plaintext, fromHex(IV_HEX))));
        }
    }
}

// After an operation the chaining block is zero, so the next one without a fresh IV starts from
// a zero IV.
TEST(CipherPadded, NextOperationWithoutIvStartsFromZeroIv) {
    for (const auto& algorithm : ALGORITHMS) {
        SCOPED_TRACE(algorithm.name);
        const Bytes plaintext = fromHex("54686520717569636b2062726f776e20666f78");
        CipherContext ctx;
        initWithIv(ctx, algorithm.algorithm);
        SecureBuffer first = bufferOf(plaintext);
        ASSERT_TRUE(cipherEncryptPadded(ctx, first));
        SecureBuffer second = bufferOf(plaintext);
        ASSERT_TRUE(cipherEncryptPadded(ctx, second));
        EXPECT_EQ(toHex(first), toHex(referenceCbc(algorithm.algorithm, plaintext, fromHex(IV_HEX))));
        EXPECT_EQ(toHex(second), toHex(referenceCbc(algorithm.algorithm, plaintext, Bytes(16, 0))));

        cipherSetChainingBlock(ctx, fromHex(IV_HEX).data());
        ASSERT_TRUE(cipherDecryptPadded(ctx, first));
        ASSERT_TRUE(cipherDecryptPadded(ctx, second));
        EXPECT_EQ(toHex(first), toHex(plaintext));
        EXPECT_EQ(toHex(second), toHex(plaintext));
    }
}

// Decryption obeys the last byte c alone. The ciphertexts are the first blocks of a padded
// encryption: CBC's first n blocks decrypt to the first n plaintext blocks, so any plaintext,
// and so any last byte, can be made.
TEST(CipherPadded, DecryptionFollowsTheCountByte) {
    const struct {
        const char* name;
        uint32_t blocks;
        uint8_t lastByte;
        bool succeeds;
        uint32_t plaintextBytes;
    } rows[] = {
        {"c = 0 drops nothing", 2, 0, true, 32},
        {"c = 1", 1, 1, true, 15},
        {"c = 5, bytes in front not checked", 2, 5, true, 27},
        {"c = 16 in two blocks drops one block", 2, 16, true, 16},
        {"c = 16 in one block leaves nothing", 1, 16, true, 0},
        {"c = 17 fails", 1, 17, false, 0},
        {"c = 17 fails in two blocks", 2, 17, false, 0},
        {"c = 255 fails", 2, 255, false, 0},
    };
    SeededBytes random(0xc0de0003);
    for (const auto& algorithm : ALGORITHMS) {
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(algorithm.name) + ", " + row.name);
            // Random bytes in front of the count byte: none of them may matter.
            Bytes plaintext = random.next(16 * row.blocks);
            plaintext.back() = row.lastByte;

            CipherContext ctx;
            initWithIv(ctx, algorithm.algorithm);
            SecureBuffer padded = bufferOf(plaintext);
            ASSERT_TRUE(cipherEncryptPadded(ctx, padded));
            SecureBuffer ciphertext = padded.slice(16 * row.blocks, 0);
            const std::string ciphertextHex = toHex(ciphertext);

            cipherSetChainingBlock(ctx, fromHex(IV_HEX).data());
            ASSERT_EQ(cipherDecryptPadded(ctx, ciphertext), row.succeeds);
            EXPECT_EQ(toHex(ctx.chainingBlock), ZERO_BLOCK_HEX);
            if (row.succeeds) {
                EXPECT_EQ(toHex(ciphertext), toHex(Bytes(plaintext.begin(), plaintext.begin() + row.plaintextBytes)));
            } else {
                EXPECT_EQ(toHex(ciphertext), ciphertextHex);
            }
        }
    }
}

TEST(CipherPadded, RefusesLengthsThatAreNotWholeBlocks) {
    for (const auto& algorithm : ALGORITHMS) {
        for (uint32_t length : {1u, 15u, 17u, 20u, 33u}) {
            SCOPED_TRACE(std::string(algorithm.name) + ", " + std::to_string(length) + " bytes");
            CipherContext ctx;
            initWithIv(ctx, algorithm.algorithm);
            const Bytes ciphertext = Bytes(length, 0xa5);
            SecureBuffer buffer = bufferOf(ciphertext);
            EXPECT_FALSE(cipherDecryptPadded(ctx, buffer));
            EXPECT_EQ(toHex(buffer), toHex(ciphertext));
            EXPECT_EQ(toHex(ctx.chainingBlock), IV_HEX);
        }
    }
}

// An empty ciphertext has no count byte; reading it is the buffer layer's index failure.
TEST(CipherPadded, EmptyCiphertextThrowsTheBufferLayersZero) {
    for (const auto& algorithm : ALGORITHMS) {
        SCOPED_TRACE(algorithm.name);
        CipherContext ctx;
        initWithIv(ctx, algorithm.algorithm);
        SecureBuffer buffer;
        bool threwZero = false;
        try {
            (void)cipherDecryptPadded(ctx, buffer);
        } catch (int thrown) {
            threwZero = thrown == 0;
        }
        EXPECT_TRUE(threwZero);
        EXPECT_TRUE(buffer.empty());
    }
}

// --- Key stream and pool ---

TEST(CipherKeystream, IsTheEncryptedCountersCutToLength) {
    for (const auto& algorithm : ALGORITHMS) {
        for (uint32_t length : {64u, 20u, 0u, 1u, 16u, 17u, 33u, 80u, 144u, 200u}) {
            SCOPED_TRACE(std::string(algorithm.name) + ", " + std::to_string(length) + " bytes");
            Bytes expected;
            for (uint32_t i = 0; expected.size() < length; ++i) {
                const Bytes block = encryptSingleBlock(algorithm.algorithm, fromHex(COUNTER_BLOCKS_HEX[i]));
                expected.insert(expected.end(), block.begin(), block.end());
            }
            expected.resize(length);

            CipherContext ctx;
            initWithIv(ctx, algorithm.algorithm);
            SecureBuffer out = bufferOf(fromHex("deadbeefdeadbeefdeadbeefdeadbeefdeadbeef"));
            ASSERT_TRUE(cipherKeystream(ctx, out, length));
            EXPECT_EQ(toHex(out), toHex(expected));
            EXPECT_EQ(toHex(ctx.chainingBlock), IV_HEX);
        }
    }
}

// Counter block 0 is the zero block, so with AES the stream starts with the AES-256 encryption of
// the zero block; under the zero key that is dc95c078… (cipher_oracle_test.cpp confirms the value
// with OpenSSL).
TEST(CipherKeystream, AesStreamStartsWithEncryptionOfZeroBlock) {
    CipherContext ctx;
    cipherInit(ctx, CIPHER_AES256, SecureBuffer::zeros(32));
    SecureBuffer out;
    ASSERT_TRUE(cipherKeystream(ctx, out, 16));
    EXPECT_EQ(toHex(out), "dc95c078a2408989ad48a21492842087");
}

TEST(CipherPool, EncryptsEachBlockOnItsOwnAndStaysInside) {
    SeededBytes random(0xc0de0004);
    for (const auto& algorithm : ALGORITHMS) {
        SCOPED_TRACE(algorithm.name);
        // One extra block behind the pool must stay as it was.
        Bytes region = random.next(CIPHER_POOL_BYTES + 16);
        const Bytes original = region;
        CipherContext ctx;
        initWithIv(ctx, algorithm.algorithm);
        ASSERT_TRUE(cipherEncryptPool(ctx, region.data()));
        for (size_t offset = 0; offset < CIPHER_POOL_BYTES; offset += 16) {
            const Bytes block(original.begin() + static_cast<long>(offset),
                              original.begin() + static_cast<long>(offset + 16));
            ASSERT_EQ(toHex(region.data() + offset, 16), toHex(encryptSingleBlock(algorithm.algorithm, block)))
                << "block " << offset / 16;
        }
        EXPECT_EQ(toHex(region.data() + CIPHER_POOL_BYTES, 16), toHex(original.data() + CIPHER_POOL_BYTES, 16));
        EXPECT_EQ(toHex(ctx.chainingBlock), IV_HEX);
    }
}

// --- Contexts that are not valid ---

TEST(CipherContextState, InitSetsModeAndZeroChainingBlock) {
    for (const auto& algorithm : ALGORITHMS) {
        SCOPED_TRACE(algorithm.name);
        CipherContext ctx;
        initWithIv(ctx, algorithm.algorithm);
        cipherInit(ctx, algorithm.algorithm, bufferOf(fromHex(KEY_HEX)));
        EXPECT_TRUE(ctx.valid);
        EXPECT_EQ(ctx.mode, CIPHER_MODE_CBC);
        EXPECT_EQ(ctx.algorithm, algorithm.algorithm);
        EXPECT_EQ(toHex(ctx.chainingBlock), ZERO_BLOCK_HEX);
        EXPECT_EQ(ctx.aes.valid, algorithm.algorithm == CIPHER_AES256);
        EXPECT_EQ(ctx.serpent.valid, algorithm.algorithm == CIPHER_SERPENT);
    }
}

// Keying a context again for the other cipher leaves no schedule of the first one behind.
TEST(CipherContextState, ReinitWithOtherAlgorithmDropsTheOldSchedule) {
    CipherContext ctx;
    cipherInit(ctx, CIPHER_AES256, bufferOf(fromHex(KEY_HEX)));
    cipherInit(ctx, CIPHER_SERPENT, bufferOf(fromHex(KEY_HEX)));
    EXPECT_TRUE(ctx.valid);
    EXPECT_FALSE(ctx.aes.valid);
    EXPECT_TRUE(ctx.aes.encryptionRoundKeys.empty());
    EXPECT_TRUE(ctx.aes.decryptionRoundKeys.empty());
    cipherInit(ctx, CIPHER_AES256, bufferOf(fromHex(KEY_HEX)));
    EXPECT_FALSE(ctx.serpent.valid);
    EXPECT_TRUE(ctx.serpent.subkeys.empty());
}

void makeReleasedContext(CipherContext& ctx, CipherAlgorithm algorithm, uint32_t keyBytes) {
    cipherInit(ctx, algorithm, SecureBuffer::zeros(keyBytes));
    cipherRelease(ctx);
}

void makeInitialisedContext(CipherContext& ctx, CipherAlgorithm algorithm, uint32_t keyBytes) {
    cipherInit(ctx, algorithm, SecureBuffer::zeros(keyBytes));
}

TEST(CipherContextState, ContextNotValidFailsEveryOperationAsDocumented) {
    const struct {
        const char* name;
        CipherAlgorithm algorithm;
        uint32_t keyBytes;
        void (*make)(CipherContext&, CipherAlgorithm, uint32_t);
    } rows[] = {
        {"AES, 20-byte key", CIPHER_AES256, 20, makeInitialisedContext},
        {"Serpent, 20-byte key", CIPHER_SERPENT, 20, makeInitialisedContext},
        {"AES, empty key", CIPHER_AES256, 0, makeInitialisedContext},
        {"Serpent, 33-byte key", CIPHER_SERPENT, 33, makeInitialisedContext},
        {"algorithm 2, 32-byte key", static_cast<CipherAlgorithm>(2), 32, makeInitialisedContext},
        {"algorithm 0xffffffff, 32-byte key", static_cast<CipherAlgorithm>(0xffffffffu), 32, makeInitialisedContext},
        {"AES, released", CIPHER_AES256, 32, makeReleasedContext},
        {"Serpent, released", CIPHER_SERPENT, 32, makeReleasedContext},
        {"never initialised", CIPHER_AES256, 32, [](CipherContext&, CipherAlgorithm, uint32_t) {}},
    };
    const Bytes data = fromHex("00112233445566778899aabbccddeeff0123456789abcdef0123456789abcdef");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CipherContext ctx;
        row.make(ctx, row.algorithm, row.keyBytes);
        EXPECT_FALSE(ctx.valid);

        SecureBuffer plaintext = bufferOf(data);
        EXPECT_FALSE(cipherEncryptPadded(ctx, plaintext));
        EXPECT_TRUE(plaintext.empty());

        SecureBuffer ciphertext = bufferOf(data);
        EXPECT_FALSE(cipherDecryptPadded(ctx, ciphertext));
        EXPECT_EQ(toHex(ciphertext), toHex(data));

        SecureBuffer stream = bufferOf(data);
        EXPECT_FALSE(cipherKeystream(ctx, stream, 64));
        EXPECT_EQ(toHex(stream), toHex(data));

        Bytes region(CIPHER_POOL_BYTES, 0x5a);
        EXPECT_FALSE(cipherEncryptPool(ctx, region.data()));
        EXPECT_EQ(region, Bytes(CIPHER_POOL_BYTES, 0x5a));

        // Lanes of a context that cannot encrypt are zeroed, not left as plaintext.
        Bytes laneData = data;
        CbcLane lane{};
        std::memset(lane.chainingBlock, 0x77, sizeof lane.chainingBlock);
        lane.data = laneData.data();
        lane.blockCount = laneData.size() / CIPHER_BLOCK_BYTES;
        EXPECT_FALSE(cipherCbcEncryptLanes(ctx, &lane, 1));
        EXPECT_EQ(laneData, Bytes(data.size(), 0));
        EXPECT_EQ(Bytes(lane.chainingBlock, lane.chainingBlock + 16), Bytes(16, 0));

        Bytes decrypted = data;
        const Bytes iv = fromHex(IV_HEX);
        EXPECT_FALSE(cipherCbcDecrypt(ctx, iv.data(), decrypted.data(), decrypted.data(), decrypted.size() / 16));
        EXPECT_EQ(decrypted, data);
    }
}

// Everything a context obtained goes back zeroed by cipherRelease, while the context itself
// still exists; and the context can be keyed again afterwards.
TEST(CipherContextState, ReleaseGivesBackAllMemoryZeroed) {
    for (const auto& algorithm : ALGORITHMS) {
        SCOPED_TRACE(algorithm.name);
        AllocationAudit audit;
        {
            CipherContext ctx;
            {
                const SecureBuffer key = bufferOf(fromHex(KEY_HEX));
                cipherInit(ctx, algorithm.algorithm, key);
                cipherSetChainingBlock(ctx, fromHex(IV_HEX).data());
                SecureBuffer data = bufferOf(fromHex("0123456789"));
                ASSERT_TRUE(cipherEncryptPadded(ctx, data));
            }
            EXPECT_GT(AllocationAudit::outstanding(), 0);
            cipherRelease(ctx);
            EXPECT_EQ(AllocationAudit::outstanding(), 0);
            EXPECT_FALSE(ctx.valid);

            cipherInit(ctx, algorithm.algorithm, SecureBuffer::zeros(32));
            EXPECT_TRUE(ctx.valid);
        }
        EXPECT_EQ(AllocationAudit::outstanding(), 0);
        EXPECT_EQ(AllocationAudit::releasedWithData(), 0);
    }
}

}  // namespace
