// AES (FIPS-197) with 16-, 24- or 32-byte keys on single blocks and on runs of blocks (each on
// its own, or chained as CBC, one chain or several side by side as CbcLanes of crypto/cbc_lanes.h);
// owns AesKeySchedule. Two engines share one schedule: the portable one in the 32-bit table style with the
// equivalent inverse cipher for decryption, and one on the x86 AES instructions, chosen once per
// process.
// The portable engine is not constant-time: its table look-ups are indexed by key- and
// data-dependent bytes. The AES-NI engine is constant-time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/secure_buffer.h"
#include "crypto/cbc_lanes.h"

constexpr uint32_t AES_BLOCK_BYTES = 16;
constexpr uint32_t AES_MAX_ROUNDS = 14;

// Both round-key arrays hold 4 × (rounds + 1) words of 4 bytes each, kept least-significant byte
// first (an in-memory choice only; no format depends on it). Encryption round key r is words
// 4r..4r+3 of the expanded key; decryption round key r is words 4(rounds − r)..4(rounds − r)+3,
// passed through InvMixColumns for 0 < r < rounds.
// Invariant: valid exactly when both arrays are filled and rounds is 10, 12 or 14.
struct AesKeySchedule {
    bool valid = false;
    SecureBuffer encryptionRoundKeys;
    SecureBuffer decryptionRoundKeys;
    uint32_t rounds = 0;
};

// Which rounds run. Both give the same bytes; the portable engine is the reference.
enum AesEngine : uint32_t { AES_ENGINE_PORTABLE = 0, AES_ENGINE_NI = 1 };

// Whether engine can run in this process: the portable engine always, NI when cpuFeatures()
// reports aesni and ssse3 (so never under FERROLYN_PORTABLE).
bool aesEngineAvailable(AesEngine engine);

// The fastest available engine, decided on the first call and the same ever after.
// crypto/engines.h records it beside the other primitives' choices and names it.
AesEngine aesPreferredEngine();

// Every function below that takes no engine runs on aesPreferredEngine(); one given explicitly
// MUST be available (aesEngineAvailable), or the process may die on an illegal instruction.

// Expands a 16-, 24- or 32-byte key (10, 12 or 14 rounds) into both round-key arrays and marks the
// schedule valid. Any other key length leaves the schedule wiped and not valid and returns false.
// May throw 0 when memory runs out; the schedule is then wiped and not valid.
[[nodiscard]] bool aesSetKey(AesKeySchedule& schedule, const SecureBuffer& key);

// Encrypts the 16 bytes at block in place. block MUST point at 16 writable bytes.
// With a schedule that is not valid the 16 bytes are set to zero and the result is false.
[[nodiscard]] bool aesEncryptBlock(const AesKeySchedule& schedule, uint8_t* block);
[[nodiscard]] bool aesEncryptBlock(const AesKeySchedule& schedule, uint8_t* block, AesEngine engine);

// Decrypts the 16 bytes at block in place. block MUST point at 16 writable bytes.
// With a schedule that is not valid the block is left unchanged and the result is false.
[[nodiscard]] bool aesDecryptBlock(const AesKeySchedule& schedule, uint8_t* block);
[[nodiscard]] bool aesDecryptBlock(const AesKeySchedule& schedule, uint8_t* block, AesEngine engine);

// Encrypts blockCount consecutive 16-byte blocks at blocks in place, each on its own (no
// chaining). blocks MUST point at 16 × blockCount writable bytes, and may be null when blockCount
// is 0. With a schedule that is not valid every byte is set to zero and the result is false.
[[nodiscard]] bool aesEncryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount);
[[nodiscard]] bool aesEncryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount,
                                    AesEngine engine);

// CBC encryption in place: block i becomes E(block i XOR the previous ciphertext block), block 0
// chaining from the 16 bytes at iv, which MUST NOT lie inside blocks. The last block is then the
// chaining value for a continuation. With a schedule that is not valid every byte of blocks is set
// to zero and the result is false.
[[nodiscard]] bool aesCbcEncrypt(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount);
[[nodiscard]] bool aesCbcEncrypt(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount,
                                 AesEngine engine);

// CBC decryption: output block i = D(input block i) XOR input block i − 1, block 0 XOR the 16
// bytes at iv. output MUST be input itself or not overlap it; iv MUST NOT overlap output. The
// chaining value for a continuation is the last input block. With a schedule that is not valid
// output is left unchanged and the result is false.
[[nodiscard]] bool aesCbcDecrypt(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input,
                                 uint8_t* output, size_t blockCount);
[[nodiscard]] bool aesCbcDecrypt(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input,
                                 uint8_t* output, size_t blockCount, AesEngine engine);

// CBC encryption of laneCount independent chains, each lane exactly as aesCbcEncrypt would encrypt
// it alone. One chain waits for each block before the next can start, so the AES-NI engine runs
// one block of each of several lanes at once and is several times as fast with four or more lanes;
// the portable engine encrypts the lanes one after the other. Lanes of different lengths are fine.
// lanes MUST point at laneCount records (or be null when laneCount is 0); their data and
// blockCount are left as they were. With a schedule that is not valid every lane's data and
// chaining block are set to zero and the result is false.
[[nodiscard]] bool aesCbcEncryptLanes(const AesKeySchedule& schedule, CbcLane* lanes, size_t laneCount);
[[nodiscard]] bool aesCbcEncryptLanes(const AesKeySchedule& schedule, CbcLane* lanes, size_t laneCount,
                                      AesEngine engine);

// Zeroes and frees both round-key arrays and leaves the schedule not valid with 0 rounds.
// Calling it on a wiped or never-keyed schedule does nothing.
void aesWipe(AesKeySchedule& schedule);
