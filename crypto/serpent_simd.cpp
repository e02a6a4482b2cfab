// Serpent on many blocks at once in bitslice form over SIMD lanes (a vector per word of the block,
// an element per block): loading and transposing blocks into that form, the paths and the choice
// among them, CBC decryption and the kernel of CBC lanes. The rounds are crypto/serpent_rounds.h's,
// the key schedule and the single block, which the portable path uses, crypto/serpent.cpp's.

#include "crypto/serpent_simd.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/secure_buffer.h"
#include "base/stack_scrub.h"
#include "crypto/cbc_lanes.h"
#include "crypto/cpu_features.h"
#include "crypto/serpent_rounds.h"

#if defined(__x86_64__) || defined(__i386__)
#define SERPENT_SIMD_X86 1
#else
#define SERPENT_SIMD_X86 0
#endif

namespace {

constexpr size_t BLOCK = SERPENT_BLOCK_BYTES;
// Up to this many blocks (or lanes) go through the portable code one by one: a SIMD group takes
// about as long as three single blocks do.
constexpr size_t PORTABLE_MAX_BLOCKS = 2;
// The most blocks a step of CBC lanes takes: two AVX2 groups, as many as a pass of lanes has.
constexpr size_t LANE_SLOTS_MAX = 2 * SERPENT_AVX2_GROUP_BLOCKS;
static_assert(LANE_SLOTS_MAX == CBC_LANES_PASS_MAX);

// What serpentHideCpuFeatures hides from the paths; nothing outside tests.
CpuFeatures hiddenFeatures;

bool lengthIsWholeBlocks(size_t length) { return length % BLOCK == 0; }

// --- Portable loop ---
//
// The callers have checked that the schedule is valid, so the block functions cannot fail here.

void portableEncryptBlocks(const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) (void)serpentEncryptBlock(schedule, blocks + BLOCK * i);
}

void portableDecryptBlocks(const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) (void)serpentDecryptBlock(schedule, blocks + BLOCK * i);
}

// Front to back, so in == out works: the ciphertext block a plaintext needs next is kept aside
// before its place is overwritten.
void portableCbcDecrypt(const SerpentKeySchedule& schedule, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                        size_t count) {
    uint8_t ciphertext[BLOCK];
    uint8_t block[BLOCK];
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(ciphertext, in + BLOCK * i, BLOCK);
        std::memcpy(block, ciphertext, BLOCK);
        (void)serpentDecryptBlock(schedule, block);
        xorBlock(block, iv);
        std::memcpy(out + BLOCK * i, block, BLOCK);
        std::memcpy(iv, ciphertext, BLOCK);
    }
    secureWipe(block, sizeof block);
    secureWipe(ciphertext, sizeof ciphertext);
}

void portableCbcEncryptSteps(const SerpentKeySchedule& schedule, uint8_t* block, const uint8_t* chain, size_t steps) {
    for (size_t i = 0; i < steps; ++i) {
        xorBlock(block, chain);
        (void)serpentEncryptBlock(schedule, block);
        chain = block;
        block += BLOCK;
    }
}

#if SERPENT_SIMD_X86

// --- Vectors of words ---
//
// Nothing below carries a target attribute: every template, and the rounds of
// crypto/serpent_rounds.h, is inlined into an entry point that has one (sse2 or avx2), and is
// compiled there with that entry point's instructions. Vectors go by reference only, since passing
// one by value outside such a function changes the calling convention.

#define SERPENT_SIMD_INLINE [[gnu::always_inline]] inline

using Words4 = uint32_t __attribute__((vector_size(16)));
using Words8 = uint32_t __attribute__((vector_size(32)));

// --- Groups: blocks in and out of bitslice form ---
//
// A group is four vectors as loaded from memory. With Words4 vector i is block i; with Words8
// it is blocks 2i (low half) and 2i + 1 (high half). Transposing the 4×4 words within each
// 128-bit half turns that into x0..x3 (x_j holding word j of every block) and back again: the
// transpose is its own inverse, and where each block sits within x_j does not matter as long as
// the way back is the same. The words stay in the byte order of memory, which on x86 is the
// little-endian order the format gives each word of a block.

template <class V>
struct Group {
    V v[4];
};

SERPENT_SIMD_INLINE void transpose(Group<Words4>& g) {
    const Words4 t0 = __builtin_shufflevector(g.v[0], g.v[1], 0, 4, 1, 5);
    const Words4 t1 = __builtin_shufflevector(g.v[0], g.v[1], 2, 6, 3, 7);
    const Words4 t2 = __builtin_shufflevector(g.v[2], g.v[3], 0, 4, 1, 5);
    const Words4 t3 = __builtin_shufflevector(g.v[2], g.v[3], 2, 6, 3, 7);
    g.v[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    g.v[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    g.v[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    g.v[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

SERPENT_SIMD_INLINE void transpose(Group<Words8>& g) {
    const Words8 t0 = __builtin_shufflevector(g.v[0], g.v[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const Words8 t1 = __builtin_shufflevector(g.v[0], g.v[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const Words8 t2 = __builtin_shufflevector(g.v[2], g.v[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const Words8 t3 = __builtin_shufflevector(g.v[2], g.v[3], 2, 10, 3, 11, 6, 14, 7, 15);
    g.v[0] = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
    g.v[1] = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
    g.v[2] = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
    g.v[3] = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
}

// Two groups go through the rounds together as vectors of twice the width, which the compiler
// splits into two registers per word. The rounds of one group are a single chain of dependent
// operations, too long for the processor to overlap with the next group's on its own; side by
// side, the second group's operations fill the units while the first group's wait.
using Words16 = uint32_t __attribute__((vector_size(64)));

template <class V, size_t N>
struct Joined;
template <class V>
struct Joined<V, 1> {
    using type = V;
};
template <>
struct Joined<Words4, 2> {
    using type = Words8;
};
template <>
struct Joined<Words8, 2> {
    using type = Words16;
};

template <class W, class V, size_t N>
SERPENT_SIMD_INLINE void joinWord(W& wide, const Group<V> (&g)[N], size_t word) {
    if constexpr (N == 1) {
        wide = g[0].v[word];
    } else if constexpr (sizeof(V) == 16) {
        wide = __builtin_shufflevector(g[0].v[word], g[1].v[word], 0, 1, 2, 3, 4, 5, 6, 7);
    } else {
        wide =
            __builtin_shufflevector(g[0].v[word], g[1].v[word], 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    }
}

template <class W, class V, size_t N>
SERPENT_SIMD_INLINE void splitWord(Group<V> (&g)[N], size_t word, const W& wide) {
    if constexpr (N == 1) {
        g[0].v[word] = wide;
    } else if constexpr (sizeof(V) == 16) {
        g[0].v[word] = __builtin_shufflevector(wide, wide, 0, 1, 2, 3);
        g[1].v[word] = __builtin_shufflevector(wide, wide, 4, 5, 6, 7);
    } else {
        g[0].v[word] = __builtin_shufflevector(wide, wide, 0, 1, 2, 3, 4, 5, 6, 7);
        g[1].v[word] = __builtin_shufflevector(wide, wide, 8, 9, 10, 11, 12, 13, 14, 15);
    }
}

// Groups already in bitslice form (transposed) through the rounds.
template <bool ENCRYPT, class V, size_t N>
SERPENT_SIMD_INLINE void cryptBitsliced(Group<V> (&g)[N], const uint8_t* subkeys) {
    using W = typename Joined<V, N>::type;
    SerpentBitslice<W> s;
    joinWord(s.x0, g, 0);
    joinWord(s.x1, g, 1);
    joinWord(s.x2, g, 2);
    joinWord(s.x3, g, 3);
    if constexpr (ENCRYPT) {
        serpentEncryptBitslice(s, subkeys);
    } else {
        serpentDecryptBitslice(s, subkeys);
    }
    splitWord(g, 0, s.x0);
    splitWord(g, 1, s.x1);
    splitWord(g, 2, s.x2);
    splitWord(g, 3, s.x3);
}

template <bool ENCRYPT, class V, size_t N>
SERPENT_SIMD_INLINE void cryptTogether(Group<V> (&g)[N], const uint8_t* subkeys) {
    for (auto& one : g) transpose(one);
    cryptBitsliced<ENCRYPT>(g, subkeys);
    for (auto& one : g) transpose(one);
}

template <class V>
SERPENT_SIMD_INLINE void loadGroup(Group<V>& g, const uint8_t* blocks) {
    for (size_t i = 0; i < 4; ++i) std::memcpy(&g.v[i], blocks + sizeof(V) * i, sizeof(V));
}

template <class V>
SERPENT_SIMD_INLINE void storeGroup(uint8_t* blocks, const Group<V>& g) {
    for (size_t i = 0; i < 4; ++i) std::memcpy(blocks + sizeof(V) * i, &g.v[i], sizeof(V));
}

template <class V>
constexpr size_t groupBlocks() {
    return sizeof(V) / 4;
}

// Gathering and scattering one block per slot, each slot's block anywhere in memory.
SERPENT_SIMD_INLINE void loadSlots(Group<Words4>& g, const uint8_t* const* slots) {
    for (size_t i = 0; i < 4; ++i) std::memcpy(&g.v[i], slots[i], BLOCK);
}

SERPENT_SIMD_INLINE void loadSlots(Group<Words8>& g, const uint8_t* const* slots) {
    for (size_t i = 0; i < 4; ++i) {
        Words4 low;
        Words4 high;
        std::memcpy(&low, slots[2 * i], BLOCK);
        std::memcpy(&high, slots[2 * i + 1], BLOCK);
        g.v[i] = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
    }
}

SERPENT_SIMD_INLINE void storeSlots(uint8_t* const* slots, const Group<Words4>& g) {
    for (size_t i = 0; i < 4; ++i) std::memcpy(slots[i], &g.v[i], BLOCK);
}

SERPENT_SIMD_INLINE void storeSlots(uint8_t* const* slots, const Group<Words8>& g) {
    for (size_t i = 0; i < 4; ++i) {
        const Words4 low = __builtin_shufflevector(g.v[i], g.v[i], 0, 1, 2, 3);
        const Words4 high = __builtin_shufflevector(g.v[i], g.v[i], 4, 5, 6, 7);
        std::memcpy(slots[2 * i], &low, BLOCK);
        std::memcpy(slots[2 * i + 1], &high, BLOCK);
    }
}

// CBC decryption XORs each plaintext with the ciphertext block before it. As loaded, vector i of
// a group holds the blocks after those of vector i − 1, so that block comes from vector i − 1
// (Words4) or from the high half of vector i − 1 and the low half of vector i (Words8).
SERPENT_SIMD_INLINE void xorPreviousBlocks(Words4& plaintext, const Words4& before, const Words4&) {
    plaintext ^= before;
}

SERPENT_SIMD_INLINE void xorPreviousBlocks(Words8& plaintext, const Words8& before, const Words8& current) {
    plaintext ^= __builtin_shufflevector(before, current, 4, 5, 6, 7, 8, 9, 10, 11);
}

// The chaining value sits where the block before vector 0 would: in a Words8, its high half.
SERPENT_SIMD_INLINE void loadChaining(Words4& previous, const uint8_t* block) { std::memcpy(&previous, block, BLOCK); }

SERPENT_SIMD_INLINE void loadChaining(Words8& previous, const uint8_t* block) {
    Words4 b;
    std::memcpy(&b, block, BLOCK);
    previous = __builtin_shufflevector(b, b, 0, 1, 2, 3, 0, 1, 2, 3);
}

SERPENT_SIMD_INLINE void storeChaining(uint8_t* block, const Words4& previous) { std::memcpy(block, &previous, BLOCK); }

SERPENT_SIMD_INLINE void storeChaining(uint8_t* block, const Words8& previous) {
    const Words4 high = __builtin_shufflevector(previous, previous, 4, 5, 6, 7);
    std::memcpy(block, &high, BLOCK);
}

// --- Kernels over whole groups ---

// The kernels keep their groups in arrays of the caller's (named, so that it can wipe them once
// at the end of a run); spilled registers are left to the stack scrub of the public functions.

template <bool ENCRYPT, class V, size_t N>
SERPENT_SIMD_INLINE void cryptBlocksTogether(const uint8_t* subkeys, uint8_t* blocks, Group<V> (&g)[N]) {
    for (size_t i = 0; i < N; ++i) loadGroup(g[i], blocks + sizeof(Group<V>) * i);
    cryptTogether<ENCRYPT>(g, subkeys);
    for (size_t i = 0; i < N; ++i) storeGroup(blocks + sizeof(Group<V>) * i, g[i]);
}

template <bool ENCRYPT, class V>
SERPENT_SIMD_INLINE void cryptGroups(const uint8_t* subkeys, uint8_t* blocks, size_t groups) {
    Group<V> pair[2];
    Group<V> single[1];
    for (; groups >= 2; groups -= 2, blocks += 2 * sizeof(Group<V>)) {
        cryptBlocksTogether<ENCRYPT>(subkeys, blocks, pair);
    }
    if (groups == 1) cryptBlocksTogether<ENCRYPT>(subkeys, blocks, single);
    secureWipe(pair, sizeof pair);
    secureWipe(single, sizeof single);
}

// Each group's ciphertext stays in registers until its plaintext is stored, so out may be in.
template <class V, size_t N>
SERPENT_SIMD_INLINE void cbcDecryptTogether(const uint8_t* subkeys, V& previous, const uint8_t* in, uint8_t* out,
                                            Group<V> (&ciphertext)[N], Group<V> (&g)[N]) {
    for (size_t i = 0; i < N; ++i) {
        loadGroup(ciphertext[i], in + sizeof(Group<V>) * i);
        g[i] = ciphertext[i];
    }
    cryptTogether<false>(g, subkeys);
    for (size_t i = 0; i < N; ++i) {
        xorPreviousBlocks(g[i].v[0], previous, ciphertext[i].v[0]);
        for (size_t j = 1; j < 4; ++j) xorPreviousBlocks(g[i].v[j], ciphertext[i].v[j - 1], ciphertext[i].v[j]);
        storeGroup(out + sizeof(Group<V>) * i, g[i]);
        previous = ciphertext[i].v[3];
    }
}

template <class V>
SERPENT_SIMD_INLINE void cbcDecryptGroups(const uint8_t* subkeys, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                                          size_t groups) {
    V previous;
    Group<V> ciphertextPair[2];
    Group<V> pair[2];
    Group<V> ciphertextSingle[1];
    Group<V> single[1];
    loadChaining(previous, iv);
    for (; groups >= 2; groups -= 2, in += 2 * sizeof(Group<V>), out += 2 * sizeof(Group<V>)) {
        cbcDecryptTogether(subkeys, previous, in, out, ciphertextPair, pair);
    }
    if (groups == 1) cbcDecryptTogether(subkeys, previous, in, out, ciphertextSingle, single);
    storeChaining(iv, previous);
    secureWipe(pair, sizeof pair);
    secureWipe(single, sizeof single);
    secureWipe(ciphertextPair, sizeof ciphertextPair);
    secureWipe(ciphertextSingle, sizeof ciphertextSingle);
}

// Where each slot of a phase starts: its first plaintext block and the block that is chained to
// it. Every step moves each slot on by its stride: 16 through a lane's data, or 0 to keep an idle
// slot on one spare block. Slot s is in group s / (blocks per group).

struct LaneSlots {
    uint8_t* block[LANE_SLOTS_MAX];
    const uint8_t* chain[LANE_SLOTS_MAX];
    size_t stride[LANE_SLOTS_MAX];
};

// The chain stays in registers in bitslice form from one step to the next: XOR is the same
// whether the words are transposed or not. All slots' blocks of a step are loaded before any is
// stored, so idle slots may share their block.
template <class V, size_t N>
SERPENT_SIMD_INLINE void laneSteps(const uint8_t* subkeys, const LaneSlots& slots, size_t steps) {
    constexpr size_t slotsPerGroup = groupBlocks<V>();
    Group<V> chain[N];
    for (size_t i = 0; i < N; ++i) {
        loadSlots(chain[i], slots.chain + slotsPerGroup * i);
        transpose(chain[i]);
    }
    uint8_t* block[LANE_SLOTS_MAX];
    for (size_t j = 0; j < slotsPerGroup * N; ++j) block[j] = slots.block[j];
    Group<V> plaintext;
    Group<V> ciphertext;
    for (size_t step = 0; step < steps; ++step) {
        for (size_t i = 0; i < N; ++i) {
            loadSlots(plaintext, block + slotsPerGroup * i);
            transpose(plaintext);
            for (size_t j = 0; j < 4; ++j) chain[i].v[j] ^= plaintext.v[j];
        }
        cryptBitsliced<true>(chain, subkeys);
        for (size_t i = 0; i < N; ++i) {
            ciphertext = chain[i];
            transpose(ciphertext);
            storeSlots(block + slotsPerGroup * i, ciphertext);
        }
        for (size_t j = 0; j < slotsPerGroup * N; ++j) block[j] += slots.stride[j];
    }
    secureWipe(chain, sizeof chain);
    secureWipe(&plaintext, sizeof plaintext);
    secureWipe(&ciphertext, sizeof ciphertext);
}

// The entry points with instructions of their own. SSE2 is the 32-bit processors' extension too,
// so the same file builds for 32-bit Windows, where it is not the compiler's default.
[[gnu::target("sse2")]] void sse2EncryptGroups(const uint8_t* subkeys, uint8_t* blocks, size_t groups) {
    cryptGroups<true, Words4>(subkeys, blocks, groups);
}
[[gnu::target("sse2")]] void sse2DecryptGroups(const uint8_t* subkeys, uint8_t* blocks, size_t groups) {
    cryptGroups<false, Words4>(subkeys, blocks, groups);
}
[[gnu::target("sse2")]] void sse2CbcDecryptGroups(const uint8_t* subkeys, uint8_t iv[16], const uint8_t* in,
                                                  uint8_t* out, size_t groups) {
    cbcDecryptGroups<Words4>(subkeys, iv, in, out, groups);
}
[[gnu::target("sse2")]] void sse2LaneSteps(const uint8_t* subkeys, const LaneSlots& slots, size_t steps) {
    laneSteps<Words4, 1>(subkeys, slots, steps);
}
[[gnu::target("sse2")]] void sse2LaneStepsPaired(const uint8_t* subkeys, const LaneSlots& slots, size_t steps) {
    laneSteps<Words4, 2>(subkeys, slots, steps);
}

[[gnu::target("avx2")]] void avx2EncryptGroups(const uint8_t* subkeys, uint8_t* blocks, size_t groups) {
    cryptGroups<true, Words8>(subkeys, blocks, groups);
}
[[gnu::target("avx2")]] void avx2DecryptGroups(const uint8_t* subkeys, uint8_t* blocks, size_t groups) {
    cryptGroups<false, Words8>(subkeys, blocks, groups);
}
[[gnu::target("avx2")]] void avx2CbcDecryptGroups(const uint8_t* subkeys, uint8_t iv[16], const uint8_t* in,
                                                  uint8_t* out, size_t groups) {
    cbcDecryptGroups<Words8>(subkeys, iv, in, out, groups);
}
[[gnu::target("avx2")]] void avx2LaneSteps(const uint8_t* subkeys, const LaneSlots& slots, size_t steps) {
    laneSteps<Words8, 1>(subkeys, slots, steps);
}
[[gnu::target("avx2")]] void avx2LaneStepsPaired(const uint8_t* subkeys, const LaneSlots& slots, size_t steps) {
    laneSteps<Words8, 2>(subkeys, slots, steps);
}

#endif  // SERPENT_SIMD_X86

// --- Paths over any number of blocks ---

#if SERPENT_SIMD_X86

enum GroupKind { GROUP_SSE2, GROUP_AVX2 };

size_t groupBlocksOf(GroupKind kind) {
    switch (kind) {
    case GROUP_SSE2: return SERPENT_SSE2_GROUP_BLOCKS;
    case GROUP_AVX2: return SERPENT_AVX2_GROUP_BLOCKS;
    }
    return SERPENT_SSE2_GROUP_BLOCKS;
}

GroupKind widestGroup(SerpentEngine path) { return path == SERPENT_ENGINE_AVX2 ? GROUP_AVX2 : GROUP_SSE2; }

// The group for the blocks left after the widest whole groups: the narrowest that holds them.
GroupKind tailGroup(size_t count) { return count > SERPENT_SSE2_GROUP_BLOCKS ? GROUP_AVX2 : GROUP_SSE2; }

void runCryptGroups(GroupKind kind, bool encrypt, const uint8_t* subkeys, uint8_t* blocks, size_t groups) {
    switch (kind) {
    case GROUP_SSE2:
        if (encrypt)
            sse2EncryptGroups(subkeys, blocks, groups);
        else
            sse2DecryptGroups(subkeys, blocks, groups);
        break;
    case GROUP_AVX2:
        if (encrypt)
            avx2EncryptGroups(subkeys, blocks, groups);
        else
            avx2DecryptGroups(subkeys, blocks, groups);
        break;
    }
}

void runCbcDecryptGroups(GroupKind kind, const uint8_t* subkeys, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                         size_t groups) {
    switch (kind) {
    case GROUP_SSE2: sse2CbcDecryptGroups(subkeys, iv, in, out, groups); break;
    case GROUP_AVX2: avx2CbcDecryptGroups(subkeys, iv, in, out, groups); break;
    }
}

void simdCryptBlocks(SerpentEngine path, bool encrypt, const SerpentKeySchedule& schedule, uint8_t* blocks,
                     size_t count) {
    const uint8_t* subkeys = schedule.subkeys.data();
    const GroupKind widest = widestGroup(path);
    const size_t whole = count / groupBlocksOf(widest);
    runCryptGroups(widest, encrypt, subkeys, blocks, whole);
    blocks += BLOCK * groupBlocksOf(widest) * whole;
    count -= groupBlocksOf(widest) * whole;
    if (count <= PORTABLE_MAX_BLOCKS) {
        if (encrypt)
            portableEncryptBlocks(schedule, blocks, count);
        else
            portableDecryptBlocks(schedule, blocks, count);
        return;
    }
    const GroupKind tail = tailGroup(count);
    if (count == groupBlocksOf(tail)) {
        runCryptGroups(tail, encrypt, subkeys, blocks, 1);
        return;
    }
    uint8_t padded[BLOCK * SERPENT_AVX2_GROUP_BLOCKS] = {};
    std::memcpy(padded, blocks, BLOCK * count);
    runCryptGroups(tail, encrypt, subkeys, padded, 1);
    std::memcpy(blocks, padded, BLOCK * count);
    secureWipe(padded, sizeof padded);
}

void simdCbcDecrypt(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t iv[16], const uint8_t* in,
                    uint8_t* out, size_t count) {
    const uint8_t* subkeys = schedule.subkeys.data();
    const GroupKind widest = widestGroup(path);
    const size_t whole = count / groupBlocksOf(widest);
    runCbcDecryptGroups(widest, subkeys, iv, in, out, whole);
    in += BLOCK * groupBlocksOf(widest) * whole;
    out += BLOCK * groupBlocksOf(widest) * whole;
    count -= groupBlocksOf(widest) * whole;
    if (count <= PORTABLE_MAX_BLOCKS) {
        portableCbcDecrypt(schedule, iv, in, out, count);
        return;
    }
    const GroupKind tail = tailGroup(count);
    if (count == groupBlocksOf(tail)) {
        runCbcDecryptGroups(tail, subkeys, iv, in, out, 1);
        return;
    }
    // The padded group ends on a zero block, which the kernel leaves in iv: the chain goes on
    // from the last real ciphertext block instead.
    uint8_t input[BLOCK * SERPENT_AVX2_GROUP_BLOCKS] = {};
    uint8_t output[BLOCK * SERPENT_AVX2_GROUP_BLOCKS];
    std::memcpy(input, in, BLOCK * count);
    runCbcDecryptGroups(tail, subkeys, iv, input, output, 1);
    std::memcpy(out, output, BLOCK * count);
    std::memcpy(iv, input + BLOCK * (count - 1), BLOCK);
    secureWipe(output, sizeof output);
    secureWipe(input, sizeof input);
}

#endif  // SERPENT_SIMD_X86

// --- CBC lanes ---

enum LaneEngine { LANE_PORTABLE, LANE_SSE2, LANE_SSE2_PAIRED, LANE_AVX2, LANE_AVX2_PAIRED };

size_t laneEngineSlots(LaneEngine engine) {
    switch (engine) {
    case LANE_PORTABLE: return 1;
    case LANE_SSE2: return SERPENT_SSE2_GROUP_BLOCKS;
    case LANE_SSE2_PAIRED: return 2 * SERPENT_SSE2_GROUP_BLOCKS;
    case LANE_AVX2: return SERPENT_AVX2_GROUP_BLOCKS;
    case LANE_AVX2_PAIRED: return 2 * SERPENT_AVX2_GROUP_BLOCKS;
    }
    return 1;
}

// The engine for a number of lanes that still have blocks: the fewest slots that take them all,
// or the most the path has. Two groups side by side take little longer than one (their chains of
// dependent operations overlap), and an AVX2 group of eight little longer than an SSE2 group of four.
LaneEngine laneEngineFor(SerpentEngine path, size_t activeLanes) {
    if (activeLanes <= PORTABLE_MAX_BLOCKS) return LANE_PORTABLE;
    switch (path) {
    case SERPENT_ENGINE_PORTABLE: return LANE_PORTABLE;
    case SERPENT_ENGINE_SSE2: return activeLanes > SERPENT_SSE2_GROUP_BLOCKS ? LANE_SSE2_PAIRED : LANE_SSE2;
    case SERPENT_ENGINE_AVX2:
        if (activeLanes > SERPENT_AVX2_GROUP_BLOCKS) return LANE_AVX2_PAIRED;
        return activeLanes > SERPENT_SSE2_GROUP_BLOCKS ? LANE_AVX2 : LANE_SSE2;
    }
    return LANE_PORTABLE;
}

// The kernel for cbcLanesEncrypt: a pass's lanes in the slots of the engine for their number
// (laneEngineFor gives the same engine for the lanes picked as for all that were waiting), and the
// slots without a lane on one spare block, which the owner wipes afterwards.
struct LaneKernel {
    SerpentEngine path;
    const SerpentKeySchedule& schedule;
    uint8_t spare[BLOCK];

    void operator()(const CbcLanePass& pass) {
        const LaneEngine engine = laneEngineFor(path, pass.laneCount);
        if (engine == LANE_PORTABLE) {
            for (size_t k = 0; k < pass.laneCount; ++k) {
                portableCbcEncryptSteps(schedule, pass.blocks[k], pass.chains[k], pass.blockCount);
            }
            return;
        }
#if SERPENT_SIMD_X86
        LaneSlots slots{};
        for (size_t k = 0; k < laneEngineSlots(engine); ++k) {
            if (k < pass.laneCount) {
                slots.block[k] = pass.blocks[k];
                slots.chain[k] = pass.chains[k];
                slots.stride[k] = BLOCK;
            } else {
                slots.block[k] = spare;
                slots.chain[k] = spare;
                slots.stride[k] = 0;
            }
        }
        const uint8_t* subkeys = schedule.subkeys.data();
        switch (engine) {
        case LANE_PORTABLE: break;
        case LANE_SSE2: sse2LaneSteps(subkeys, slots, pass.blockCount); break;
        case LANE_SSE2_PAIRED: sse2LaneStepsPaired(subkeys, slots, pass.blockCount); break;
        case LANE_AVX2: avx2LaneSteps(subkeys, slots, pass.blockCount); break;
        case LANE_AVX2_PAIRED: avx2LaneStepsPaired(subkeys, slots, pass.blockCount); break;
        }
#endif
    }
};

}  // namespace

bool serpentEngineAvailable(SerpentEngine path) {
    const CpuFeatures& features = cpuFeatures();
    const bool sse2 = features.sse2 && !hiddenFeatures.sse2;
    const bool avx2 = features.avx2 && !hiddenFeatures.avx2;
    switch (path) {
    case SERPENT_ENGINE_PORTABLE: return true;
    case SERPENT_ENGINE_SSE2: return SERPENT_SIMD_X86 && sse2;
    // The AVX2 path finishes with SSE2 groups.
    case SERPENT_ENGINE_AVX2: return SERPENT_SIMD_X86 && sse2 && avx2;
    }
    return false;
}

namespace {

SerpentEngine chooseEngine() {
    if (serpentEngineAvailable(SERPENT_ENGINE_AVX2)) return SERPENT_ENGINE_AVX2;
    if (serpentEngineAvailable(SERPENT_ENGINE_SSE2)) return SERPENT_ENGINE_SSE2;
    return SERPENT_ENGINE_PORTABLE;
}

// The choice, made on the first call; only the test seam makes it again.
SerpentEngine& preferredEngine() {
    static SerpentEngine engine = chooseEngine();
    return engine;
}

}  // namespace

CpuFeatures serpentHideCpuFeatures(const CpuFeatures& hidden) {
    const CpuFeatures previous = hiddenFeatures;
    hiddenFeatures = hidden;
    preferredEngine() = chooseEngine();
    return previous;
}

SerpentEngine serpentPreferredEngine() { return preferredEngine(); }

bool serpentEncryptBlocks(const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count) {
    return serpentEncryptBlocksOn(serpentPreferredEngine(), schedule, blocks, count);
}

bool serpentDecryptBlocks(const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count) {
    return serpentDecryptBlocksOn(serpentPreferredEngine(), schedule, blocks, count);
}

bool serpentCbcDecrypt(const SerpentKeySchedule& schedule, uint8_t iv[16], uint8_t* data, size_t length) {
    return serpentCbcDecryptOn(serpentPreferredEngine(), schedule, iv, data, data, length);
}

bool serpentCbcDecryptInto(const SerpentKeySchedule& schedule, uint8_t iv[16], const uint8_t* in, uint8_t* out,
                           size_t length) {
    return serpentCbcDecryptOn(serpentPreferredEngine(), schedule, iv, in, out, length);
}

bool serpentCbcEncryptLanes(const SerpentKeySchedule& schedule, CbcLane* lanes, size_t laneCount) {
    return serpentCbcEncryptLanesOn(serpentPreferredEngine(), schedule, lanes, laneCount);
}

bool serpentEncryptBlocksOn(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count) {
    if (!serpentEngineAvailable(path)) return false;
    if (!schedule.valid) {
        if (count != 0) secureWipe(blocks, BLOCK * count);
        return false;
    }
#if SERPENT_SIMD_X86
    if (path != SERPENT_ENGINE_PORTABLE) {
        simdCryptBlocks(path, true, schedule, blocks, count);
        stackScrub();
        return true;
    }
#endif
    portableEncryptBlocks(schedule, blocks, count);
    return true;
}

bool serpentDecryptBlocksOn(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count) {
    if (!serpentEngineAvailable(path) || !schedule.valid) return false;
#if SERPENT_SIMD_X86
    if (path != SERPENT_ENGINE_PORTABLE) {
        simdCryptBlocks(path, false, schedule, blocks, count);
        stackScrub();
        return true;
    }
#endif
    portableDecryptBlocks(schedule, blocks, count);
    return true;
}

bool serpentCbcDecryptOn(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t iv[16], const uint8_t* in,
                         uint8_t* out, size_t length) {
    if (!serpentEngineAvailable(path) || !schedule.valid || !lengthIsWholeBlocks(length)) return false;
#if SERPENT_SIMD_X86
    if (path != SERPENT_ENGINE_PORTABLE) {
        simdCbcDecrypt(path, schedule, iv, in, out, length / BLOCK);
        stackScrub();
        return true;
    }
#endif
    portableCbcDecrypt(schedule, iv, in, out, length / BLOCK);
    return true;
}

bool serpentCbcEncryptLanesOn(SerpentEngine path, const SerpentKeySchedule& schedule, CbcLane* lanes,
                              size_t laneCount) {
    if (!serpentEngineAvailable(path)) return false;
    if (!schedule.valid) {
        for (size_t i = 0; i < laneCount; ++i) {
            secureWipe(lanes[i].chainingBlock, BLOCK);
            if (lanes[i].blockCount != 0) secureWipe(lanes[i].data, BLOCK * lanes[i].blockCount);
        }
        return false;
    }
    LaneKernel kernel{path, schedule, {}};
    cbcLanesEncrypt(
        lanes, laneCount, [path](size_t active) { return laneEngineSlots(laneEngineFor(path, active)); }, kernel);
    secureWipe(kernel.spare, sizeof kernel.spare);
    if (path != SERPENT_ENGINE_PORTABLE) stackScrub();
    return true;
}
