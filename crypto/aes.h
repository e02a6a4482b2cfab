// AES (FIPS-197) on single 16-byte blocks with 16-, 24- or 32-byte keys, in the 32-bit table
// style with the equivalent inverse cipher for decryption; owns AesKeySchedule.
// Not constant-time: table look-ups are indexed by key- and data-dependent bytes.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

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

// Expands a 16-, 24- or 32-byte key (10, 12 or 14 rounds) into both round-key arrays and marks the
// schedule valid. Any other key length leaves the schedule wiped and not valid and returns false.
// May throw 0 when memory runs out; the schedule is then wiped and not valid.
[[nodiscard]] bool aesSetKey(AesKeySchedule& schedule, const SecureBuffer& key);

// Encrypts the 16 bytes at block in place. block MUST point at 16 writable bytes.
// With a schedule that is not valid the 16 bytes are set to zero and the result is false.
[[nodiscard]] bool aesEncryptBlock(const AesKeySchedule& schedule, uint8_t* block);

// Decrypts the 16 bytes at block in place. block MUST point at 16 writable bytes.
// With a schedule that is not valid the block is left unchanged and the result is false.
[[nodiscard]] bool aesDecryptBlock(const AesKeySchedule& schedule, uint8_t* block);

// Zeroes and frees both round-key arrays and leaves the schedule not valid with 0 rounds.
// Calling it on a wiped or never-keyed schedule does nothing.
void aesWipe(AesKeySchedule& schedule);
