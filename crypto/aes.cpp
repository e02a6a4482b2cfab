// AES key expansion, the table-driven rounds of the portable engine, and the choice of engine.
// The S-box, the T-tables and the multiplication tables are computed at compile time from the
// S-box definition (inversion in GF(2^8), then the affine map); only the ten round constants are
// written out.

#include "crypto/aes.h"

#include <bit>
#include <cstring>

#include "base/byte_order.h"
#include "base/stack_scrub.h"
#include "crypto/aes_ni.h"
#include "crypto/cpu_features.h"

namespace {

constexpr uint32_t AES_STATE_WORDS = 4;
constexpr uint32_t AES_MAX_SCHEDULE_WORDS = AES_STATE_WORDS * (AES_MAX_ROUNDS + 1);

// x·02 in GF(2^8) modulo the AES polynomial x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t gfDouble(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1b : 0x00)); }

constexpr uint8_t gfMultiply(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    for (; b != 0; b >>= 1) {
        if ((b & 1) != 0) product ^= a;
        a = gfDouble(a);
    }
    return product;
}

// Multiplicative inverse as x^254; 0 maps to 0 as the S-box definition requires.
constexpr uint8_t gfInverse(uint8_t x) {
    uint8_t result = 1;
    uint8_t power = x;
    for (unsigned exponent = 254; exponent != 0; exponent >>= 1) {
        if ((exponent & 1) != 0) result = gfMultiply(result, power);
        power = gfMultiply(power, power);
    }
    return result;
}

constexpr uint8_t sboxEntry(uint8_t x) {
    const uint8_t b = gfInverse(x);
    return static_cast<uint8_t>(b ^ std::rotl(b, 1) ^ std::rotl(b, 2) ^ std::rotl(b, 3) ^ std::rotl(b, 4) ^ 0x63);
}

// The four bytes as one big-endian word: b0 is the most significant byte (row 0 of a column).
constexpr uint32_t columnWord(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (static_cast<uint32_t>(b0) << 24) | (static_cast<uint32_t>(b1) << 16) | (static_cast<uint32_t>(b2) << 8) |
           static_cast<uint32_t>(b3);
}

struct AesTables {
    uint8_t sbox[256];
    uint8_t inverseSbox[256];
    // te[k] and td[k] are te[0] and td[0] rotated right by 8k bits.
    uint32_t te[4][256];
    uint32_t td[4][256];
    // Used only to bring round keys into the equivalent inverse cipher's form.
    uint8_t times09[256];
    uint8_t times0b[256];
    uint8_t times0d[256];
    uint8_t times0e[256];
};

constexpr AesTables buildTables() {
    AesTables tables{};
    for (unsigned x = 0; x < 256; ++x) {
        const uint8_t s = sboxEntry(static_cast<uint8_t>(x));
        tables.sbox[x] = s;
        tables.inverseSbox[s] = static_cast<uint8_t>(x);
    }
    for (unsigned x = 0; x < 256; ++x) {
        const uint8_t s = tables.sbox[x];
        const uint8_t si = tables.inverseSbox[x];
        const uint32_t te0 = columnWord(gfMultiply(s, 0x02), s, s, gfMultiply(s, 0x03));
        const uint32_t td0 =
            columnWord(gfMultiply(si, 0x0e), gfMultiply(si, 0x09), gfMultiply(si, 0x0d), gfMultiply(si, 0x0b));
        for (unsigned k = 0; k < 4; ++k) {
            tables.te[k][x] = std::rotr(te0, static_cast<int>(8 * k));
            tables.td[k][x] = std::rotr(td0, static_cast<int>(8 * k));
        }
        const uint8_t byte = static_cast<uint8_t>(x);
        tables.times09[x] = gfMultiply(byte, 0x09);
        tables.times0b[x] = gfMultiply(byte, 0x0b);
        tables.times0d[x] = gfMultiply(byte, 0x0d);
        tables.times0e[x] = gfMultiply(byte, 0x0e);
    }
    return tables;
}

alignas(64) constexpr AesTables TABLES = buildTables();

// Spot checks against FIPS-197 figures 7 and 14; the test vectors check everything else.
static_assert(TABLES.sbox[0x00] == 0x63 && TABLES.sbox[0x53] == 0xed && TABLES.sbox[0xff] == 0x16);
static_assert(TABLES.inverseSbox[0x00] == 0x52 && TABLES.inverseSbox[0xff] == 0x7d);
static_assert(TABLES.te[0][0x00] == 0xc66363a5 && TABLES.td[0][0x00] == 0x51f4a750);

// Round constants of the key expansion, in the most significant byte.
constexpr uint32_t RCON[10] = {0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
                               0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000};

constexpr uint8_t byteOf(uint32_t word, unsigned index) { return static_cast<uint8_t>(word >> (8 * index)); }

uint32_t subWord(uint32_t word) {
    return columnWord(TABLES.sbox[byteOf(word, 3)], TABLES.sbox[byteOf(word, 2)], TABLES.sbox[byteOf(word, 1)],
                      TABLES.sbox[byteOf(word, 0)]);
}

uint32_t invMixColumn(uint32_t word) {
    const uint8_t b0 = byteOf(word, 3);
    const uint8_t b1 = byteOf(word, 2);
    const uint8_t b2 = byteOf(word, 1);
    const uint8_t b3 = byteOf(word, 0);
    return columnWord(
        static_cast<uint8_t>(TABLES.times0e[b0] ^ TABLES.times0b[b1] ^ TABLES.times0d[b2] ^ TABLES.times09[b3]),
        static_cast<uint8_t>(TABLES.times09[b0] ^ TABLES.times0e[b1] ^ TABLES.times0b[b2] ^ TABLES.times0d[b3]),
        static_cast<uint8_t>(TABLES.times0d[b0] ^ TABLES.times09[b1] ^ TABLES.times0e[b2] ^ TABLES.times0b[b3]),
        static_cast<uint8_t>(TABLES.times0b[b0] ^ TABLES.times0d[b1] ^ TABLES.times09[b2] ^ TABLES.times0e[b3]));
}

uint32_t roundKeyWord(const uint8_t* roundKey, unsigned column) { return load32Le(roundKey + 4 * column); }

// One output column of a full round: the most significant byte of a, the next of b, and so on,
// each through its table. The round key is XORed first and the look-ups pairwise, which keeps
// the chain of dependent XORs behind the last look-up short.
inline uint32_t encryptColumn(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t roundKeyWord) {
    return (roundKeyWord ^ TABLES.te[0][a >> 24] ^ TABLES.te[1][(b >> 16) & 0xff]) ^
           (TABLES.te[2][(c >> 8) & 0xff] ^ TABLES.te[3][d & 0xff]);
}

inline uint32_t decryptColumn(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t roundKeyWord) {
    return (roundKeyWord ^ TABLES.td[0][a >> 24] ^ TABLES.td[1][(b >> 16) & 0xff]) ^
           (TABLES.td[2][(c >> 8) & 0xff] ^ TABLES.td[3][d & 0xff]);
}

AesEngine choosePreferredEngine() { return aesEngineAvailable(AES_ENGINE_NI) ? AES_ENGINE_NI : AES_ENGINE_PORTABLE; }

// Pre: schedule is valid.
void encryptPortable(const AesKeySchedule& schedule, uint8_t* block) {
    const uint8_t* roundKey = schedule.encryptionRoundKeys.data();
    uint32_t s0 = load32Be(block) ^ roundKeyWord(roundKey, 0);
    uint32_t s1 = load32Be(block + 4) ^ roundKeyWord(roundKey, 1);
    uint32_t s2 = load32Be(block + 8) ^ roundKeyWord(roundKey, 2);
    uint32_t s3 = load32Be(block + 12) ^ roundKeyWord(roundKey, 3);
    for (uint32_t round = 1; round < schedule.rounds; ++round) {
        roundKey += AES_BLOCK_BYTES;
        const uint32_t t0 = encryptColumn(s0, s1, s2, s3, roundKeyWord(roundKey, 0));
        const uint32_t t1 = encryptColumn(s1, s2, s3, s0, roundKeyWord(roundKey, 1));
        const uint32_t t2 = encryptColumn(s2, s3, s0, s1, roundKeyWord(roundKey, 2));
        const uint32_t t3 = encryptColumn(s3, s0, s1, s2, roundKeyWord(roundKey, 3));
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    roundKey += AES_BLOCK_BYTES;
    const uint8_t* sbox = TABLES.sbox;
    store32Be(block, columnWord(sbox[byteOf(s0, 3)], sbox[byteOf(s1, 2)], sbox[byteOf(s2, 1)], sbox[byteOf(s3, 0)]) ^
                         roundKeyWord(roundKey, 0));
    store32Be(block + 4,
              columnWord(sbox[byteOf(s1, 3)], sbox[byteOf(s2, 2)], sbox[byteOf(s3, 1)], sbox[byteOf(s0, 0)]) ^
                  roundKeyWord(roundKey, 1));
    store32Be(block + 8,
              columnWord(sbox[byteOf(s2, 3)], sbox[byteOf(s3, 2)], sbox[byteOf(s0, 1)], sbox[byteOf(s1, 0)]) ^
                  roundKeyWord(roundKey, 2));
    store32Be(block + 12,
              columnWord(sbox[byteOf(s3, 3)], sbox[byteOf(s0, 2)], sbox[byteOf(s1, 1)], sbox[byteOf(s2, 0)]) ^
                  roundKeyWord(roundKey, 3));
}

// Pre: schedule is valid.
void decryptPortable(const AesKeySchedule& schedule, uint8_t* block) {
    const uint8_t* roundKey = schedule.decryptionRoundKeys.data();
    uint32_t s0 = load32Be(block) ^ roundKeyWord(roundKey, 0);
    uint32_t s1 = load32Be(block + 4) ^ roundKeyWord(roundKey, 1);
    uint32_t s2 = load32Be(block + 8) ^ roundKeyWord(roundKey, 2);
    uint32_t s3 = load32Be(block + 12) ^ roundKeyWord(roundKey, 3);
    for (uint32_t round = 1; round < schedule.rounds; ++round) {
        roundKey += AES_BLOCK_BYTES;
        const uint32_t t0 = decryptColumn(s0, s3, s2, s1, roundKeyWord(roundKey, 0));
        const uint32_t t1 = decryptColumn(s1, s0, s3, s2, roundKeyWord(roundKey, 1));
        const uint32_t t2 = decryptColumn(s2, s1, s0, s3, roundKeyWord(roundKey, 2));
        const uint32_t t3 = decryptColumn(s3, s2, s1, s0, roundKeyWord(roundKey, 3));
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    roundKey += AES_BLOCK_BYTES;
    const uint8_t* inverseSbox = TABLES.inverseSbox;
    store32Be(block, columnWord(inverseSbox[byteOf(s0, 3)], inverseSbox[byteOf(s3, 2)], inverseSbox[byteOf(s2, 1)],
                                inverseSbox[byteOf(s1, 0)]) ^
                         roundKeyWord(roundKey, 0));
    store32Be(block + 4, columnWord(inverseSbox[byteOf(s1, 3)], inverseSbox[byteOf(s0, 2)], inverseSbox[byteOf(s3, 1)],
                                    inverseSbox[byteOf(s2, 0)]) ^
                             roundKeyWord(roundKey, 1));
    store32Be(block + 8, columnWord(inverseSbox[byteOf(s2, 3)], inverseSbox[byteOf(s1, 2)], inverseSbox[byteOf(s0, 1)],
                                    inverseSbox[byteOf(s3, 0)]) ^
                             roundKeyWord(roundKey, 2));
    store32Be(block + 12, columnWord(inverseSbox[byteOf(s3, 3)], inverseSbox[byteOf(s2, 2)], inverseSbox[byteOf(s1, 1)],
                                     inverseSbox[byteOf(s0, 0)]) ^
                              roundKeyWord(roundKey, 3));
}

void cbcEncryptPortable(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount) {
    const uint8_t* previous = iv;
    for (size_t n = 0; n < blockCount; ++n) {
        uint8_t* block = blocks + AES_BLOCK_BYTES * n;
        xorBlock(block, previous);
        encryptPortable(schedule, block);
        previous = block;
    }
}

void cbcDecryptPortable(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input, uint8_t* output,
                        size_t blockCount) {
    // Each ciphertext block is kept before its output overwrites it, for output == input.
    uint8_t chaining[AES_BLOCK_BYTES];
    uint8_t ciphertext[AES_BLOCK_BYTES];
    std::memcpy(chaining, iv, AES_BLOCK_BYTES);
    for (size_t n = 0; n < blockCount; ++n) {
        uint8_t* block = output + AES_BLOCK_BYTES * n;
        std::memcpy(ciphertext, input + AES_BLOCK_BYTES * n, AES_BLOCK_BYTES);
        std::memcpy(block, ciphertext, AES_BLOCK_BYTES);
        decryptPortable(schedule, block);
        xorBlock(block, chaining);
        std::memcpy(chaining, ciphertext, AES_BLOCK_BYTES);
    }
    secureWipe(chaining, sizeof chaining);
    secureWipe(ciphertext, sizeof ciphertext);
}

}  // namespace

bool aesEngineAvailable(AesEngine engine) {
    switch (engine) {
    case AES_ENGINE_PORTABLE: return true;
    case AES_ENGINE_NI: return cpuFeatures().aesni && cpuFeatures().ssse3;
    }
    return false;
}

AesEngine aesPreferredEngine() {
    static const AesEngine preferred = choosePreferredEngine();
    return preferred;
}

bool aesSetKey(AesKeySchedule& schedule, const SecureBuffer& key) {
    aesWipe(schedule);
    uint32_t rounds = 0;
    switch (key.size()) {
    case 16: rounds = 10; break;
    case 24: rounds = 12; break;
    case 32: rounds = 14; break;
    default: return false;
    }
    const uint32_t keyWords = key.size() / 4;
    const uint32_t totalWords = AES_STATE_WORDS * (rounds + 1);
    // Both allocations come first, so that a throw leaves no expanded key behind on the stack.
    schedule.encryptionRoundKeys.allocate(4 * totalWords);
    schedule.decryptionRoundKeys.allocate(4 * totalWords);

    uint32_t w[AES_MAX_SCHEDULE_WORDS];
    for (uint32_t i = 0; i < keyWords; ++i) w[i] = load32Be(key.data() + 4 * i);
    for (uint32_t i = keyWords; i < totalWords; ++i) {
        uint32_t t = w[i - 1];
        if (i % keyWords == 0) {
            t = subWord(rotl32(t, 8)) ^ RCON[i / keyWords - 1];
        } else if (keyWords == 8 && i % 8 == 4) {
            t = subWord(t);
        }
        w[i] = w[i - keyWords] ^ t;
    }

    uint8_t* encryption = schedule.encryptionRoundKeys.data();
    uint8_t* decryption = schedule.decryptionRoundKeys.data();
    for (uint32_t i = 0; i < totalWords; ++i) store32Le(encryption + 4 * i, w[i]);
    for (uint32_t round = 0; round <= rounds; ++round) {
        for (uint32_t column = 0; column < AES_STATE_WORDS; ++column) {
            uint32_t word = w[AES_STATE_WORDS * (rounds - round) + column];
            if (round != 0 && round != rounds) word = invMixColumn(word);
            store32Le(decryption + 4 * (AES_STATE_WORDS * round + column), word);
        }
    }
    secureWipe(w, sizeof w);

    schedule.rounds = rounds;
    schedule.valid = true;
    return true;
}

bool aesEncryptBlock(const AesKeySchedule& schedule, uint8_t* block) {
    return aesEncryptBlocks(schedule, block, 1, aesPreferredEngine());
}

bool aesEncryptBlock(const AesKeySchedule& schedule, uint8_t* block, AesEngine engine) {
    return aesEncryptBlocks(schedule, block, 1, engine);
}

bool aesDecryptBlock(const AesKeySchedule& schedule, uint8_t* block) {
    return aesDecryptBlock(schedule, block, aesPreferredEngine());
}

bool aesDecryptBlock(const AesKeySchedule& schedule, uint8_t* block, AesEngine engine) {
    if (!schedule.valid) return false;
    switch (engine) {
    case AES_ENGINE_PORTABLE: decryptPortable(schedule, block); break;
    case AES_ENGINE_NI:
        aesNiDecryptBlocks(schedule, block, 1);
        stackScrub();
        break;
    }
    return true;
}

bool aesEncryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount) {
    return aesEncryptBlocks(schedule, blocks, blockCount, aesPreferredEngine());
}

bool aesEncryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount, AesEngine engine) {
    if (!schedule.valid) {
        if (blockCount != 0) secureWipe(blocks, AES_BLOCK_BYTES * blockCount);
        return false;
    }
    switch (engine) {
    case AES_ENGINE_PORTABLE:
        for (size_t n = 0; n < blockCount; ++n) encryptPortable(schedule, blocks + AES_BLOCK_BYTES * n);
        break;
    case AES_ENGINE_NI:
        aesNiEncryptBlocks(schedule, blocks, blockCount);
        stackScrub();
        break;
    }
    return true;
}

bool aesCbcEncrypt(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount) {
    return aesCbcEncrypt(schedule, iv, blocks, blockCount, aesPreferredEngine());
}

bool aesCbcEncrypt(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount,
                   AesEngine engine) {
    if (!schedule.valid) {
        if (blockCount != 0) secureWipe(blocks, AES_BLOCK_BYTES * blockCount);
        return false;
    }
    switch (engine) {
    case AES_ENGINE_PORTABLE: cbcEncryptPortable(schedule, iv, blocks, blockCount); break;
    case AES_ENGINE_NI:
        aesNiCbcEncrypt(schedule, iv, blocks, blockCount);
        stackScrub();
        break;
    }
    return true;
}

bool aesCbcDecrypt(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input, uint8_t* output,
                   size_t blockCount) {
    return aesCbcDecrypt(schedule, iv, input, output, blockCount, aesPreferredEngine());
}

bool aesCbcDecrypt(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input, uint8_t* output,
                   size_t blockCount, AesEngine engine) {
    if (!schedule.valid) return false;
    switch (engine) {
    case AES_ENGINE_PORTABLE: cbcDecryptPortable(schedule, iv, input, output, blockCount); break;
    case AES_ENGINE_NI:
        aesNiCbcDecrypt(schedule, iv, input, output, blockCount);
        stackScrub();
        break;
    }
    return true;
}

bool aesCbcEncryptLanes(const AesKeySchedule& schedule, CbcLane* lanes, size_t laneCount) {
    return aesCbcEncryptLanes(schedule, lanes, laneCount, aesPreferredEngine());
}

bool aesCbcEncryptLanes(const AesKeySchedule& schedule, CbcLane* lanes, size_t laneCount, AesEngine engine) {
    if (!schedule.valid) {
        for (size_t l = 0; l < laneCount; ++l) {
            if (lanes[l].blockCount != 0) secureWipe(lanes[l].data, AES_BLOCK_BYTES * lanes[l].blockCount);
            secureWipe(lanes[l].chainingBlock, AES_BLOCK_BYTES);
        }
        return false;
    }
    switch (engine) {
    case AES_ENGINE_PORTABLE:
        for (size_t l = 0; l < laneCount; ++l) {
            CbcLane& lane = lanes[l];
            if (lane.blockCount == 0) continue;
            cbcEncryptPortable(schedule, lane.chainingBlock, lane.data, lane.blockCount);
            std::memcpy(lane.chainingBlock, lane.data + AES_BLOCK_BYTES * (lane.blockCount - 1), AES_BLOCK_BYTES);
        }
        break;
    case AES_ENGINE_NI:
        aesNiCbcEncryptLanes(schedule, lanes, laneCount);
        stackScrub();
        break;
    }
    return true;
}

void aesWipe(AesKeySchedule& schedule) {
    schedule.valid = false;
    schedule.encryptionRoundKeys.wipe();
    schedule.decryptionRoundKeys.wipe();
    schedule.rounds = 0;
}
