// Seeding the process's generator: the seed file "rand.bin" in the current directory, start-up,
// pointer entropy and the exit save. They all act on globalRandomGenerator, so every test starts
// and ends with it (and the last pointer position) reset, in a temporary current directory.

#include "random/seeding.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "platform/platform.h"
#include "random/generator.h"
#include "support/allocators.h"
#include "support/files.h"
#include "support/hex.h"

using namespace testsupport;

namespace {

// Blob length 516 (04 02 00 00), field length 512 (00 02 00 00), the 512 seed bytes: 520 bytes.
constexpr uint32_t SEED_FILE_SIZE = 520;
constexpr const char* SEED_FILE_START_HEX = "0402000000020000";

Bytes u32Le(uint32_t value) {
    Bytes bytes(4);
    store32Le(bytes.data(), value);
    return bytes;
}

Bytes seedBytes(uint32_t count) {
    Bytes seed(count);
    for (uint32_t i = 0; i < count; ++i) seed[i] = static_cast<uint8_t>(i * 29 + 3);
    return seed;
}

// A blob whose payload is one field: declaredField as its length, then the seed bytes.
Bytes seedFile(const Bytes& seed, uint32_t declaredField) {
    Bytes file = u32Le(4 + static_cast<uint32_t>(seed.size()));
    const Bytes field = u32Le(declaredField);
    file.insert(file.end(), field.begin(), field.end());
    file.insert(file.end(), seed.begin(), seed.end());
    return file;
}

Bytes seedFile(const Bytes& seed) { return seedFile(seed, static_cast<uint32_t>(seed.size())); }

Bytes poolOf(const RandomGenerator& generator) { return bytesOf(generator.pool); }

// Whether the global pool is what a fresh generator holds after addSeed(seed, t) for some
// calendar time t in [from, to]: every seed byte mixed, then the time.
bool poolTookSeed(const Bytes& seed, uint32_t from, uint32_t to) {
    for (uint32_t t = from; t <= to; ++t) {
        RandomGenerator reference;
        if (!addSeed(reference, bufferOf(seed), t, true)) return false;
        if (poolOf(reference) == poolOf(globalRandomGenerator)) return true;
    }
    return false;
}

uint32_t calendarNow() { return static_cast<uint32_t>(platformCalendarSeconds()); }

class Seeding : public ::testing::Test {
protected:
    void SetUp() override { resetGenerator(); }
    void TearDown() override { resetGenerator(); }
    static void resetGenerator() {
        randomReset(globalRandomGenerator);
        resetPointerEntropy();
    }
    static void makeReady() { ASSERT_TRUE(addSeed(globalRandomGenerator, bufferOf(seedBytes(32)), 0, true)); }

    TempDir dir_;
    CurrentDirectoryGuard inDir_{dir_.path()};
};

}  // namespace

TEST_F(Seeding, FirstRunWithoutSeedFileIsNotReady) {
    const Bytes initial = poolOf(globalRandomGenerator);
    ASSERT_TRUE(initRandomGenerator());
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 0u);
    EXPECT_TRUE(fileNames(dir_.path()).empty()) << "nothing is saved before the generator is ready";
    EXPECT_FALSE(poolOf(globalRandomGenerator) == initial) << "clocks and system bytes are mixed in";
}

TEST_F(Seeding, StartWithASeedFileIsReadyAndRewritesItAtOnce) {
    const Bytes before = seedFile(seedBytes(SEED_FILE_BYTES));
    ASSERT_EQ(toHex(before.data(), 8), SEED_FILE_START_HEX);
    writeFileBytes("rand.bin", before);
    ASSERT_TRUE(initRandomGenerator());
    EXPECT_EQ(globalRandomGenerator.entropy.load(), ENTROPY_THRESHOLD);
    const Bytes after = readFileBytes("rand.bin");
    ASSERT_EQ(after.size(), SEED_FILE_SIZE);
    EXPECT_EQ(toHex(after.data(), 8), SEED_FILE_START_HEX);
    EXPECT_FALSE(after == before) << "a seed is never used twice";
}

TEST_F(Seeding, SeedFieldSizes) {
    struct Row {
        const char* name;
        bool present;
        Bytes file;
        bool credited;
        Bytes mixed;  // the seed bytes mixed in when credited
    };
    const Bytes seed4096 = seedBytes(4096);
    const Bytes whole = seedFile(seedBytes(512));
    const Bytes cutShort(whole.begin(), whole.begin() + 300);
    const Row rows[] = {
        {"no seed file", false, {}, false, {}},
        {"empty file", true, {}, false, {}},
        {"field of 31 bytes", true, seedFile(seedBytes(31)), false, {}},
        {"field of 32 bytes", true, seedFile(seedBytes(32)), true, seedBytes(32)},
        {"field of 512 bytes", true, seedFile(seedBytes(512)), true, seedBytes(512)},
        {"field of 4096 bytes: the same credit, all bytes mixed", true, seedFile(seed4096), true, seed4096},
        {"field declared 512, 100 bytes there", true, seedFile(seedBytes(100), 512), true, seedBytes(100)},
        {"field declared 512, 31 bytes there", true, seedFile(seedBytes(31), 512), false, {}},
        {"blob cut short", true, cutShort, false, {}},
        {"blob length over 2^30", true, fromHex("01000040 00020000"), false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        resetGenerator();
        std::error_code ignored;
        fs::remove("rand.bin", ignored);
        if (row.present) writeFileBytes("rand.bin", row.file);
        const Bytes initial = poolOf(globalRandomGenerator);
        const uint32_t from = calendarNow();
        EXPECT_EQ(loadSeedFile(), row.credited);
        const uint32_t to = calendarNow();
        EXPECT_EQ(globalRandomGenerator.entropy.load(), row.credited ? ENTROPY_THRESHOLD : 0u);
        if (row.credited) {
            EXPECT_TRUE(poolTookSeed(row.mixed, from, to)) << "every seed byte, then the calendar time";
        } else {
            EXPECT_TRUE(poolOf(globalRandomGenerator) == initial) << "nothing is mixed";
        }
    }
}

TEST_F(Seeding, StartWithAShortSeedLeavesTheFileAlone) {
    const Bytes before = seedFile(seedBytes(31));
    writeFileBytes("rand.bin", before);
    ASSERT_TRUE(initRandomGenerator());
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 0u);
    EXPECT_TRUE(readFileBytes("rand.bin") == before);
}

// A seed file that was read but cannot be replaced would be used again on the next start, so the
// start fails. The writer fails the way a read-only file or a full disk makes it fail, whatever
// the rights of the process (CI runs as root).
TEST_F(Seeding, SeedFileThatCannotBeRewrittenFailsTheStart) {
    const Bytes before = seedFile(seedBytes(SEED_FILE_BYTES));
    writeFileBytes("rand.bin", before);
    struct FailingWriter {
        FailingWriter() {
            setSeedFileWriter([](const NativePath&, const SecureBuffer&) { return false; });
        }
        ~FailingWriter() { setSeedFileWriter(nullptr); }
    } failingWriter;
    EXPECT_FALSE(initRandomGenerator());
    EXPECT_TRUE(readFileBytes("rand.bin") == before);
}

TEST_F(Seeding, SaveNeedsAReadyGenerator) {
    globalRandomGenerator.entropy = ENTROPY_THRESHOLD - 1;
    EXPECT_FALSE(saveSeedFile());
    EXPECT_TRUE(fileNames(dir_.path()).empty());

    writeFileBytes("rand.bin", "old");
    EXPECT_FALSE(saveSeedFile());
    EXPECT_EQ(toHex(readFileBytes("rand.bin")), toHex(Bytes{'o', 'l', 'd'})) << "the file is untouched";
}

TEST_F(Seeding, SaveWritesAFreshSeedEachTime) {
    makeReady();
    ASSERT_TRUE(saveSeedFile());
    const Bytes first = readFileBytes("rand.bin");
    ASSERT_TRUE(saveSeedFile());
    const Bytes second = readFileBytes("rand.bin");
    ASSERT_EQ(first.size(), SEED_FILE_SIZE);
    ASSERT_EQ(second.size(), SEED_FILE_SIZE);
    EXPECT_EQ(toHex(first.data(), 8), SEED_FILE_START_HEX);
    EXPECT_FALSE(first == second);
}

TEST_F(Seeding, SaveToAnUnwritableNameFails) {
    makeReady();
    fs::create_directory("rand.bin");
    EXPECT_FALSE(saveSeedFile());
    EXPECT_TRUE(fs::is_directory("rand.bin"));
}

TEST_F(Seeding, ExitSaveWritesASeedTheNextStartAccepts) {
    makeReady();
    randomExitSave();
    const Bytes saved = readFileBytes("rand.bin");
    ASSERT_EQ(saved.size(), SEED_FILE_SIZE);
    EXPECT_EQ(toHex(saved.data(), 8), SEED_FILE_START_HEX);
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 0u);
    EXPECT_TRUE(poolOf(globalRandomGenerator) == Bytes(RANDOM_POOL_SIZE, 0)) << "the exit wipes the pool";

    // The next run.
    resetGenerator();
    ASSERT_TRUE(initRandomGenerator());
    EXPECT_EQ(globalRandomGenerator.entropy.load(), ENTROPY_THRESHOLD);
    EXPECT_FALSE(readFileBytes("rand.bin") == saved);
}

TEST_F(Seeding, ExitWithoutEnoughEntropyWritesNothing) {
    globalRandomGenerator.entropy = ENTROPY_THRESHOLD - 1;
    randomExitSave();
    EXPECT_TRUE(fileNames(dir_.path()).empty());
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 0u);
    EXPECT_TRUE(poolOf(globalRandomGenerator) == Bytes(RANDOM_POOL_SIZE, 0));
}

TEST_F(Seeding, PointerEntropyCountsNewPositionsOnly) {
    struct Row {
        const char* name;
        std::vector<std::pair<uint16_t, uint16_t>> moves;
        uint32_t counted;
    };
    const Row rows[] = {
        {"(0, 0) is the position before any move", {{0, 0}}, 0},
        {"the same position twice", {{5, 7}, {5, 7}}, 1},
        {"alternating between two positions", {{1, 2}, {3, 4}, {1, 2}, {3, 4}}, 4},
        {"only x changes", {{9, 9}, {10, 9}}, 2},
        {"only y changes", {{9, 9}, {9, 10}}, 2},
        {"x and y exchanged", {{1, 2}, {2, 1}}, 2},
        {"back to (0, 0)", {{0, 0}, {1, 0}, {0, 0}}, 2},
        {"high bytes", {{0x1234, 0xFEDC}, {0x1234, 0xFEDC}, {0xFFFF, 0xFFFF}}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        resetGenerator();
        for (const auto& move : row.moves) addPointerEntropy(move.first, move.second);
        EXPECT_EQ(globalRandomGenerator.entropy.load(), row.counted);
    }
}

TEST_F(Seeding, PointerEntropyMixesOnlyNewPositions) {
    const Bytes initial = poolOf(globalRandomGenerator);
    addPointerEntropy(100, 200);
    const Bytes afterMove = poolOf(globalRandomGenerator);
    EXPECT_FALSE(afterMove == initial);
    addPointerEntropy(100, 200);
    EXPECT_TRUE(poolOf(globalRandomGenerator) == afterMove) << "a repeated position mixes nothing";
}

// While a draw holds the generator, a pointer move is counted but not mixed, and it still becomes
// the last position.
TEST_F(Seeding, PointerEntropyWhileTheGeneratorIsBusy) {
    const Bytes initial = poolOf(globalRandomGenerator);
    ASSERT_FALSE(globalRandomGenerator.busy.test_and_set());
    addPointerEntropy(3, 4);
    globalRandomGenerator.busy.clear();
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 1u);
    EXPECT_TRUE(poolOf(globalRandomGenerator) == initial);
    addPointerEntropy(3, 4);
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 1u);
}

TEST_F(Seeding, ResetPointerEntropyForgetsTheLastPosition) {
    addPointerEntropy(8, 8);
    resetPointerEntropy();
    addPointerEntropy(8, 8);
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 2u);
    resetPointerEntropy();
    addPointerEntropy(0, 0);
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 2u);
}

// A seed file is read only up to SEED_FILE_MAX_PAYLOAD_BYTES: one of 1 GiB (sparse) whose length
// field says 1 GiB is refused before its payload is read or memory is taken for it.
TEST_F(Seeding, HugeSeedFileIsRefusedBeforeItIsRead) {
    writeFileBytes("rand.bin", Bytes{0, 0, 0, 0x40});
    fs::resize_file("rand.bin", (uint64_t{1} << 30) + 4);
    LargestRequestRecorder recorder;
    EXPECT_FALSE(loadSeedFile());
    EXPECT_EQ(globalRandomGenerator.entropy.load(), 0u);
    EXPECT_LT(LargestRequestRecorder::largestRequest(), 65536u);
}
