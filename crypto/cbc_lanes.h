// CBC chains side by side, for the block ciphers whose fast paths run blocks of several chains at
// once (AES, Serpent): the lane record both take, the one scheduler that hands a cipher's kernel
// groups of lanes, and the 16-byte XOR of CBC. Owns no state; constant-time where the kernel is:
// the schedule depends only on the lanes' lengths, never on their data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/byte_order.h"

constexpr size_t CBC_LANE_BLOCK_BYTES = 16;

// One CBC chain. chainingBlock holds the IV on entry and the chain's last ciphertext block on
// return (unchanged when blockCount is 0). data holds blockCount 16-byte blocks and is encrypted in
// place; lanes MUST NOT share or overlap their data, nor their chaining blocks.
struct CbcLane {
    uint8_t chainingBlock[CBC_LANE_BLOCK_BYTES];
    uint8_t* data;
    size_t blockCount;
};

// target ^= source over 16 bytes. Word by word: the block ciphers store their output as four
// 32-bit words, and reading those back in the same widths lets the processor forward the stores
// instead of waiting for them. Kept out of line: inlined into a cipher's CBC loop, GCC merges the
// words into one 16-byte load, which cannot be forwarded from the four stores of the block before
// and stalls every block (portable AES CBC encryption lost 12% that way).
[[gnu::noinline]] inline void xorBlock(uint8_t* target, const uint8_t* source) {
    for (size_t i = 0; i < CBC_LANE_BLOCK_BYTES; i += 4)
        store32Le(target + i, load32Le(target + i) ^ load32Le(source + i));
}

// The most lanes one pass of the scheduler gives a kernel.
constexpr size_t CBC_LANES_PASS_MAX = 16;
// Lanes are scheduled in batches of at most this many, with their progress on the stack.
constexpr size_t CBC_LANES_BATCH = 64;
// While more lanes wait than a pass takes, the lanes with the most blocks left run for at least
// this many blocks before the choice is made again: the lanes stay within this many blocks of one
// another, so the passes stay full until near the end, at a small cost per choice.
constexpr size_t CBC_LANES_PHASE_MIN_BLOCKS = 16;

// One pass: blockCount blocks of each of laneCount lanes (1 ≤ laneCount ≤ CBC_LANES_PASS_MAX,
// blockCount ≥ 1). blocks[i] is lane i's first plaintext block of the pass, chains[i] the 16 bytes
// chained to it (the lane's chainingBlock, which holds the IV or the ciphertext block before).
struct CbcLanePass {
    uint8_t* blocks[CBC_LANES_PASS_MAX];
    const uint8_t* chains[CBC_LANES_PASS_MAX];
    size_t laneCount;
    size_t blockCount;
};

// CBC encryption of laneCount lanes through a cipher's kernel, each lane exactly as if encrypted
// alone. Each pass takes the lanes with the most blocks left, as many as passLanes(active) says for
// the number of lanes that still have blocks (held to 1..CBC_LANES_PASS_MAX), and runs them
// until the shortest of them ends, or until they are down to the most any waiting lane has left,
// but for at least CBC_LANES_PHASE_MIN_BLOCKS. kernel(const CbcLanePass&) MUST encrypt the pass in
// place: block j of lane i becomes E(block j XOR ciphertext block j − 1), block −1 being chains[i];
// it MUST NOT write the chains. Between passes the scheduler keeps each lane's last ciphertext
// block in its chainingBlock. lanes MUST point at laneCount records (or be null when laneCount is
// 0); their data and blockCount are left as they were.
template <class PassLanes, class Kernel>
void cbcLanesEncrypt(CbcLane* lanes, size_t laneCount, PassLanes passLanes, Kernel& kernel) {
    for (size_t first = 0; first < laneCount; first += CBC_LANES_BATCH) {
        CbcLane* batch = lanes + first;
        const size_t count = laneCount - first < CBC_LANES_BATCH ? laneCount - first : CBC_LANES_BATCH;
        size_t done[CBC_LANES_BATCH] = {};
        const auto left = [&](size_t i) { return batch[i].blockCount - done[i]; };
        for (;;) {
            size_t active = 0;
            for (size_t i = 0; i < count; ++i) {
                if (left(i) != 0) ++active;
            }
            if (active == 0) break;
            size_t wanted = passLanes(active);
            if (wanted == 0) wanted = 1;
            if (wanted > CBC_LANES_PASS_MAX) wanted = CBC_LANES_PASS_MAX;
            if (wanted > active) wanted = active;

            // The lanes with the most blocks left, longest first; among equals the earlier lane.
            size_t picked[CBC_LANES_PASS_MAX];
            size_t pickedCount = 0;
            for (size_t i = 0; i < count; ++i) {
                if (left(i) == 0) continue;
                size_t at = pickedCount;
                while (at > 0 && left(picked[at - 1]) < left(i)) --at;
                if (at == wanted) continue;
                const size_t last = pickedCount < wanted ? pickedCount : wanted - 1;
                for (size_t k = last; k > at; --k) picked[k] = picked[k - 1];
                picked[at] = i;
                if (pickedCount < wanted) ++pickedCount;
            }
            bool taken[CBC_LANES_BATCH] = {};
            for (size_t k = 0; k < pickedCount; ++k) taken[picked[k]] = true;
            size_t mostWaiting = 0;
            for (size_t i = 0; i < count; ++i) {
                if (!taken[i] && left(i) > mostWaiting) mostWaiting = left(i);
            }
            const size_t shortest = left(picked[pickedCount - 1]);
            size_t steps = shortest;
            if (mostWaiting != 0) {
                steps = shortest - mostWaiting > CBC_LANES_PHASE_MIN_BLOCKS ? shortest - mostWaiting
                                                                            : CBC_LANES_PHASE_MIN_BLOCKS;
                if (steps > shortest) steps = shortest;
            }

            CbcLanePass pass{};
            for (size_t k = 0; k < pickedCount; ++k) {
                CbcLane& lane = batch[picked[k]];
                pass.blocks[k] = lane.data + CBC_LANE_BLOCK_BYTES * done[picked[k]];
                pass.chains[k] = lane.chainingBlock;
            }
            pass.laneCount = pickedCount;
            pass.blockCount = steps;
            kernel(pass);
            for (size_t k = 0; k < pickedCount; ++k) {
                CbcLane& lane = batch[picked[k]];
                done[picked[k]] += steps;
                std::memcpy(lane.chainingBlock, lane.data + CBC_LANE_BLOCK_BYTES * (done[picked[k]] - 1),
                            CBC_LANE_BLOCK_BYTES);
            }
        }
    }
}
