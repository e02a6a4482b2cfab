// Serpent's key schedule, and its rounds (crypto/serpent_rounds.h) on one block as four 32-bit
// words.

#include "crypto/serpent.h"

#include "base/byte_order.h"
#include "crypto/serpent_rounds.h"

namespace {

// The golden ratio's fractional part as a 32-bit fraction, mixed into every prekey.
constexpr uint32_t SERPENT_PHI = 0x9e3779b9;
constexpr uint32_t SERPENT_SUBKEY_COUNT = 33;
constexpr uint32_t SERPENT_KEY_PAD_WORDS = 8;

using Block = SerpentBitslice<uint32_t>;

// The key schedule picks its S-box by subkey number; this is the one place that happens at run time.
void sboxByNumber(unsigned box, Block& b) {
    switch (box & 7) {
    case 0: serpentSbox<0>(b); break;
    case 1: serpentSbox<1>(b); break;
    case 2: serpentSbox<2>(b); break;
    case 3: serpentSbox<3>(b); break;
    case 4: serpentSbox<4>(b); break;
    case 5: serpentSbox<5>(b); break;
    case 6: serpentSbox<6>(b); break;
    case 7: serpentSbox<7>(b); break;
    }
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
    serpentEncryptBitslice(b, subkeys);
    storeBlock(block, b);
    return true;
}

bool serpentDecryptBlock(const SerpentKeySchedule& schedule, uint8_t* block) {
    if (!schedule.valid) return false;
    const uint8_t* subkeys = schedule.subkeys.data();
    Block b = loadBlock(block);
    serpentDecryptBitslice(b, subkeys);
    storeBlock(block, b);
    return true;
}

void serpentWipe(SerpentKeySchedule& schedule) {
    schedule.valid = false;
    schedule.subkeys.wipe();
}
