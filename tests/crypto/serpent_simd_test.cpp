// Serpent on many blocks: every path (portable loop, SSE2, AVX2) against the NESSIE vectors at
// every block position of a group, and against crypto/serpent.h block by block on random keys,
// counts around the group sizes, unaligned buffers, CBC decryption and CBC lanes of unequal
// lengths. A path the processor lacks is skipped.

#include "crypto/serpent_simd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/cpu_features.h"
#include "tests/crypto/cipher_test_support.h"
#include "tests/crypto/serpent_vectors.h"

namespace {

using namespace cipher_test;

constexpr size_t BLOCK = SERPENT_BLOCK_BYTES;
// Counts 0..33 reach every tail of both group sizes and several whole groups; the large count
// runs the main loops for long, ending on an odd tail.
constexpr size_t LARGE_COUNT = 4099;
// Bytes around every buffer handed to the code under test, which must stay as they were.
constexpr size_t GUARD_BYTES = 32;

// --- Portable references, built on the single-block functions ---

Bytes portableEncrypt(const SerpentKeySchedule& schedule, Bytes data) {
    for (size_t i = 0; i < data.size(); i += BLOCK) EXPECT_TRUE(serpentEncryptBlock(schedule, data.data() + i));
    return data;
}

Bytes portableDecrypt(const SerpentKeySchedule& schedule, Bytes data) {
    for (size_t i = 0; i < data.size(); i += BLOCK) EXPECT_TRUE(serpentDecryptBlock(schedule, data.data() + i));
    return data;
}

Bytes portableCbcDecrypt(const SerpentKeySchedule& schedule, Bytes iv, const Bytes& ciphertext) {
    Bytes plaintext(ciphertext.size());
    for (size_t i = 0; i < ciphertext.size(); i += BLOCK) {
        uint8_t block[BLOCK];
        std::memcpy(block, ciphertext.data() + i, BLOCK);
        EXPECT_TRUE(serpentDecryptBlock(schedule, block));
        for (size_t j = 0; j < BLOCK; ++j) plaintext[i + j] = block[j] ^ iv[j];
        iv.assign(ciphertext.begin() + static_cast<std::ptrdiff_t>(i),
                  ciphertext.begin() + static_cast<std::ptrdiff_t>(i + BLOCK));
    }
    return plaintext;
}

// Returns the ciphertext; iv becomes the last ciphertext block.
Bytes portableCbcEncrypt(const SerpentKeySchedule& schedule, Bytes& iv, const Bytes& plaintext) {
    Bytes ciphertext(plaintext.size());
    for (size_t i = 0; i < plaintext.size(); i += BLOCK) {
        uint8_t block[BLOCK];
        for (size_t j = 0; j < BLOCK; ++j) block[j] = plaintext[i + j] ^ iv[j];
        EXPECT_TRUE(serpentEncryptBlock(schedule, block));
        std::memcpy(ciphertext.data() + i, block, BLOCK);
        iv.assign(block, block + BLOCK);
    }
    return ciphertext;
}

SerpentKeySchedule scheduleOf(const Bytes& key) {
    SerpentKeySchedule schedule;
    EXPECT_TRUE(serpentSetKey(schedule, bufferOf(key)));
    return schedule;
}

// A buffer at a given misalignment with guard bytes on both sides, for checking that the code
// under test writes exactly its own bytes.
class GuardedBuffer {
public:
    GuardedBuffer(const Bytes& contents, size_t misalignment)
        : storage_(contents.size() + 2 * GUARD_BYTES + misalignment + 64, 0xa5), size_(contents.size()) {
        // The storage's own alignment varies, so the offset is taken from its address.
        const auto address = reinterpret_cast<uintptr_t>(storage_.data() + GUARD_BYTES);
        offset_ = GUARD_BYTES + (64 - address % 64) % 64 + misalignment;
        if (size_ != 0) std::memcpy(data(), contents.data(), size_);
    }
    uint8_t* data() { return storage_.data() + offset_; }
    Bytes contents() const {
        return Bytes(storage_.begin() + static_cast<std::ptrdiff_t>(offset_),
                     storage_.begin() + static_cast<std::ptrdiff_t>(offset_ + size_));
    }
    bool guardsIntact() const {
        for (size_t i = 0; i < storage_.size(); ++i) {
            if ((i < offset_ || i >= offset_ + size_) && storage_[i] != 0xa5) return false;
        }
        return true;
    }

private:
    Bytes storage_;
    size_t size_;
    size_t offset_ = 0;
};

std::vector<size_t> testCounts() {
    std::vector<size_t> counts;
    for (size_t count = 0; count <= 33; ++count) counts.push_back(count);
    counts.push_back(LARGE_COUNT);
    return counts;
}

struct PathRow {
    const char* name;
    SerpentEngine path;
};

const PathRow PATHS[] = {
    {"Portable", SERPENT_ENGINE_PORTABLE},
    {"Sse2", SERPENT_ENGINE_SSE2},
    {"Avx2", SERPENT_ENGINE_AVX2},
};

class SerpentSimdPath : public ::testing::TestWithParam<PathRow> {
protected:
    void SetUp() override {
        if (!serpentEngineAvailable(path())) GTEST_SKIP() << GetParam().name << " is not available here";
    }
    SerpentEngine path() const { return GetParam().path; }
};

// Each NESSIE row at every position of a run long enough for two whole groups of either width and
// a tail, with random blocks around it: every lane of a group must compute the published cipher.
TEST_P(SerpentSimdPath, NessieVectorsAtEveryBlockPosition) {
    SeededBytes random(0x51d0001);
    for (const auto& row : NESSIE_SERPENT_VECTORS) {
        SCOPED_TRACE(row.name);
        const SerpentKeySchedule schedule = scheduleOf(reversed(fromHex(row.key)));
        const Bytes plaintext = fromHex(row.plaintext);
        const Bytes ciphertext = fromHex(row.ciphertext);
        for (size_t count : {size_t{16}, size_t{21}}) {
            for (size_t position = 0; position < count; ++position) {
                SCOPED_TRACE("block " + std::to_string(position) + " of " + std::to_string(count));
                Bytes blocks = random.next(BLOCK * count);
                std::memcpy(blocks.data() + BLOCK * position, plaintext.data(), BLOCK);
                ASSERT_TRUE(serpentEncryptBlocksOn(path(), schedule, blocks.data(), count));
                EXPECT_EQ(toHex(blocks.data() + BLOCK * position, BLOCK), row.ciphertext);

                std::memcpy(blocks.data() + BLOCK * position, ciphertext.data(), BLOCK);
                ASSERT_TRUE(serpentDecryptBlocksOn(path(), schedule, blocks.data(), count));
                EXPECT_EQ(toHex(blocks.data() + BLOCK * position, BLOCK), row.plaintext);
            }
        }
    }
}

TEST_P(SerpentSimdPath, BlocksMatchPortableForEveryKeyLengthCountAndAlignment) {
    SeededBytes random(0x51d0002);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        const SerpentKeySchedule schedule = scheduleOf(random.next(keyBytes));
        for (size_t count : testCounts()) {
            const size_t misalignment = count % 16;
            SCOPED_TRACE(std::to_string(keyBytes) + "-byte key, " + std::to_string(count) + " blocks at offset " +
                         std::to_string(misalignment));
            const Bytes plaintext = random.next(BLOCK * count);
            const Bytes ciphertext = portableEncrypt(schedule, plaintext);

            GuardedBuffer buffer(plaintext, misalignment);
            ASSERT_TRUE(serpentEncryptBlocksOn(path(), schedule, buffer.data(), count));
            EXPECT_EQ(toHex(buffer.contents()), toHex(ciphertext));
            EXPECT_TRUE(buffer.guardsIntact());

            ASSERT_TRUE(serpentDecryptBlocksOn(path(), schedule, buffer.data(), count));
            EXPECT_EQ(toHex(buffer.contents()), toHex(plaintext));
            EXPECT_TRUE(buffer.guardsIntact());

            // Decryption on its own, of blocks that are not an encryption's output.
            GuardedBuffer other(plaintext, misalignment);
            ASSERT_TRUE(serpentDecryptBlocksOn(path(), schedule, other.data(), count));
            EXPECT_EQ(toHex(other.contents()), toHex(portableDecrypt(schedule, plaintext)));
        }
    }
}

TEST_P(SerpentSimdPath, CbcDecryptMatchesPortableInPlaceAndIntoAnotherBuffer) {
    SeededBytes random(0x51d0003);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        const SerpentKeySchedule schedule = scheduleOf(random.next(keyBytes));
        for (size_t count : testCounts()) {
            const size_t misalignment = (count * 7) % 16;
            SCOPED_TRACE(std::to_string(keyBytes) + "-byte key, " + std::to_string(count) + " blocks at offset " +
                         std::to_string(misalignment));
            const Bytes iv = random.next(BLOCK);
            const Bytes ciphertext = random.next(BLOCK * count);
            const Bytes expected = portableCbcDecrypt(schedule, iv, ciphertext);
            const Bytes expectedIv =
                count == 0 ? iv : Bytes(ciphertext.end() - static_cast<std::ptrdiff_t>(BLOCK), ciphertext.end());

            Bytes chaining = iv;
            GuardedBuffer inPlace(ciphertext, misalignment);
            ASSERT_TRUE(
                serpentCbcDecryptOn(path(), schedule, chaining.data(), inPlace.data(), inPlace.data(), BLOCK * count));
            EXPECT_EQ(toHex(inPlace.contents()), toHex(expected));
            EXPECT_EQ(toHex(chaining), toHex(expectedIv));
            EXPECT_TRUE(inPlace.guardsIntact());

            chaining = iv;
            GuardedBuffer source(ciphertext, misalignment);
            GuardedBuffer target(Bytes(BLOCK * count, 0), (misalignment + 5) % 16);
            ASSERT_TRUE(
                serpentCbcDecryptOn(path(), schedule, chaining.data(), source.data(), target.data(), BLOCK * count));
            EXPECT_EQ(toHex(target.contents()), toHex(expected));
            EXPECT_EQ(toHex(source.contents()), toHex(ciphertext));
            EXPECT_EQ(toHex(chaining), toHex(expectedIv));
            EXPECT_TRUE(target.guardsIntact());
            EXPECT_TRUE(source.guardsIntact());
        }
    }
}

// The chaining block carries the chain from one call to the next, whatever the split.
TEST_P(SerpentSimdPath, CbcDecryptSplitAtEveryBlockEqualsOneCall) {
    SeededBytes random(0x51d0004);
    const SerpentKeySchedule schedule = scheduleOf(random.next(32));
    const size_t count = 37;
    const Bytes iv = random.next(BLOCK);
    const Bytes ciphertext = random.next(BLOCK * count);
    const Bytes expected = portableCbcDecrypt(schedule, iv, ciphertext);
    for (size_t split = 0; split <= count; ++split) {
        SCOPED_TRACE("split after block " + std::to_string(split));
        Bytes chaining = iv;
        Bytes data = ciphertext;
        ASSERT_TRUE(serpentCbcDecryptOn(path(), schedule, chaining.data(), data.data(), data.data(), BLOCK * split));
        ASSERT_TRUE(serpentCbcDecryptOn(path(), schedule, chaining.data(), data.data() + BLOCK * split,
                                        data.data() + BLOCK * split, BLOCK * (count - split)));
        EXPECT_EQ(toHex(data), toHex(expected));
    }
}

struct LaneSetRow {
    const char* name;
    std::vector<size_t> blocks;  // per lane
};

// Lane counts below, at and above both group widths and above one scheduling batch; lengths equal,
// unequal, empty, and one long lane among short ones.
std::vector<LaneSetRow> laneSets() {
    SeededBytes random(0x51d0005);
    std::vector<LaneSetRow> rows = {
        {"no lanes", {}},
        {"one empty lane", {0}},
        {"one lane", {37}},
        {"three lanes, one empty", {5, 0, 7}},
        {"four equal lanes", {20, 20, 20, 20}},
        {"eight equal lanes", std::vector<size_t>(8, 17)},
        {"nine equal lanes", std::vector<size_t>(9, 40)},
        {"twelve equal lanes", std::vector<size_t>(12, 50)},
        {"one long among short", {300, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"falling lengths", {33, 31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1}},
    };
    LaneSetRow randomRow{"19 random lengths", {}};
    for (int i = 0; i < 19; ++i) randomRow.blocks.push_back(random.below(70));
    rows.push_back(randomRow);
    LaneSetRow manyRow{"70 random lengths, three batches", {}};
    for (int i = 0; i < 70; ++i) manyRow.blocks.push_back(random.below(24));
    rows.push_back(manyRow);
    return rows;
}

TEST_P(SerpentSimdPath, CbcLanesMatchSeparatePortableChains) {
    SeededBytes random(0x51d0006);
    for (const auto& row : laneSets()) {
        for (size_t keyBytes : {size_t{16}, size_t{32}}) {
            SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(keyBytes) + "-byte key");
            const SerpentKeySchedule schedule = scheduleOf(random.next(keyBytes));
            std::vector<Bytes> plaintexts;
            std::vector<Bytes> ivs;
            std::vector<GuardedBuffer> buffers;
            std::vector<CbcLane> lanes(row.blocks.size());
            for (size_t i = 0; i < row.blocks.size(); ++i) {
                plaintexts.push_back(random.next(BLOCK * row.blocks[i]));
                ivs.push_back(random.next(BLOCK));
                buffers.emplace_back(plaintexts[i], i % 16);
            }
            for (size_t i = 0; i < lanes.size(); ++i) {
                std::memcpy(lanes[i].chainingBlock, ivs[i].data(), BLOCK);
                lanes[i].data = buffers[i].data();
                lanes[i].blockCount = row.blocks[i];
            }
            ASSERT_TRUE(serpentCbcEncryptLanesOn(path(), schedule, lanes.data(), lanes.size()));
            for (size_t i = 0; i < lanes.size(); ++i) {
                SCOPED_TRACE("lane " + std::to_string(i) + " of " + std::to_string(row.blocks[i]) + " blocks");
                Bytes chaining = ivs[i];
                const Bytes expected = portableCbcEncrypt(schedule, chaining, plaintexts[i]);
                EXPECT_EQ(toHex(buffers[i].contents()), toHex(expected));
                EXPECT_EQ(toHex(lanes[i].chainingBlock, BLOCK), toHex(chaining));
                EXPECT_EQ(lanes[i].data, buffers[i].data());
                EXPECT_EQ(lanes[i].blockCount, row.blocks[i]);
                EXPECT_TRUE(buffers[i].guardsIntact());
            }
        }
    }
}

TEST_P(SerpentSimdPath, ScheduleNotValidZeroesEncryptionsAndKeepsDecryptions) {
    SerpentKeySchedule schedule;
    ASSERT_TRUE(serpentSetKey(schedule, SecureBuffer::zeros(32)));
    serpentWipe(schedule);
    SeededBytes random(0x51d0007);
    const Bytes original = random.next(BLOCK * 13);
    const Bytes iv = random.next(BLOCK);
    const Bytes zeros(original.size(), 0);

    Bytes data = original;
    EXPECT_FALSE(serpentEncryptBlocksOn(path(), schedule, data.data(), 13));
    EXPECT_EQ(data, zeros);

    data = original;
    EXPECT_FALSE(serpentDecryptBlocksOn(path(), schedule, data.data(), 13));
    EXPECT_EQ(data, original);

    Bytes chaining = iv;
    EXPECT_FALSE(serpentCbcDecryptOn(path(), schedule, chaining.data(), data.data(), data.data(), data.size()));
    EXPECT_EQ(data, original);
    EXPECT_EQ(chaining, iv);

    // The second lane covers only the first 5 of its buffer's 13 blocks.
    Bytes second = original;
    data = original;
    CbcLane lanes[2] = {CbcLane{{}, data.data(), 13}, CbcLane{{}, second.data(), 5}};
    for (auto& lane : lanes) std::memcpy(lane.chainingBlock, iv.data(), BLOCK);
    EXPECT_FALSE(serpentCbcEncryptLanesOn(path(), schedule, lanes, 2));
    EXPECT_EQ(data, zeros);
    EXPECT_EQ(toHex(second.data(), BLOCK * 5), toHex(zeros.data(), BLOCK * 5));
    EXPECT_EQ(toHex(second.data() + BLOCK * 5, BLOCK * 8), toHex(original.data() + BLOCK * 5, BLOCK * 8));
    for (const auto& lane : lanes) EXPECT_EQ(toHex(lane.chainingBlock, BLOCK), toHex(zeros.data(), BLOCK));
}

TEST_P(SerpentSimdPath, LengthsThatAreNotWholeBlocksAreRefusedUnchanged) {
    SeededBytes random(0x51d0008);
    const SerpentKeySchedule schedule = scheduleOf(random.next(32));
    const Bytes original = random.next(BLOCK * 4);
    const Bytes iv = random.next(BLOCK);
    for (size_t length : {size_t{1}, size_t{15}, size_t{17}, size_t{63}}) {
        SCOPED_TRACE(length);
        Bytes data = original;
        Bytes chaining = iv;
        EXPECT_FALSE(serpentCbcDecryptOn(path(), schedule, chaining.data(), data.data(), data.data(), length));
        EXPECT_EQ(data, original);
        EXPECT_EQ(chaining, iv);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SerpentSimdPath, ::testing::ValuesIn(PATHS),
                         [](const ::testing::TestParamInfo<PathRow>& info) { return std::string(info.param.name); });

TEST(SerpentSimd, PathsFollowTheProcessorFeatures) {
    const CpuFeatures& features = cpuFeatures();
    EXPECT_TRUE(serpentEngineAvailable(SERPENT_ENGINE_PORTABLE));
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(serpentEngineAvailable(SERPENT_ENGINE_SSE2), features.sse2);
    EXPECT_EQ(serpentEngineAvailable(SERPENT_ENGINE_AVX2), features.sse2 && features.avx2);
#else
    EXPECT_FALSE(serpentEngineAvailable(SERPENT_ENGINE_SSE2));
    EXPECT_FALSE(serpentEngineAvailable(SERPENT_ENGINE_AVX2));
#endif
    const SerpentEngine best = serpentPreferredEngine();
    EXPECT_TRUE(serpentEngineAvailable(best));
    if (serpentEngineAvailable(SERPENT_ENGINE_AVX2)) {
        EXPECT_EQ(best, SERPENT_ENGINE_AVX2);
    }
}

// Hides processor features from the paths while it lives.
class HiddenCpuFeatures {
public:
    explicit HiddenCpuFeatures(const CpuFeatures& hidden) : previous_(serpentHideCpuFeatures(hidden)) {}
    ~HiddenCpuFeatures() { serpentHideCpuFeatures(previous_); }
    HiddenCpuFeatures(const HiddenCpuFeatures&) = delete;
    HiddenCpuFeatures& operator=(const HiddenCpuFeatures&) = delete;

private:
    CpuFeatures previous_;
};

CpuFeatures featuresWith(bool sse2, bool avx2) {
    CpuFeatures features;
    features.sse2 = sse2;
    features.avx2 = avx2;
    return features;
}

// Every function on path refuses, reading and writing nothing.
void expectRefusedWithoutWriting(SerpentEngine path, const SerpentKeySchedule& schedule, const Bytes& original,
                                 const Bytes& iv) {
    SCOPED_TRACE(static_cast<int>(path));
    Bytes data = original;
    Bytes chaining = iv;
    EXPECT_FALSE(serpentEncryptBlocksOn(path, schedule, data.data(), 9));
    EXPECT_FALSE(serpentDecryptBlocksOn(path, schedule, data.data(), 9));
    EXPECT_FALSE(serpentCbcDecryptOn(path, schedule, chaining.data(), data.data(), data.data(), data.size()));
    CbcLane lane{{}, data.data(), data.size() / BLOCK};
    std::memcpy(lane.chainingBlock, iv.data(), BLOCK);
    EXPECT_FALSE(serpentCbcEncryptLanesOn(path, schedule, &lane, 1));
    EXPECT_EQ(data, original);
    EXPECT_EQ(chaining, iv);
    EXPECT_EQ(toHex(lane.chainingBlock, BLOCK), toHex(iv));
}

// Each SIMD path missing as on a processor without its instructions, whatever this one has:
// refused by every function with nothing written, and the functions without a path argument go
// on with what is left and give the same bytes.
TEST(SerpentSimd, PathNotAvailableIsRefusedWithoutWriting) {
    struct MissingRow {
        const char* name;
        CpuFeatures hidden;
        std::vector<SerpentEngine> missing;
    };
    const MissingRow rows[] = {
        {"without SSE2", featuresWith(true, false), {SERPENT_ENGINE_SSE2, SERPENT_ENGINE_AVX2}},
        {"without AVX2", featuresWith(false, true), {SERPENT_ENGINE_AVX2}},
    };
    SeededBytes random(0x51d0009);
    const SerpentKeySchedule schedule = scheduleOf(random.next(32));
    const Bytes original = random.next(BLOCK * 9);
    const Bytes iv = random.next(BLOCK);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HiddenCpuFeatures hide(row.hidden);
        for (SerpentEngine path : row.missing) {
            EXPECT_FALSE(serpentEngineAvailable(path));
            EXPECT_NE(serpentPreferredEngine(), path);
            expectRefusedWithoutWriting(path, schedule, original, iv);
        }
        Bytes fallback = original;
        ASSERT_TRUE(serpentEncryptBlocks(schedule, fallback.data(), 9));
        EXPECT_EQ(toHex(fallback), toHex(portableEncrypt(schedule, original)));
    }
    EXPECT_TRUE(serpentEngineAvailable(SERPENT_ENGINE_PORTABLE));
}

// The functions without a path argument, on whatever path is best here.
TEST(SerpentSimd, DefaultFunctionsMatchPortable) {
    SeededBytes random(0x51d000a);
    const SerpentKeySchedule schedule = scheduleOf(random.next(32));
    for (size_t count : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{256}, size_t{1001}}) {
        SCOPED_TRACE(count);
        const Bytes plaintext = random.next(BLOCK * count);
        const Bytes iv = random.next(BLOCK);

        Bytes data = plaintext;
        ASSERT_TRUE(serpentEncryptBlocks(schedule, data.data(), count));
        EXPECT_EQ(toHex(data), toHex(portableEncrypt(schedule, plaintext)));
        ASSERT_TRUE(serpentDecryptBlocks(schedule, data.data(), count));
        EXPECT_EQ(toHex(data), toHex(plaintext));

        Bytes chaining = iv;
        Bytes ciphertextChaining = iv;
        const Bytes ciphertext = portableCbcEncrypt(schedule, ciphertextChaining, plaintext);
        data = ciphertext;
        ASSERT_TRUE(serpentCbcDecrypt(schedule, chaining.data(), data.data(), data.size()));
        EXPECT_EQ(toHex(data), toHex(plaintext));
        EXPECT_EQ(chaining, ciphertextChaining);

        chaining = iv;
        Bytes out(ciphertext.size());
        ASSERT_TRUE(serpentCbcDecryptInto(schedule, chaining.data(), ciphertext.data(), out.data(), out.size()));
        EXPECT_EQ(toHex(out), toHex(plaintext));

        CbcLane lanes[3];
        Bytes lanePlaintext[3] = {plaintext, random.next(BLOCK * (count / 2)), random.next(BLOCK * 3)};
        Bytes laneData[3] = {lanePlaintext[0], lanePlaintext[1], lanePlaintext[2]};
        Bytes laneIv[3] = {iv, random.next(BLOCK), random.next(BLOCK)};
        for (size_t i = 0; i < 3; ++i) {
            std::memcpy(lanes[i].chainingBlock, laneIv[i].data(), BLOCK);
            lanes[i].data = laneData[i].data();
            lanes[i].blockCount = laneData[i].size() / BLOCK;
        }
        ASSERT_TRUE(serpentCbcEncryptLanes(schedule, lanes, 3));
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(toHex(laneData[i]), toHex(portableCbcEncrypt(schedule, laneIv[i], lanePlaintext[i])));
            EXPECT_EQ(toHex(lanes[i].chainingBlock, BLOCK), toHex(laneIv[i]));
        }
    }
}

}  // namespace
