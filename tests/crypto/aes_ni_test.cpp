// The AES-NI engine against the portable one on random keys of every length and random data: runs
// of every length around the eight-block groups and of 1 MiB, at unaligned addresses, CBC in place
// and beside its input, and runs split at every block. Guard bytes around each output catch writes
// outside it. CBC encryption of several chains side by side against each chain alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "tests/crypto/cipher_test_support.h"

namespace {

using namespace cipher_test;

constexpr size_t GUARD_BYTES = 16;
constexpr uint8_t GUARD_VALUE = 0xa5;
// Up to two groups of eight blocks and a partial third.
constexpr size_t MAX_SHORT_BLOCKS = 20;
constexpr size_t MEBIBYTE_BLOCKS = (1u << 20) / 16;
const size_t OFFSETS[] = {0, 1, 7, 15};

// blockCount blocks at a chosen misalignment, between guard bytes.
class GuardedBlocks {
public:
    GuardedBlocks(const Bytes& content, size_t offset)
        : offset_(offset), size_(content.size()), storage_(offset + GUARD_BYTES + size_ + GUARD_BYTES, GUARD_VALUE) {
        std::copy(content.begin(), content.end(), data());
    }
    uint8_t* data() { return storage_.data() + offset_ + GUARD_BYTES; }
    Bytes bytes() const {
        const auto begin = storage_.begin() + static_cast<long>(offset_ + GUARD_BYTES);
        return Bytes(begin, begin + static_cast<long>(size_));
    }
    bool guardsIntact() const {
        for (size_t i = 0; i < GUARD_BYTES; ++i) {
            if (storage_[offset_ + i] != GUARD_VALUE || storage_[offset_ + GUARD_BYTES + size_ + i] != GUARD_VALUE)
                return false;
        }
        return true;
    }

private:
    size_t offset_;
    size_t size_;
    Bytes storage_;
};

class AesNiAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        if (!aesEngineAvailable(AES_ENGINE_NI)) GTEST_SKIP() << "the processor lacks AES-NI";
    }
};

// The portable engine's result for one operation, the reference for the fast one.
enum class Operation { ENCRYPT_EACH, DECRYPT_EACH, CBC_ENCRYPT, CBC_DECRYPT, CBC_DECRYPT_IN_PLACE };

const struct {
    const char* name;
    Operation operation;
} OPERATIONS[] = {
    {"each block encrypted", Operation::ENCRYPT_EACH},
    {"each block decrypted", Operation::DECRYPT_EACH},
    {"CBC encryption", Operation::CBC_ENCRYPT},
    {"CBC decryption", Operation::CBC_DECRYPT},
    {"CBC decryption in place", Operation::CBC_DECRYPT_IN_PLACE},
};

// Runs operation on input with engine; the result sits at a misaligned address between guards,
// whose damage fails the test.
Bytes run(Operation operation, AesEngine engine, const AesKeySchedule& schedule, const Bytes& iv, const Bytes& input,
          size_t offset) {
    const size_t blockCount = input.size() / 16;
    GuardedBlocks blocks(input, offset);
    bool ok = false;
    switch (operation) {
    case Operation::ENCRYPT_EACH: ok = aesEncryptBlocks(schedule, blocks.data(), blockCount, engine); break;
    case Operation::DECRYPT_EACH: {
        ok = true;
        for (size_t n = 0; n < blockCount; ++n) ok = ok && aesDecryptBlock(schedule, blocks.data() + 16 * n, engine);
        break;
    }
    case Operation::CBC_ENCRYPT: ok = aesCbcEncrypt(schedule, iv.data(), blocks.data(), blockCount, engine); break;
    case Operation::CBC_DECRYPT: {
        GuardedBlocks output(Bytes(input.size(), 0), (offset + 3) % 16);
        ok = aesCbcDecrypt(schedule, iv.data(), blocks.data(), output.data(), blockCount, engine);
        EXPECT_TRUE(output.guardsIntact());
        EXPECT_EQ(blocks.bytes(), input) << "the input is only read";
        return ok ? output.bytes() : Bytes();
    }
    case Operation::CBC_DECRYPT_IN_PLACE:
        ok = aesCbcDecrypt(schedule, iv.data(), blocks.data(), blocks.data(), blockCount, engine);
        break;
    }
    EXPECT_TRUE(blocks.guardsIntact());
    return ok ? blocks.bytes() : Bytes();
}

TEST_F(AesNiAgreement, EveryOperationOnRunsOfEveryShortLength) {
    SeededBytes random(0xae5a1);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        AesKeySchedule schedule;
        const Bytes key = random.next(keyBytes);
        ASSERT_TRUE(aesSetKey(schedule, bufferOf(key)));
        for (const auto& operation : OPERATIONS) {
            for (size_t blockCount = 0; blockCount <= MAX_SHORT_BLOCKS; ++blockCount) {
                const size_t offset = OFFSETS[blockCount % std::size(OFFSETS)];
                SCOPED_TRACE(std::string(operation.name) + ", key " + toHex(key) + ", " + std::to_string(blockCount) +
                             " blocks at offset " + std::to_string(offset));
                const Bytes iv = random.next(16);
                const Bytes input = random.next(16 * blockCount);
                const Bytes expected = run(operation.operation, AES_ENGINE_PORTABLE, schedule, iv, input, 0);
                ASSERT_EQ(toHex(run(operation.operation, AES_ENGINE_NI, schedule, iv, input, offset)), toHex(expected));
            }
        }
    }
}

TEST_F(AesNiAgreement, EveryOperationOnOneMebibyte) {
    SeededBytes random(0xae5a2);
    AesKeySchedule schedule;
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(random.next(32))));
    const Bytes iv = random.next(16);
    const Bytes input = random.next(16 * MEBIBYTE_BLOCKS);
    for (const auto& operation : OPERATIONS) {
        SCOPED_TRACE(operation.name);
        const Bytes expected = run(operation.operation, AES_ENGINE_PORTABLE, schedule, iv, input, 0);
        ASSERT_EQ(expected.size(), input.size());
        // Compared as bytes, not hex, and reported by the first differing block only.
        const Bytes actual = run(operation.operation, AES_ENGINE_NI, schedule, iv, input, 5);
        ASSERT_EQ(actual.size(), expected.size());
        const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
        EXPECT_TRUE(mismatch.first == actual.end())
            << "first difference in block " << (mismatch.first - actual.begin()) / 16;
    }
}

// A CBC run split in two, the second part chaining from the last ciphertext block of the first,
// equals the whole run; every split point of a run of three groups and a bit.
TEST_F(AesNiAgreement, CbcRunsSplitAtEveryBlock) {
    SeededBytes random(0xae5a3);
    AesKeySchedule schedule;
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(random.next(32))));
    const size_t blockCount = 27;
    const Bytes iv = random.next(16);
    const Bytes plaintext = random.next(16 * blockCount);
    Bytes whole = plaintext;
    ASSERT_TRUE(aesCbcEncrypt(schedule, iv.data(), whole.data(), blockCount, AES_ENGINE_NI));
    for (size_t split = 0; split <= blockCount; ++split) {
        SCOPED_TRACE(split);
        Bytes parts = plaintext;
        ASSERT_TRUE(aesCbcEncrypt(schedule, iv.data(), parts.data(), split, AES_ENGINE_NI));
        const Bytes middle = split == 0 ? iv
                                        : Bytes(parts.begin() + static_cast<long>(16 * split - 16),
                                                parts.begin() + static_cast<long>(16 * split));
        ASSERT_TRUE(
            aesCbcEncrypt(schedule, middle.data(), parts.data() + 16 * split, blockCount - split, AES_ENGINE_NI));
        ASSERT_EQ(toHex(parts), toHex(whole));

        Bytes decrypted(parts.size());
        ASSERT_TRUE(aesCbcDecrypt(schedule, iv.data(), parts.data(), decrypted.data(), split, AES_ENGINE_NI));
        ASSERT_TRUE(aesCbcDecrypt(schedule, middle.data(), parts.data() + 16 * split, decrypted.data() + 16 * split,
                                  blockCount - split, AES_ENGINE_NI));
        ASSERT_EQ(toHex(decrypted), toHex(plaintext));
    }
}

// Lane counts from one to past both lane widths (four on i686, eight on x86-64) with equal
// lengths, then unequal ones: empty lanes, one long lane among short ones, falling and random
// lengths, and more lanes than one stack batch of 64 holds.
struct LaneSetRow {
    std::string name;
    std::vector<size_t> blocks;  // per lane
};

std::vector<LaneSetRow> laneSets() {
    SeededBytes random(0xae5a4);
    std::vector<LaneSetRow> rows;
    for (size_t lanes = 1; lanes <= 17; ++lanes) {
        rows.push_back({std::to_string(lanes) + " equal lanes", std::vector<size_t>(lanes, 9)});
    }
    rows.push_back({"no lanes", {}});
    rows.push_back({"one empty lane", {0}});
    rows.push_back({"empty lanes among others", {0, 5, 0, 0, 7, 0, 3, 0, 0, 1}});
    rows.push_back({"one long among short", {300, 1, 2, 3, 4, 5, 6, 7, 8, 9}});
    rows.push_back({"two long among many short", {1, 2, 200, 3, 4, 5, 6, 7, 8, 9, 10, 11, 150}});
    rows.push_back({"falling lengths", {33, 31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1}});
    rows.push_back({"rising lengths", {1, 3, 5, 7, 9, 11, 13, 15, 17, 19}});
    LaneSetRow randomRow{"19 random lengths", {}};
    for (int i = 0; i < 19; ++i) randomRow.blocks.push_back(random.below(70));
    rows.push_back(randomRow);
    LaneSetRow manyRow{"150 random lengths, three batches", {}};
    for (int i = 0; i < 150; ++i) manyRow.blocks.push_back(random.below(24));
    rows.push_back(manyRow);
    return rows;
}

// Each lane of every set through aesCbcEncryptLanes on each engine, in place at its own
// misalignment between guards, equals that lane alone through the portable aesCbcEncrypt; its
// chaining block ends as the last ciphertext block (the IV for an empty lane), and its record's
// data and length stay.
TEST(CbcLanes, EachLaneEqualsItsChainAloneOnThePortableEngine) {
    SeededBytes random(0xae5a5);
    for (AesEngine engine : {AES_ENGINE_PORTABLE, AES_ENGINE_NI}) {
        if (!aesEngineAvailable(engine)) continue;
        for (const auto& row : laneSets()) {
            for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
                SCOPED_TRACE(std::string(engine == AES_ENGINE_NI ? "AES-NI, " : "portable, ") + row.name + ", " +
                             std::to_string(keyBytes) + "-byte key");
                AesKeySchedule schedule;
                ASSERT_TRUE(aesSetKey(schedule, bufferOf(random.next(keyBytes))));
                std::vector<Bytes> plaintexts;
                std::vector<Bytes> ivs;
                std::vector<GuardedBlocks> buffers;
                for (size_t i = 0; i < row.blocks.size(); ++i) {
                    plaintexts.push_back(random.next(16 * row.blocks[i]));
                    ivs.push_back(random.next(16));
                    buffers.emplace_back(plaintexts[i], i % 16);
                }
                std::vector<CbcLane> lanes(row.blocks.size());
                for (size_t i = 0; i < lanes.size(); ++i) {
                    std::copy(ivs[i].begin(), ivs[i].end(), lanes[i].chainingBlock);
                    lanes[i].data = buffers[i].data();
                    lanes[i].blockCount = row.blocks[i];
                }
                ASSERT_TRUE(aesCbcEncryptLanes(schedule, lanes.data(), lanes.size(), engine));
                for (size_t i = 0; i < lanes.size(); ++i) {
                    SCOPED_TRACE("lane " + std::to_string(i) + " of " + std::to_string(row.blocks[i]) + " blocks");
                    Bytes expected = plaintexts[i];
                    ASSERT_TRUE(
                        aesCbcEncrypt(schedule, ivs[i].data(), expected.data(), row.blocks[i], AES_ENGINE_PORTABLE));
                    const Bytes lastBlock = row.blocks[i] == 0 ? ivs[i] : Bytes(expected.end() - 16, expected.end());
                    EXPECT_EQ(toHex(buffers[i].bytes()), toHex(expected));
                    EXPECT_EQ(toHex(Bytes(lanes[i].chainingBlock, lanes[i].chainingBlock + 16)), toHex(lastBlock));
                    EXPECT_EQ(lanes[i].data, buffers[i].data());
                    EXPECT_EQ(lanes[i].blockCount, row.blocks[i]);
                    EXPECT_TRUE(buffers[i].guardsIntact());
                }
            }
        }
    }
}

// Two megabyte-sized lanes and a short one, the shape of a batch of chunks with a file's last
// chunk: the lanes' results as the chains alone.
TEST_F(AesNiAgreement, CbcLanesOfChunkSize) {
    SeededBytes random(0xae5a6);
    AesKeySchedule schedule;
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(random.next(32))));
    const size_t lengths[] = {MEBIBYTE_BLOCKS, MEBIBYTE_BLOCKS, 1000};
    std::vector<Bytes> plaintexts;
    std::vector<Bytes> ivs;
    std::vector<Bytes> buffers;
    CbcLane lanes[std::size(lengths)];
    for (size_t i = 0; i < std::size(lengths); ++i) {
        plaintexts.push_back(random.next(16 * lengths[i]));
        ivs.push_back(random.next(16));
        buffers.push_back(plaintexts[i]);
    }
    for (size_t i = 0; i < std::size(lengths); ++i) {
        std::copy(ivs[i].begin(), ivs[i].end(), lanes[i].chainingBlock);
        lanes[i].data = buffers[i].data();
        lanes[i].blockCount = lengths[i];
    }
    ASSERT_TRUE(aesCbcEncryptLanes(schedule, lanes, std::size(lanes), AES_ENGINE_NI));
    for (size_t i = 0; i < std::size(lengths); ++i) {
        SCOPED_TRACE(i);
        Bytes expected = plaintexts[i];
        ASSERT_TRUE(aesCbcEncrypt(schedule, ivs[i].data(), expected.data(), lengths[i], AES_ENGINE_PORTABLE));
        const auto mismatch = std::mismatch(buffers[i].begin(), buffers[i].end(), expected.begin());
        EXPECT_TRUE(mismatch.first == buffers[i].end())
            << "first difference in block " << (mismatch.first - buffers[i].begin()) / 16;
    }
}

}  // namespace
