// AES against OpenSSL's AES on random keys of all three lengths, on every engine: single blocks in
// both directions, CBC runs of random lengths, and CBC lanes side by side. Native only.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/aes.h"
#include "tests/crypto/cipher_oracles.h"

namespace {

using namespace cipher_test;

constexpr int BLOCKS_PER_KEY_LENGTH = 300;
constexpr int CBC_RUNS_PER_KEY_LENGTH = 40;

const EVP_CIPHER* opensslAesCbc(size_t keyBytes) {
    switch (keyBytes) {
    case 16: return EVP_aes_128_cbc();
    case 24: return EVP_aes_192_cbc();
    default: return EVP_aes_256_cbc();
    }
}

class AesOracle : public ::testing::TestWithParam<AesEngine> {
protected:
    void SetUp() override {
        if (!aesEngineAvailable(GetParam())) GTEST_SKIP() << "the processor lacks this engine";
    }
};

TEST_P(AesOracle, MatchesOpensslOnRandomKeysAndBlocks) {
    const AesEngine engine = GetParam();
    SeededBytes random(0x41455321);
    forRandomKeysAndBlocks(random, BLOCKS_PER_KEY_LENGTH, [&](const Bytes& key, const Bytes& plaintext) {
        AesKeySchedule schedule;
        ASSERT_TRUE(aesSetKey(schedule, bufferOf(key)));

        Bytes block = plaintext;
        ASSERT_TRUE(aesEncryptBlock(schedule, block.data(), engine));
        ASSERT_EQ(toHex(block), toHex(opensslCrypt(opensslAesEcb(key.size()), key, {}, plaintext, true)));

        // An unrelated random block, so that decryption is checked on its own.
        const Bytes ciphertext = random.next(16);
        block = ciphertext;
        ASSERT_TRUE(aesDecryptBlock(schedule, block.data(), engine));
        ASSERT_EQ(toHex(block), toHex(opensslCrypt(opensslAesEcb(key.size()), key, {}, ciphertext, false)));
    });
}

TEST_P(AesOracle, CbcRunsMatchOpenssl) {
    const AesEngine engine = GetParam();
    SeededBytes random(0x41455322);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        for (int i = 0; i < CBC_RUNS_PER_KEY_LENGTH; ++i) {
            const Bytes key = random.next(keyBytes);
            const Bytes iv = random.next(16);
            const size_t blockCount = random.below(70);
            const Bytes plaintext = random.next(16 * blockCount);
            SCOPED_TRACE("key " + toHex(key) + ", " + std::to_string(blockCount) + " blocks");
            AesKeySchedule schedule;
            ASSERT_TRUE(aesSetKey(schedule, bufferOf(key)));

            Bytes ciphertext = plaintext;
            ASSERT_TRUE(aesCbcEncrypt(schedule, iv.data(), ciphertext.data(), blockCount, engine));
            ASSERT_EQ(toHex(ciphertext), toHex(opensslCrypt(opensslAesCbc(keyBytes), key, iv, plaintext, true)));

            // Decryption of unrelated random blocks.
            const Bytes input = random.next(16 * blockCount);
            Bytes output(input.size());
            ASSERT_TRUE(aesCbcDecrypt(schedule, iv.data(), input.data(), output.data(), blockCount, engine));
            ASSERT_EQ(toHex(output), toHex(opensslCrypt(opensslAesCbc(keyBytes), key, iv, input, false)));
        }
    }
}

// Random numbers of lanes of random lengths, each lane checked against OpenSSL on that chain alone.
TEST_P(AesOracle, CbcLanesMatchOpensslChains) {
    const AesEngine engine = GetParam();
    SeededBytes random(0x41455323);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        for (int i = 0; i < CBC_RUNS_PER_KEY_LENGTH; ++i) {
            const Bytes key = random.next(keyBytes);
            const size_t laneCount = 1 + random.below(20);
            SCOPED_TRACE("key " + toHex(key) + ", " + std::to_string(laneCount) + " lanes");
            AesKeySchedule schedule;
            ASSERT_TRUE(aesSetKey(schedule, bufferOf(key)));
            std::vector<Bytes> ivs;
            std::vector<Bytes> plaintexts;
            std::vector<Bytes> data;
            std::vector<CbcLane> lanes(laneCount);
            for (size_t l = 0; l < laneCount; ++l) {
                ivs.push_back(random.next(16));
                plaintexts.push_back(random.next(16 * random.below(70)));
                data.push_back(plaintexts[l]);
            }
            for (size_t l = 0; l < laneCount; ++l) {
                std::copy(ivs[l].begin(), ivs[l].end(), lanes[l].chainingBlock);
                lanes[l].data = data[l].data();
                lanes[l].blockCount = data[l].size() / 16;
            }
            ASSERT_TRUE(aesCbcEncryptLanes(schedule, lanes.data(), laneCount, engine));
            for (size_t l = 0; l < laneCount; ++l) {
                SCOPED_TRACE("lane " + std::to_string(l));
                ASSERT_EQ(toHex(data[l]),
                          toHex(opensslCrypt(opensslAesCbc(keyBytes), key, ivs[l], plaintexts[l], true)));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, AesOracle, ::testing::Values(AES_ENGINE_PORTABLE, AES_ENGINE_NI),
                         [](const ::testing::TestParamInfo<AesEngine>& info) {
                             return std::string(info.param == AES_ENGINE_NI ? "AesNi" : "Portable");
                         });

}  // namespace
