// SHA-256 rounds with sha256rnds2, sha256msg1 and sha256msg2. The instructions keep the working
// variables as the pairs ABEF and CDGH and take two rounds' message-plus-constant words at a time;
// the state is rearranged into that form once per call, not per block.

#include "crypto/sha256_ni.h"

#include <cstdlib>

#if defined(__i386__) || defined(__x86_64__)

#include <immintrin.h>

#include "base/secure_buffer.h"
#include "crypto/sha256_constants.h"

#define FERROLYN_SHA_NI_TARGET __attribute__((target("sha,sse4.1,ssse3")))

FERROLYN_SHA_NI_TARGET
void sha256NiCompress(uint32_t state[8], const uint8_t* blocks, size_t blockCount) {
    // Message words are big-endian in the block: reverse the bytes of each 32-bit lane.
    const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    const __m128i* constants = reinterpret_cast<const __m128i*>(SHA256_ROUND_CONSTANTS);

    // state[0..3] = A B C D and state[4..7] = E F G H (lane 0 first) become ABEF and CDGH with A
    // and C in the top lane, as sha256rnds2 expects.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    dcba = _mm_shuffle_epi32(dcba, 0xb1);              // C D A B
    hgfe = _mm_shuffle_epi32(hgfe, 0x1b);              // H G F E
    __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);     // A B E F
    __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xf0);  // C D G H

    // The state between blocks lives in memory that is named, so that it can be wiped before the
    // return. i686 has too few vector registers to keep it through a block, and a spill slot of
    // the compiler's would outlive the call with the state in it; x86-64 keeps every value in
    // registers, and only reads the block's starting state back from here.
    __m128i between[2] = {abef, cdgh};
    for (size_t n = 0; n < blockCount; ++n, blocks += 64) {
        abef = between[0];
        cdgh = between[1];
        // Makes the final addition read between again instead of a copy that the compiler would
        // have to keep, on i686 in a spill slot of its own, through the block.
        __asm__ volatile("" ::: "memory");
        // message[g % 4] holds schedule words 4g..4g+3 while group g of four rounds runs. The
        // words of group g + 1 are made during group g, before sha256msg1 overwrites those of
        // group g − 1 with the start of group g + 3.
        __m128i message[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i& current = message[group & 3];
            if (group < 4) {
                current =
                    _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * group)), byteSwap);
            }
            __m128i words = _mm_add_epi32(current, _mm_load_si128(constants + group));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            if (group >= 3 && group < 15) {
                // next holds W[i−16] + σ0(W[i−15]) from sha256msg1; add W[i−7], then σ1(W[i−2]).
                __m128i& next = message[(group + 1) & 3];
                const __m128i& previous = message[(group - 1) & 3];
                next = _mm_add_epi32(next, _mm_alignr_epi8(current, previous, 4));
                next = _mm_sha256msg2_epu32(next, current);
            }
            words = _mm_shuffle_epi32(words, 0x0e);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
            if (group >= 1 && group <= 12) {
                __m128i& previous = message[(group - 1) & 3];
                previous = _mm_sha256msg1_epu32(previous, current);
            }
        }
        between[0] = _mm_add_epi32(abef, between[0]);
        between[1] = _mm_add_epi32(cdgh, between[1]);
    }

    const __m128i feba = _mm_shuffle_epi32(between[0], 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(between[1], 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xf0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
    // Last, so that no vector is live across the call.
    secureWipe(between, sizeof between);
}

#else

// Other processors never report the instructions, so nothing calls this.
void sha256NiCompress(uint32_t*, const uint8_t*, size_t) { std::abort(); }

#endif
