// The CBC-lane scheduler that AES-NI and Serpent's SIMD paths share, driven by a recording kernel
// with a toy block function: every lane must come out as its chain alone, and every pass must be
// what the scheduler promises (the longest lanes, as many as asked, each once, chained to the
// lane's last ciphertext block). The ciphers' own lane tests check the real kernels' bytes.

#include "crypto/cbc_lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/crypto/cipher_test_support.h"

namespace {

using namespace cipher_test;

constexpr size_t BLOCK = CBC_LANE_BLOCK_BYTES;

// A toy block function, a bijection that does not commute with XOR, so that a block chained to
// the wrong value, or encrypted twice or not at all, shows.
void toyEncrypt(uint8_t* block) {
    for (size_t i = 0; i < BLOCK; ++i) block[i] = static_cast<uint8_t>(block[i] * 5 + 1 + i);
}

Bytes toyCbc(const Bytes& iv, Bytes data) {
    const uint8_t* chain = iv.data();
    for (size_t at = 0; at < data.size(); at += BLOCK) {
        xorBlock(data.data() + at, chain);
        toyEncrypt(data.data() + at);
        chain = data.data() + at;
    }
    return data;
}

// Encrypts each pass with toyEncrypt and checks it against the lanes as they stand.
struct RecordingKernel {
    std::vector<CbcLane>* lanes;
    size_t (*passLanes)(size_t);
    std::vector<size_t> done;
    size_t passSteps = 0;

    size_t laneOf(const uint8_t* block) const {
        for (size_t i = 0; i < lanes->size(); ++i) {
            const CbcLane& lane = (*lanes)[i];
            if (block >= lane.data && block < lane.data + BLOCK * lane.blockCount) return i;
        }
        ADD_FAILURE() << "a pass block outside every lane";
        return 0;
    }

    void operator()(const CbcLanePass& pass) {
        passSteps += pass.blockCount;
        // The scheduler works in batches of CBC_LANES_BATCH lanes; which batch runs shows by
        // the lanes of the pass.
        const size_t batch = laneOf(pass.blocks[0]) / CBC_LANES_BATCH;
        const size_t first = batch * CBC_LANES_BATCH;
        const size_t end = std::min(lanes->size(), first + CBC_LANES_BATCH);
        size_t active = 0;
        for (size_t i = first; i < end; ++i) active += (*lanes)[i].blockCount != done[i] ? 1 : 0;
        const size_t asked = std::min(std::clamp(passLanes(active), size_t{1}, CBC_LANES_PASS_MAX), active);
        ASSERT_EQ(pass.laneCount, asked) << "a pass not as full as asked";
        ASSERT_GE(pass.blockCount, 1u);

        std::vector<bool> inPass(lanes->size(), false);
        size_t shortestPicked = SIZE_MAX;
        for (size_t k = 0; k < pass.laneCount; ++k) {
            const size_t i = laneOf(pass.blocks[k]);
            ASSERT_FALSE(inPass[i]) << "lane " << i << " twice in one pass";
            inPass[i] = true;
            CbcLane& lane = (*lanes)[i];
            ASSERT_EQ(pass.blocks[k], lane.data + BLOCK * done[i]) << "lane " << i << " not at its next block";
            ASSERT_EQ(pass.chains[k], lane.chainingBlock);
            const Bytes expectedChain = done[i] == 0
                                            ? Bytes(lane.chainingBlock, lane.chainingBlock + BLOCK)
                                            : Bytes(lane.data + BLOCK * (done[i] - 1), lane.data + BLOCK * done[i]);
            ASSERT_EQ(toHex(pass.chains[k], BLOCK), toHex(expectedChain)) << "lane " << i << " chained wrongly";
            shortestPicked = std::min(shortestPicked, lane.blockCount - done[i]);
        }
        ASSERT_LE(pass.blockCount, shortestPicked) << "a pass past the end of a lane";
        for (size_t i = first; i < end; ++i) {
            if (inPass[i]) continue;
            EXPECT_LE((*lanes)[i].blockCount - done[i], shortestPicked) << "lane " << i << " waits though longer";
        }

        for (size_t k = 0; k < pass.laneCount; ++k) {
            const size_t i = laneOf(pass.blocks[k]);
            const uint8_t* chain = pass.chains[k];
            for (size_t n = 0; n < pass.blockCount; ++n) {
                uint8_t* block = pass.blocks[k] + BLOCK * n;
                xorBlock(block, chain);
                toyEncrypt(block);
                chain = block;
            }
            done[i] += pass.blockCount;
        }
    }
};

struct SchedulerRow {
    const char* name;
    size_t (*passLanes)(size_t);
};

const SchedulerRow SCHEDULERS[] = {
    {"none asked, one given", [](size_t) -> size_t { return 0; }},
    {"one lane a pass", [](size_t) -> size_t { return 1; }},
    {"four lanes a pass", [](size_t) -> size_t { return 4; }},
    {"sixteen lanes a pass", [](size_t) -> size_t { return 16; }},
    {"more than a pass holds", [](size_t) -> size_t { return 100; }},
    {"by the number waiting", [](size_t active) -> size_t { return active <= 2   ? 1
                                                                   : active <= 4 ? 4
                                                                                 : 8; }},
};

struct LaneSetRow {
    std::string name;
    std::vector<size_t> blocks;
};

std::vector<LaneSetRow> laneSets() {
    SeededBytes random(0xcbc1a);
    std::vector<LaneSetRow> rows = {
        {"no lanes", {}},
        {"one empty lane", {0}},
        {"empty lanes among others", {0, 5, 0, 0, 7, 0, 3, 0, 0, 1}},
        {"nine equal lanes", std::vector<size_t>(9, 40)},
        {"one long among short", {300, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"falling lengths", {33, 31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1}},
        {"rising lengths", {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31, 33, 35}},
    };
    LaneSetRow manyRow{"150 random lengths, three batches", {}};
    for (int i = 0; i < 150; ++i) manyRow.blocks.push_back(random.below(40));
    rows.push_back(manyRow);
    return rows;
}

TEST(CbcLanesScheduler, EveryLaneAsItsChainAloneAndEveryPassAsPromised) {
    SeededBytes random(0xcbc1b);
    for (const SchedulerRow& scheduler : SCHEDULERS) {
        for (const LaneSetRow& row : laneSets()) {
            SCOPED_TRACE(std::string(scheduler.name) + ", " + row.name);
            std::vector<Bytes> plaintexts;
            std::vector<Bytes> ivs;
            std::vector<Bytes> data;
            for (size_t blocks : row.blocks) {
                plaintexts.push_back(random.next(BLOCK * blocks));
                ivs.push_back(random.next(BLOCK));
                data.push_back(plaintexts.back());
            }
            std::vector<CbcLane> lanes(row.blocks.size());
            for (size_t i = 0; i < lanes.size(); ++i) {
                std::copy(ivs[i].begin(), ivs[i].end(), lanes[i].chainingBlock);
                lanes[i].data = data[i].data();
                lanes[i].blockCount = row.blocks[i];
            }
            RecordingKernel kernel{&lanes, scheduler.passLanes, std::vector<size_t>(lanes.size(), 0)};
            cbcLanesEncrypt(lanes.data(), lanes.size(), scheduler.passLanes, kernel);
            if (::testing::Test::HasFatalFailure()) return;
            for (size_t i = 0; i < lanes.size(); ++i) {
                SCOPED_TRACE("lane " + std::to_string(i) + " of " + std::to_string(row.blocks[i]) + " blocks");
                const Bytes expected = toyCbc(ivs[i], plaintexts[i]);
                EXPECT_EQ(toHex(data[i]), toHex(expected));
                const Bytes lastBlock = row.blocks[i] == 0 ? ivs[i] : Bytes(expected.end() - BLOCK, expected.end());
                EXPECT_EQ(toHex(lanes[i].chainingBlock, BLOCK), toHex(lastBlock));
                EXPECT_EQ(lanes[i].data, data[i].data());
                EXPECT_EQ(lanes[i].blockCount, row.blocks[i]);
                EXPECT_EQ(kernel.done[i], row.blocks[i]);
            }
        }
    }
}

// Equal lanes, more than a pass takes: the waiting lanes take turns in steps of
// CBC_LANES_PHASE_MIN_BLOCKS, so no lane runs alone at the end while the others are done. A pass
// costs about its block count whatever its number of lanes (they run side by side).
TEST(CbcLanesScheduler, EqualLanesBeyondAPassFinishTogether) {
    std::vector<Bytes> data(9, Bytes(BLOCK * 256, 0));
    std::vector<CbcLane> lanes(data.size());
    for (size_t i = 0; i < lanes.size(); ++i) lanes[i] = CbcLane{{}, data[i].data(), 256};
    const auto eight = [](size_t) -> size_t { return 8; };
    RecordingKernel kernel{&lanes, eight, std::vector<size_t>(lanes.size(), 0)};
    cbcLanesEncrypt(lanes.data(), lanes.size(), eight, kernel);
    // Full passes need 9 × 256 / 8 = 288 steps, and the lanes end within a phase of one
    // another; running the first 8 until they end would leave the ninth alone for 256 more.
    EXPECT_LE(kernel.passSteps, 9u * 256u / 8u + 2 * CBC_LANES_PHASE_MIN_BLOCKS);
    for (size_t i = 0; i < lanes.size(); ++i) EXPECT_EQ(kernel.done[i], 256u);
}

}  // namespace
