// AES-NI rounds. The schedule's round keys are read in its own layout (each word least-significant
// byte first, row 0 in the word's top byte) and turned into the instructions' byte order once per
// call. The decryption round keys of the schedule are already those of the equivalent inverse
// cipher, which is what aesdec expects. Independent blocks (ECB, CBC decryption, and the blocks of
// separate CBC chains) run several at a time so that the instructions' latency overlaps.

#include "crypto/aes_ni.h"

#include <cstdlib>

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

#include "base/secure_buffer.h"
#include "crypto/cbc_lanes.h"

#define FERROLYN_AES_NI_TARGET __attribute__((target("aes,ssse3")))

namespace {

// Blocks in flight: eight fill the sixteen vector registers of x86-64 with the round key and the
// chaining values; i686 has eight registers in all.
#if defined(__x86_64__)
constexpr size_t LANES = 8;
#else
constexpr size_t LANES = 4;
#endif

// Round keys in the instructions' byte order, wiped by the owner before it returns.
struct RoundKeys {
    __m128i key[AES_MAX_ROUNDS + 1];
    uint32_t rounds;
};

FERROLYN_AES_NI_TARGET inline void loadRoundKeys(const SecureBuffer& words, uint32_t rounds, RoundKeys& keys) {
    // Reverses each 4-byte group: the schedule's words hold row 0 in their most significant byte
    // and store it last.
    const __m128i reverseWords = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    for (uint32_t r = 0; r <= rounds; ++r) {
        const __m128i stored = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words.data() + 16 * r));
        keys.key[r] = _mm_shuffle_epi8(stored, reverseWords);
    }
    keys.rounds = rounds;
}

FERROLYN_AES_NI_TARGET inline void wipeRoundKeys(RoundKeys& keys) { secureWipe(&keys, sizeof keys); }

FERROLYN_AES_NI_TARGET inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

FERROLYN_AES_NI_TARGET inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

template <bool ENCRYPT>
FERROLYN_AES_NI_TARGET inline __m128i aesRound(__m128i x, __m128i key) {
    if constexpr (ENCRYPT) return _mm_aesenc_si128(x, key);
    return _mm_aesdec_si128(x, key);
}

template <bool ENCRYPT>
FERROLYN_AES_NI_TARGET inline __m128i aesLastRound(__m128i x, __m128i key) {
    if constexpr (ENCRYPT) return _mm_aesenclast_si128(x, key);
    return _mm_aesdeclast_si128(x, key);
}

// All rounds on N blocks at once, each round key loaded once for all of them. Decryption takes
// the schedule's decryption round keys.
template <bool ENCRYPT, size_t N>
FERROLYN_AES_NI_TARGET inline void cryptLanes(__m128i (&x)[N], const RoundKeys& keys) {
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i) x[i] = _mm_xor_si128(x[i], keys.key[0]);
    for (uint32_t r = 1; r < keys.rounds; ++r) {
        const __m128i key = keys.key[r];
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i) x[i] = aesRound<ENCRYPT>(x[i], key);
    }
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i) x[i] = aesLastRound<ENCRYPT>(x[i], keys.key[keys.rounds]);
}

template <bool ENCRYPT>
FERROLYN_AES_NI_TARGET inline void transformBlocks(const RoundKeys& keys, uint8_t* blocks, size_t blockCount) {
    size_t n = 0;
    for (; n + LANES <= blockCount; n += LANES) {
        __m128i x[LANES];
#pragma GCC unroll 8
        for (size_t i = 0; i < LANES; ++i) x[i] = load(blocks + 16 * (n + i));
        cryptLanes<ENCRYPT>(x, keys);
#pragma GCC unroll 8
        for (size_t i = 0; i < LANES; ++i) store(blocks + 16 * (n + i), x[i]);
    }
    for (; n < blockCount; ++n) {
        __m128i x[1] = {load(blocks + 16 * n)};
        cryptLanes<ENCRYPT>(x, keys);
        store(blocks + 16 * n, x[0]);
    }
}

// CBC encryption of steps blocks in each of N chains side by side, chain i at data[i] starting
// from the chaining value chaining[i]. The chains' rounds interleave, so N chains take
// about the time of one until the instructions' throughput is reached.
template <size_t N>
FERROLYN_AES_NI_TARGET void cbcEncryptSideBySide(const RoundKeys& keys, uint8_t* const* data, const __m128i* chaining,
                                                 size_t steps) {
    const __m128i firstKey = keys.key[0];
    const __m128i lastKey = keys.key[keys.rounds];
    __m128i x[N];
#pragma GCC unroll 8
    for (size_t i = 0; i < N; ++i) x[i] = chaining[i];
    for (size_t n = 0; n < steps; ++n) {
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i) x[i] = _mm_xor_si128(x[i], _mm_xor_si128(load(data[i] + 16 * n), firstKey));
        for (uint32_t r = 1; r < keys.rounds; ++r) {
            const __m128i key = keys.key[r];
#pragma GCC unroll 8
            for (size_t i = 0; i < N; ++i) x[i] = _mm_aesenc_si128(x[i], key);
        }
#pragma GCC unroll 8
        for (size_t i = 0; i < N; ++i) {
            x[i] = _mm_aesenclast_si128(x[i], lastKey);
            store(data[i] + 16 * n, x[i]);
        }
    }
}

// cbcEncryptSideBySide for count chains, 1 ≤ count ≤ N.
template <size_t N>
FERROLYN_AES_NI_TARGET void cbcEncryptChains(size_t count, const RoundKeys& keys, uint8_t* const* data,
                                             const __m128i* chaining, size_t steps) {
    if constexpr (N > 1) {
        if (count < N) {
            cbcEncryptChains<N - 1>(count, keys, data, chaining, steps);
            return;
        }
    }
    cbcEncryptSideBySide<N>(keys, data, chaining, steps);
}

// The kernel for cbcLanesEncrypt: each pass's lanes side by side.
struct LaneKernel {
    const RoundKeys& keys;

    FERROLYN_AES_NI_TARGET void operator()(const CbcLanePass& pass) const {
        __m128i chaining[LANES];
        for (size_t k = 0; k < pass.laneCount; ++k) chaining[k] = load(pass.chains[k]);
        cbcEncryptChains<LANES>(pass.laneCount, keys, pass.blocks, chaining, pass.blockCount);
    }
};

}  // namespace

FERROLYN_AES_NI_TARGET
void aesNiEncryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount) {
    RoundKeys keys;
    loadRoundKeys(schedule.encryptionRoundKeys, schedule.rounds, keys);
    transformBlocks<true>(keys, blocks, blockCount);
    wipeRoundKeys(keys);
}

FERROLYN_AES_NI_TARGET
void aesNiDecryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount) {
    RoundKeys keys;
    loadRoundKeys(schedule.decryptionRoundKeys, schedule.rounds, keys);
    transformBlocks<false>(keys, blocks, blockCount);
    wipeRoundKeys(keys);
}

FERROLYN_AES_NI_TARGET
void aesNiCbcEncrypt(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount) {
    RoundKeys keys;
    loadRoundKeys(schedule.encryptionRoundKeys, schedule.rounds, keys);
    // Each block waits for the one before, so only the chain's latency counts: the plaintext meets
    // round key 0 before the previous ciphertext arrives, leaving one XOR on the chain.
    const __m128i firstKey = keys.key[0];
    const __m128i lastKey = keys.key[keys.rounds];
    __m128i chaining = load(iv);
    for (size_t n = 0; n < blockCount; ++n) {
        __m128i x = _mm_xor_si128(_mm_xor_si128(load(blocks + 16 * n), firstKey), chaining);
        for (uint32_t r = 1; r < keys.rounds; ++r) x = _mm_aesenc_si128(x, keys.key[r]);
        chaining = _mm_aesenclast_si128(x, lastKey);
        store(blocks + 16 * n, chaining);
    }
    wipeRoundKeys(keys);
}

FERROLYN_AES_NI_TARGET
void aesNiCbcEncryptLanes(const AesKeySchedule& schedule, CbcLane* lanes, size_t laneCount) {
    RoundKeys keys;
    loadRoundKeys(schedule.encryptionRoundKeys, schedule.rounds, keys);
    LaneKernel kernel{keys};
    cbcLanesEncrypt(
        lanes, laneCount, [](size_t) { return LANES; }, kernel);
    wipeRoundKeys(keys);
}

FERROLYN_AES_NI_TARGET
void aesNiCbcDecrypt(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input, uint8_t* output,
                     size_t blockCount) {
    RoundKeys keys;
    loadRoundKeys(schedule.decryptionRoundKeys, schedule.rounds, keys);
    __m128i previous = load(iv);
    size_t n = 0;
    for (; n + LANES <= blockCount; n += LANES) {
        const uint8_t* in = input + 16 * n;
        __m128i x[LANES];
#pragma GCC unroll 8
        for (size_t i = 0; i < LANES; ++i) x[i] = load(in + 16 * i);
        const __m128i last = x[LANES - 1];
        cryptLanes<false>(x, keys);
        // The earlier ciphertext blocks are read again rather than kept in registers; every read
        // comes before the first store, so output may be input itself.
        x[0] = _mm_xor_si128(x[0], previous);
#pragma GCC unroll 8
        for (size_t i = 1; i < LANES; ++i) x[i] = _mm_xor_si128(x[i], load(in + 16 * (i - 1)));
#pragma GCC unroll 8
        for (size_t i = 0; i < LANES; ++i) store(output + 16 * (n + i), x[i]);
        previous = last;
    }
    for (; n < blockCount; ++n) {
        __m128i x[1] = {load(input + 16 * n)};
        const __m128i ciphertext = x[0];
        cryptLanes<false>(x, keys);
        store(output + 16 * n, _mm_xor_si128(x[0], previous));
        previous = ciphertext;
    }
    wipeRoundKeys(keys);
}

#else

// Other processors never report the instructions, so nothing calls these.
void aesNiEncryptBlocks(const AesKeySchedule&, uint8_t*, size_t) { std::abort(); }
void aesNiDecryptBlocks(const AesKeySchedule&, uint8_t*, size_t) { std::abort(); }
void aesNiCbcEncrypt(const AesKeySchedule&, const uint8_t*, uint8_t*, size_t) { std::abort(); }
void aesNiCbcEncryptLanes(const AesKeySchedule&, CbcLane*, size_t) { std::abort(); }
void aesNiCbcDecrypt(const AesKeySchedule&, const uint8_t*, const uint8_t*, uint8_t*, size_t) { std::abort(); }

#endif
