// Block-sorting stage. The sort is a top-down merge sort with an exchange sort for ranges of at
// most four; its exact comparisons decide both the budget spent and where equal rotations of a
// periodic block end up, so neither the order of comparisons nor their count may change.

#include "codec/blocksort.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "codec/word_array.h"

namespace {

constexpr uint32_t BLOCK_SORT_HEADER_BYTES = 2;
constexpr uint32_t BLOCK_SORT_INDEX_BYTES = 3;
constexpr uint32_t BLOCK_SORT_COPIED_MAX_BYTES = 3;  // shorter blocks are not transformed
constexpr uint32_t BLOCK_SORT_EXCHANGE_MAX_RANGE = 4;
constexpr uint32_t BLOCK_SORT_KEY_BYTES = 4;

// The stream's 24-bit little-endian primary indexes; byte_order.h has no 24-bit helper.
uint32_t blockSortLoadIndex(const uint8_t* field) {
    return static_cast<uint32_t>(field[0]) | (static_cast<uint32_t>(field[1]) << 8) |
           (static_cast<uint32_t>(field[2]) << 16);
}

void blockSortStoreIndex(uint8_t* field, uint32_t primaryIndex) {
    field[0] = static_cast<uint8_t>(primaryIndex);
    field[1] = static_cast<uint8_t>(primaryIndex >> 8);
    field[2] = static_cast<uint8_t>(primaryIndex >> 16);
}

// One block's sort. index holds rotation starts; merge has room for floor(length / 2) + 1.
struct BlockSorter {
    const uint32_t* keys;
    uint32_t* index;
    uint32_t* merge;
    uint32_t length;
    uint64_t budget;
    bool exhausted;
};

// Orders rotations a and b whose first keys are equal: negative, zero (equal rotations) or
// positive. Each key compared costs a unit of budget. When the budget runs out the sorter is
// marked exhausted and the result means nothing.
int blockSortCompareTail(BlockSorter& s, uint32_t a, uint32_t b) {
    const uint32_t length = s.length;
    for (uint32_t offset = BLOCK_SORT_KEY_BYTES; offset < length; offset += BLOCK_SORT_KEY_BYTES) {
        if (s.budget == 0) {
            s.exhausted = true;
            return 0;
        }
        --s.budget;
        // a, b < length and length >= 4, so one subtraction brings each back into the block.
        a += BLOCK_SORT_KEY_BYTES;
        if (a >= length) a -= length;
        b += BLOCK_SORT_KEY_BYTES;
        if (b >= length) b -= length;
        const uint32_t keyA = s.keys[a];
        const uint32_t keyB = s.keys[b];
        if (keyA != keyB) return keyA < keyB ? -1 : 1;
    }
    return 0;
}

// The full comparison; the first key comparison is free.
int blockSortCompare(BlockSorter& s, uint32_t a, uint32_t b) {
    const uint32_t keyA = s.keys[a];
    const uint32_t keyB = s.keys[b];
    if (keyA != keyB) return keyA < keyB ? -1 : 1;
    return blockSortCompareTail(s, a, b);
}

// Sorts index[lo..hi] (inclusive). Recursion depth is about log2 of the block length.
void blockSortRange(BlockSorter& s, uint32_t lo, uint32_t hi) {
    uint32_t* index = s.index;
    if (hi - lo + 1 <= BLOCK_SORT_EXCHANGE_MAX_RANGE) {
        for (uint32_t p = lo; p < hi; ++p) {
            for (uint32_t i = p + 1; i <= hi; ++i) {
                const int order = blockSortCompare(s, index[p], index[i]);
                if (s.exhausted) return;
                if (order > 0) std::swap(index[p], index[i]);
            }
        }
        return;
    }
    const uint32_t mid = lo + (hi - lo) / 2;
    blockSortRange(s, lo, mid);
    if (s.exhausted) return;
    blockSortRange(s, mid + 1, hi);
    if (s.exhausted) return;

    // The same comparisons as blockSortCompare in the same order, with the first key of each
    // run's head kept in a register: a random key load is the sort's main cost.
    const uint32_t leftCount = mid - lo + 1;
    uint32_t* merge = s.merge;
    const uint32_t* keys = s.keys;
    std::memcpy(merge, index + lo, leftCount * sizeof(uint32_t));
    uint32_t left = 0;
    uint32_t right = mid + 1;
    uint32_t out = lo;
    uint32_t fromLeft = merge[0];
    uint32_t fromRight = index[right];
    uint32_t keyLeft = keys[fromLeft];
    uint32_t keyRight = keys[fromRight];
    for (;;) {
        int order;
        if (keyLeft != keyRight) {
            order = keyLeft < keyRight ? -1 : 1;
        } else {
            order = blockSortCompareTail(s, fromLeft, fromRight);
            if (s.exhausted) return;
        }
        if (order <= 0) {
            index[out++] = fromLeft;
            if (++left == leftCount) return;  // the rest of the right run is in place
            fromLeft = merge[left];
            keyLeft = keys[fromLeft];
        } else {
            index[out++] = fromRight;
            if (++right > hi) break;
            fromRight = index[right];
            keyRight = keys[fromRight];
        }
    }
    while (left < leftCount) index[out++] = merge[left++];
}

// Key of rotation r: the bytes at r..r+3, cyclically, the first in the most significant place.
void blockSortBuildKeys(const uint8_t* block, uint32_t length, uint32_t* keys) {
    for (uint32_t r = 0; r + BLOCK_SORT_KEY_BYTES <= length; ++r) keys[r] = load32Be(block + r);
    for (uint32_t r = length - (BLOCK_SORT_KEY_BYTES - 1); r < length; ++r) {
        uint32_t key = 0;
        for (uint32_t k = 0; k < BLOCK_SORT_KEY_BYTES; ++k) {
            uint32_t position = r + k;
            if (position >= length) position -= length;
            key = (key << 8) | block[position];
        }
        keys[r] = key;
    }
}

// Transforms one block of length >= 4 into out; false when its budget runs out.
bool blockSortOneBlock(const uint8_t* block, uint32_t length, CodecWordArray& keys,
                       CodecWordArray& index, CodecWordArray& merge, uint8_t* out,
                       uint32_t& primaryIndex) {
    blockSortBuildKeys(block, length, keys.data());
    for (uint32_t i = 0; i < length; ++i) index[i] = i;
    uint64_t budget = BLOCK_SORT_BUDGET_STEPS_PER_BYTE * length;
    if (budget < BLOCK_SORT_BUDGET_MIN_STEPS) budget = BLOCK_SORT_BUDGET_MIN_STEPS;
    BlockSorter sorter = {keys.data(), index.data(), merge.data(), length, budget, false};
    blockSortRange(sorter, 0, length - 1);
    if (sorter.exhausted) return false;
    primaryIndex = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t start = index[i];
        if (start == 0) primaryIndex = i;
        out[i] = block[start == 0 ? length - 1 : start - 1];
    }
    return true;
}

// Restores one block of length >= 4 from its last column; primaryIndex < length. Any last column
// and index give some output: every step stays inside the block.
// links[i] holds the row that precedes row i (rank of L[i] among equal bytes plus the number of
// smaller bytes, below 2^21) with L[i] itself in the top byte, so the walk, which is bound by
// memory latency, loads one word per output byte.
void blockSortInvertBlock(const uint8_t* lastColumn, uint32_t length, uint32_t primaryIndex,
                          CodecWordArray& links, uint8_t* out) {
    static_assert(BLOCK_SORT_SIZE <= (1u << 24), "a row number must leave the top byte free");
    uint32_t counts[256] = {};
    ScopeExit wipeCounts([&] { secureWipe(counts, sizeof counts); });
    for (uint32_t i = 0; i < length; ++i) ++counts[lastColumn[i]];
    // counts[c] becomes the first row whose rotation starts with c.
    uint32_t total = 0;
    for (uint32_t c = 0; c < 256; ++c) {
        const uint32_t count = counts[c];
        counts[c] = total;
        total += count;
    }
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t value = lastColumn[i];
        links[i] = counts[value]++ | (value << 24);
    }
    uint32_t row = primaryIndex;
    for (uint32_t t = 0; t < length; ++t) {
        const uint32_t link = links[row];
        out[length - 1 - t] = static_cast<uint8_t>(link >> 24);
        row = link & 0xFFFFFF;
    }
    secureWipe(&row, sizeof row);
}

uint32_t blockSortBlockLength(uint32_t totalBytes, uint32_t block) {
    const uint32_t start = block * BLOCK_SORT_SIZE;
    const uint32_t rest = totalBytes - start;
    return rest < BLOCK_SORT_SIZE ? rest : BLOCK_SORT_SIZE;
}

}  // namespace

bool blockSortEncode(SecureBuffer& buffer) {
    const uint32_t size = buffer.size();
    if (size == 0) return false;
    const uint32_t blocks = (size - 1) / BLOCK_SORT_SIZE + 1;  // at most 2048 for 32-bit sizes
    const uint64_t encodedBytes = blockSortEncodedBytes(size);
    if (encodedBytes > UINT32_MAX) throw 0;

    SecureBuffer out;
    out.allocate(static_cast<uint32_t>(encodedBytes));
    const uint32_t largest = blockSortBlockLength(size, 0);
    CodecWordArray keys(largest);
    CodecWordArray index(largest);
    CodecWordArray merge(largest / 2 + 1);

    const uint8_t* in = buffer.data();
    uint8_t* header = out.data();
    header[0] = static_cast<uint8_t>(blocks);  // 16-bit little-endian block count
    header[1] = static_cast<uint8_t>(blocks >> 8);
    uint8_t* payload = header + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * blocks;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t start = k * BLOCK_SORT_SIZE;
        const uint32_t length = blockSortBlockLength(size, k);
        uint32_t primaryIndex = 0;
        if (length <= BLOCK_SORT_COPIED_MAX_BYTES) {
            std::memcpy(payload + start, in + start, length);
        } else if (!blockSortOneBlock(in + start, length, keys, index, merge, payload + start,
                                      primaryIndex)) {
            return false;
        }
        blockSortStoreIndex(header + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * k,
                            primaryIndex);
    }
    buffer = std::move(out);
    return true;
}

bool blockSortDecode(SecureBuffer& buffer) {
    const uint32_t size = buffer.size();
    if (size < BLOCK_SORT_HEADER_BYTES) return false;
    const uint8_t* in = buffer.data();
    const uint32_t blocks = load16Le(in);
    if (blocks == 0) return false;
    const uint32_t tableBytes = BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * blocks;
    if (size < tableBytes) return false;
    const uint32_t payloadBytes = size - tableBytes;
    // Every block but the last is full; the last holds 1 to BLOCK_SORT_SIZE bytes.
    const uint64_t fullBytes = static_cast<uint64_t>(blocks - 1) * BLOCK_SORT_SIZE;
    if (payloadBytes <= fullBytes || payloadBytes - fullBytes > BLOCK_SORT_SIZE) return false;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t primaryIndex =
            blockSortLoadIndex(in + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * k);
        if (primaryIndex >= blockSortBlockLength(payloadBytes, k)) return false;
    }

    SecureBuffer out;
    out.allocate(payloadBytes);
    CodecWordArray links(blockSortBlockLength(payloadBytes, 0));
    const uint8_t* payload = in + tableBytes;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t primaryIndex =
            blockSortLoadIndex(in + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * k);
        const uint32_t start = k * BLOCK_SORT_SIZE;
        const uint32_t length = blockSortBlockLength(payloadBytes, k);
        if (length <= BLOCK_SORT_COPIED_MAX_BYTES) {
            std::memcpy(out.data() + start, payload + start, length);
        } else {
            blockSortInvertBlock(payload + start, length, primaryIndex, links, out.data() + start);
        }
    }
    buffer = std::move(out);
    return true;
}
