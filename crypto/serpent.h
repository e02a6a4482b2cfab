// Serpent (32 rounds, 128-bit block) on single 16-byte blocks with 16-, 24- or 32-byte keys, in
// bitslice form; owns SerpentKeySchedule. Constant-time: no table look-ups and no branch on data.
//
// Byte orders, fixed by the container format: the key's bytes are one big-endian number (key byte
// 0 holds its most significant 8 bits), while the block's bytes are one little-endian number
// (block byte 0 holds bits 0..7). A Serpent that reads both little-endian computes the same cipher
// when it is handed the key bytes in reverse order and the block unchanged.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

constexpr uint32_t SERPENT_BLOCK_BYTES = 16;
constexpr uint32_t SERPENT_SUBKEY_WORDS = 132;

// subkeys holds SERPENT_SUBKEY_WORDS words of 4 bytes, kept least-significant byte first (an
// in-memory choice only); subkey K_i is words 4i..4i+3, i = 0..32.
// Invariant: valid exactly when subkeys is filled.
struct SerpentKeySchedule {
    bool valid = false;
    SecureBuffer subkeys;
};

// Derives the 33 subkeys of a 16-, 24- or 32-byte key and marks the schedule valid. Any other
// key length leaves the schedule wiped and not valid and returns false. May throw 0 when memory
// runs out; the schedule is then wiped and not valid.
[[nodiscard]] bool serpentSetKey(SerpentKeySchedule& schedule, const SecureBuffer& key);

// Encrypts the 16 bytes at block in place. block MUST point at 16 writable bytes.
// With a schedule that is not valid the 16 bytes are set to zero and the result is false.
[[nodiscard]] bool serpentEncryptBlock(const SerpentKeySchedule& schedule, uint8_t* block);

// Decrypts the 16 bytes at block in place. block MUST point at 16 writable bytes.
// With a schedule that is not valid the block is left unchanged and the result is false.
[[nodiscard]] bool serpentDecryptBlock(const SerpentKeySchedule& schedule, uint8_t* block);

// Zeroes and frees the subkeys and leaves the schedule not valid. Calling it again does nothing.
void serpentWipe(SerpentKeySchedule& schedule);
