// Serpent's rounds on a block in bitslice form, written once for every word type: the key mixing,
// the S-box of each round, the linear transformation and their inverses, and the 32 rounds in
// each direction. Internal to crypto/serpent.cpp (W = uint32_t, one block) and
// crypto/serpent_simd.cpp (W = a SIMD vector, one block per element).
#pragma once

// W needs ^, &, |, ~, << and >> by a constant, and ^ with a uint32_t that reaches every element:
// uint32_t itself and GCC's vector types of uint32_t have them all. Everything here is always
// inlined (see crypto/serpent_sboxes.h): a SIMD kernel takes the rounds into its own target, and a
// single block keeps its four words in registers from the first round to the last. Constant-time:
// nothing branches on or indexes by key or data.

#include <cstdint>

#include "base/byte_order.h"
#include "crypto/serpent_sboxes.h"

#define SERPENT_ROUND_INLINE [[gnu::always_inline]] inline

// The block as four words: x_j holds word j of the block (of every block, for a vector).
template <class W>
struct SerpentBitslice {
    W x0;
    W x1;
    W x2;
    W x3;
};

template <int N, class W>
SERPENT_ROUND_INLINE void serpentRotateLeft(W& v) {
    v = (v << N) | (v >> (32 - N));
}

template <int N, class W>
SERPENT_ROUND_INLINE void serpentRotateRight(W& v) {
    v = (v >> N) | (v << (32 - N));
}

// subkeys holds the 33 subkeys of a SerpentKeySchedule, 16 bytes each, every word least-significant
// byte first. A subkey word XORed into a vector goes into every element, that is into every block.
template <class W>
SERPENT_ROUND_INLINE void serpentMixSubkey(SerpentBitslice<W>& s, const uint8_t* subkeys, unsigned index) {
    const uint8_t* k = subkeys + 16 * index;
    s.x0 ^= load32Le(k);
    s.x1 ^= load32Le(k + 4);
    s.x2 ^= load32Le(k + 8);
    s.x3 ^= load32Le(k + 12);
}

template <int BOX, class W>
SERPENT_ROUND_INLINE void serpentSbox(SerpentBitslice<W>& s) {
    if constexpr (BOX == 0) serpentS0(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 1) serpentS1(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 2) serpentS2(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 3) serpentS3(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 4) serpentS4(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 5) serpentS5(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 6) serpentS6(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 7) serpentS7(s.x0, s.x1, s.x2, s.x3);
}

template <int BOX, class W>
SERPENT_ROUND_INLINE void serpentInverseSbox(SerpentBitslice<W>& s) {
    if constexpr (BOX == 0) serpentInverseS0(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 1) serpentInverseS1(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 2) serpentInverseS2(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 3) serpentInverseS3(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 4) serpentInverseS4(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 5) serpentInverseS5(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 6) serpentInverseS6(s.x0, s.x1, s.x2, s.x3);
    if constexpr (BOX == 7) serpentInverseS7(s.x0, s.x1, s.x2, s.x3);
}

// The linear transformation followed by the XOR of subkey `index`. The subkey words for x0 and
// x2 go in before the final rotations (rotated back to match), which takes the XOR off the chain
// of dependent operations that runs through a block's rounds. Steps of the transformation:
//   x0 <<<= 13; x2 <<<= 3; x1 ^= x0 ^ x2; x3 ^= x2 ^ (x0 << 3); x1 <<<= 1; x3 <<<= 7;
//   x0 ^= x1 ^ x3; x2 ^= x3 ^ (x1 << 7); x0 <<<= 5; x2 <<<= 22.
template <class W>
SERPENT_ROUND_INLINE void serpentLinearTransformAndMix(SerpentBitslice<W>& s, const uint8_t* subkeys, unsigned index) {
    const uint8_t* k = subkeys + 16 * index;
    serpentRotateLeft<13>(s.x0);
    serpentRotateLeft<3>(s.x2);
    s.x1 ^= s.x0 ^ s.x2;
    s.x3 ^= s.x2 ^ (s.x0 << 3);
    serpentRotateLeft<1>(s.x1);
    serpentRotateLeft<7>(s.x3);
    s.x0 ^= rotr32(load32Le(k), 5);
    s.x2 ^= rotr32(load32Le(k + 8), 22);
    s.x0 ^= s.x1 ^ s.x3;
    s.x2 ^= s.x3 ^ (s.x1 << 7);
    serpentRotateLeft<5>(s.x0);
    serpentRotateLeft<22>(s.x2);
    s.x1 ^= load32Le(k + 4);
    s.x3 ^= load32Le(k + 12);
}

template <class W>
SERPENT_ROUND_INLINE void serpentInverseLinearTransform(SerpentBitslice<W>& s) {
    serpentRotateRight<22>(s.x2);
    serpentRotateRight<5>(s.x0);
    s.x2 ^= s.x3 ^ (s.x1 << 7);
    s.x0 ^= s.x1 ^ s.x3;
    serpentRotateRight<7>(s.x3);
    serpentRotateRight<1>(s.x1);
    s.x3 ^= s.x2 ^ (s.x0 << 3);
    s.x1 ^= s.x0 ^ s.x2;
    serpentRotateRight<3>(s.x2);
    serpentRotateRight<13>(s.x0);
}

// Rounds 0..30 of encryption without their first subkey, which the previous round (or the
// start) has already mixed in.
template <int BOX, class W>
SERPENT_ROUND_INLINE void serpentEncryptRound(SerpentBitslice<W>& s, const uint8_t* subkeys, unsigned round) {
    serpentSbox<BOX>(s);
    serpentLinearTransformAndMix(s, subkeys, round + 1);
}

template <int BOX, class W>
SERPENT_ROUND_INLINE void serpentDecryptRound(SerpentBitslice<W>& s, const uint8_t* subkeys, unsigned round) {
    serpentInverseLinearTransform(s);
    serpentInverseSbox<BOX>(s);
    serpentMixSubkey(s, subkeys, round);
}

// The 32 rounds, unrolled eight at a time so that each S-box circuit sits at a fixed place and no
// S-box is chosen at run time.
template <class W>
SERPENT_ROUND_INLINE void serpentEncryptBitslice(SerpentBitslice<W>& s, const uint8_t* subkeys) {
    serpentMixSubkey(s, subkeys, 0);
    for (unsigned base = 0; base < 24; base += 8) {
        serpentEncryptRound<0>(s, subkeys, base);
        serpentEncryptRound<1>(s, subkeys, base + 1);
        serpentEncryptRound<2>(s, subkeys, base + 2);
        serpentEncryptRound<3>(s, subkeys, base + 3);
        serpentEncryptRound<4>(s, subkeys, base + 4);
        serpentEncryptRound<5>(s, subkeys, base + 5);
        serpentEncryptRound<6>(s, subkeys, base + 6);
        serpentEncryptRound<7>(s, subkeys, base + 7);
    }
    serpentEncryptRound<0>(s, subkeys, 24);
    serpentEncryptRound<1>(s, subkeys, 25);
    serpentEncryptRound<2>(s, subkeys, 26);
    serpentEncryptRound<3>(s, subkeys, 27);
    serpentEncryptRound<4>(s, subkeys, 28);
    serpentEncryptRound<5>(s, subkeys, 29);
    serpentEncryptRound<6>(s, subkeys, 30);
    // Round 31 (its subkey 31 is mixed in already) ends with subkey 32 instead of the linear
    // transformation.
    serpentSbox<7>(s);
    serpentMixSubkey(s, subkeys, 32);
}

template <class W>
SERPENT_ROUND_INLINE void serpentDecryptBitslice(SerpentBitslice<W>& s, const uint8_t* subkeys) {
    serpentMixSubkey(s, subkeys, 32);
    serpentInverseSbox<7>(s);
    serpentMixSubkey(s, subkeys, 31);
    serpentDecryptRound<6>(s, subkeys, 30);
    serpentDecryptRound<5>(s, subkeys, 29);
    serpentDecryptRound<4>(s, subkeys, 28);
    serpentDecryptRound<3>(s, subkeys, 27);
    serpentDecryptRound<2>(s, subkeys, 26);
    serpentDecryptRound<1>(s, subkeys, 25);
    serpentDecryptRound<0>(s, subkeys, 24);
    for (unsigned base = 24; base != 0;) {
        base -= 8;
        serpentDecryptRound<7>(s, subkeys, base + 7);
        serpentDecryptRound<6>(s, subkeys, base + 6);
        serpentDecryptRound<5>(s, subkeys, base + 5);
        serpentDecryptRound<4>(s, subkeys, base + 4);
        serpentDecryptRound<3>(s, subkeys, base + 3);
        serpentDecryptRound<2>(s, subkeys, base + 2);
        serpentDecryptRound<1>(s, subkeys, base + 1);
        serpentDecryptRound<0>(s, subkeys, base);
    }
}

#undef SERPENT_ROUND_INLINE
