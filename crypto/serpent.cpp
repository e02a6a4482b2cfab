// Serpent key schedule and rounds on four 32-bit words. The rounds are unrolled eight at a time so
// that each S-box circuit is inlined at a fixed place and no S-box is chosen at run time.

#include "crypto/serpent.h"

#include "base/byte_order.h"
#include "crypto/serpent_sboxes.h"

namespace {

// The golden ratio's fractional part as a 32-bit fraction, mixed into every prekey.
constexpr uint32_t SERPENT_PHI = 0x9e3779b9;
constexpr uint32_t SERPENT_SUBKEY_COUNT = 33;
constexpr uint32_t SERPENT_KEY_PAD_WORDS = 8;

struct Block {
    uint32_t x0;
    uint32_t x1;
    uint32_t x2;
    uint32_t x3;
};

template <int BOX>
inline void sbox(Block& b) {
    if constexpr (BOX == 0) serpentS0(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 1) serpentS1(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 2) serpentS2(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 3) serpentS3(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 4) serpentS4(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 5) serpentS5(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 6) serpentS6(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 7) serpentS7(b.x0, b.x1, b.x2, b.x3);
}

template <int BOX>
inline void inverseSbox(Block& b) {
    if constexpr (BOX == 0) serpentInverseS0(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 1) serpentInverseS1(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 2) serpentInverseS2(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 3) serpentInverseS3(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 4) serpentInverseS4(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 5) serpentInverseS5(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 6) serpentInverseS6(b.x0, b.x1, b.x2, b.x3);
    if constexpr (BOX == 7) serpentInverseS7(b.x0, b.x1, b.x2, b.x3);
}

// The key schedule picks its S-box by subkey number; this is the one place that happens at run time.
void sboxByNumber(unsigned box, Block& b) {
    switch (box & 7) {
    case 0: sbox<0>(b); break;
    case 1: sbox<1>(b); break;
    case 2: sbox<2>(b); break;
    case 3: sbox<3>(b); break;
    case 4: sbox<4>(b); break;
    case 5: sbox<5>(b); break;
    case 6: sbox<6>(b); break;
    case 7: sbox<7>(b); break;
    }
}

inline void mixSubkey(Block& b, const uint8_t* subkeys, unsigned index) {
    const uint8_t* k = subkeys + SERPENT_BLOCK_BYTES * index;
    b.x0 ^= load32Le(k);
    b.x1 ^= load32Le(k + 4);
    b.x2 ^= load32Le(k + 8);
    b.x3 ^= load32Le(k + 12);
}

// The linear transformation followed by the XOR of subkey `index`. The subkey words for x0 and
// x2 go in before the final rotations (rotated back to match), which takes the XOR off the chain
// of dependent operations that runs through a block's rounds. Steps of the transformation:
//   x0 <<<= 13; x2 <<<= 3; x1 ^= x0 ^ x2; x3 ^= x2 ^ (x0 << 3); x1 <<<= 1; x3 <<<= 7;
//   x0 ^= x1 ^ x3; x2 ^= x3 ^ (x1 << 7); x0 <<<= 5; x2 <<<= 22.
inline void linearTransformAndMix(Block& b, const uint8_t* subkeys, unsigned index) {
    const uint8_t* k = subkeys + SERPENT_BLOCK_BYTES * index;
    const uint32_t x0 = rotl32(b.x0, 13);
    const uint32_t x2 = rotl32(b.x2, 3);
    const uint32_t x1 = rotl32(b.x1 ^ x0 ^ x2, 1);
    const uint32_t x3 = rotl32(b.x3 ^ x2 ^ (x0 << 3), 7);
    b.x0 = rotl32((x0 ^ rotr32(load32Le(k), 5)) ^ (x1 ^ x3), 5);
    b.x2 = rotl32((x2 ^ rotr32(load32Le(k + 8), 22)) ^ (x3 ^ (x1 << 7)), 22);
    b.x1 = x1 ^ load32Le(k + 4);
    b.x3 = x3 ^ load32Le(k + 12);
}

inline void inverseLinearTransform(Block& b) {
    b.x2 = rotr32(b.x2, 22);
    b.x0 = rotr32(b.x0, 5);
    b.x2 ^= b.x3 ^ (b.x1 << 7);
    b.x0 ^= b.x1 ^ b.x3;
    b.x3 = rotr32(b.x3, 7);
    b.x1 = rotr32(b.x1, 1);
    b.x3 ^= b.x2 ^ (b.x0 << 3);
    b.x1 ^= b.x0 ^ b.x2;
    b.x2 = rotr32(b.x2, 3);
    b.x0 = rotr32(b.x0, 13);
}

// Rounds 0..30 of encryption without their first subkey, which the previous round (or the
// start) has already mixed in.
template <int BOX>
inline void encryptRound(Block& b, const uint8_t* subkeys, unsigned round) {
    sbox<BOX>(b);
    linearTransformAndMix(b, subkeys, round + 1);
}

template <int BOX>
inline void decryptRound(Block& b, const uint8_t* subkeys, unsigned round) {
    inverseLinearTransform(b);
    inverseSbox<BOX>(b);
    mixSubkey(b, subkeys, round);
}

// The block as the little-endian number the format defines: byte 0 is the low byte of x0.
inline Block loadBlock(const uint8_t* block) {
    return Block{load32Le(block), load32Le(block + 4), load32Le(block + 8), load32Le(block + 12)};
}

inline void storeBlock(uint8_t* block, const Block& b) {
    store32Le(block, b.x0);
    store32Le(block + 4, b.x1);
    store32Le(block + 8, b.x2);
    store32Le(block + 12, b.x3);
}

}  // namespace

bool serpentSetKey(SerpentKeySchedule& schedule, const SecureBuffer& key) {
    serpentWipe(schedule);
    const uint32_t keyBytes = key.size();
    if (keyBytes != 16 && keyBytes != 24 && keyBytes != 32) return false;
    schedule.subkeys.allocate(4 * SERPENT_SUBKEY_WORDS);

    // w[0..7] are the padded key words w−8..w−1, w[8 + i] is prekey w_i.
    uint32_t w[SERPENT_KEY_PAD_WORDS + SERPENT_SUBKEY_WORDS] = {};
    // The key is one big-endian number: its last four bytes are the least significant word w−8,
    // its first four the most significant key word. Existing containers depend on this order.
    const uint32_t keyWords = keyBytes / 4;
    for (uint32_t i = 0; i < keyWords; ++i) w[keyWords - 1 - i] = load32Be(key.data() + 4 * i);
    // Shorter keys get a single 1 bit just above their most significant bit.
    if (keyWords < SERPENT_KEY_PAD_WORDS) w[keyWords] = 1;

    for (uint32_t i = 0; i < SERPENT_SUBKEY_WORDS; ++i) {
        w[SERPENT_KEY_PAD_WORDS + i] = rotl32(w[i] ^ w[i + 3] ^ w[i + 5] ^ w[i + 7] ^ SERPENT_PHI ^ i, 11);
    }

    uint8_t* subkeys = schedule.subkeys.data();
    for (uint32_t i = 0; i < SERPENT_SUBKEY_COUNT; ++i) {
        const uint32_t* prekey = w + SERPENT_KEY_PAD_WORDS + 4 * i;
        Block k{prekey[0], prekey[1], prekey[2], prekey[3]};
        // K0 uses S3, K1 S2, K2 S1, K3 S0, K4 S7, ...
        sboxByNumber(3 + 8 - (i % 8), k);
        storeBlock(subkeys + SERPENT_BLOCK_BYTES * i, k);
        secureWipe(&k, sizeof k);
    }
    secureWipe(w, sizeof w);
    schedule.valid = true;
    return true;
}

bool serpentEncryptBlock(const SerpentKeySchedule& schedule, uint8_t* block) {
    if (!schedule.valid) {
        secureWipe(block, SERPENT_BLOCK_BYTES);
        return false;
    }
    const uint8_t* subkeys = schedule.subkeys.data();
    Block b = loadBlock(block);
    mixSubkey(b, subkeys, 0);
    for (unsigned base = 0; base < 24; base += 8) {
        encryptRound<0>(b, subkeys, base);
        encryptRound<1>(b, subkeys, base + 1);
        encryptRound<2>(b, subkeys, base + 2);
        encryptRound<3>(b, subkeys, base + 3);
        encryptRound<4>(b, subkeys, base + 4);
        encryptRound<5>(b, subkeys, base + 5);
        encryptRound<6>(b, subkeys, base + 6);
        encryptRound<7>(b, subkeys, base + 7);
    }
    encryptRound<0>(b, subkeys, 24);
    encryptRound<1>(b, subkeys, 25);
    encryptRound<2>(b, subkeys, 26);
    encryptRound<3>(b, subkeys, 27);
    encryptRound<4>(b, subkeys, 28);
    encryptRound<5>(b, subkeys, 29);
    encryptRound<6>(b, subkeys, 30);
    // Round 31 (its subkey 31 is mixed in already) ends with subkey 32 instead of the linear
    // transformation.
    sbox<7>(b);
    mixSubkey(b, subkeys, 32);
    storeBlock(block, b);
    return true;
}

bool serpentDecryptBlock(const SerpentKeySchedule& schedule, uint8_t* block) {
    if (!schedule.valid) return false;
    const uint8_t* subkeys = schedule.subkeys.data();
    Block b = loadBlock(block);
    mixSubkey(b, subkeys, 32);
    inverseSbox<7>(b);
    mixSubkey(b, subkeys, 31);
    decryptRound<6>(b, subkeys, 30);
    decryptRound<5>(b, subkeys, 29);
    decryptRound<4>(b, subkeys, 28);
    decryptRound<3>(b, subkeys, 27);
    decryptRound<2>(b, subkeys, 26);
    decryptRound<1>(b, subkeys, 25);
    decryptRound<0>(b, subkeys, 24);
    for (int base = 16; base >= 0; base -= 8) {
        const unsigned r = static_cast<unsigned>(base);
        decryptRound<7>(b, subkeys, r + 7);
        decryptRound<6>(b, subkeys, r + 6);
        decryptRound<5>(b, subkeys, r + 5);
        decryptRound<4>(b, subkeys, r + 4);
        decryptRound<3>(b, subkeys, r + 3);
        decryptRound<2>(b, subkeys, r + 2);
        decryptRound<1>(b, subkeys, r + 1);
        decryptRound<0>(b, subkeys, r);
    }
    storeBlock(block, b);
    return true;
}

void serpentWipe(SerpentKeySchedule& schedule) {
    schedule.valid = false;
    schedule.subkeys.wipe();
}
