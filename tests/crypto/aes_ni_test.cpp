// The AES-NI engine against the portable one on random keys of every length and random data: runs
// of every length around the eight-block groups and of 1 MiB, at unaligned addresses, CBC in place
// and beside its input, and runs split at every block. Guard bytes around each output catch writes
// outside it.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

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

}  // namespace
