// AES rounds with the x86 AES instructions, on the round keys of an AesKeySchedule; owns no state.
// Callers reach it through the functions of crypto/aes.h, which check the schedule and the
// processor. Constant-time: no table look-ups.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"

// Every function here: schedule MUST be valid, and the processor MUST offer AES and SSSE3
// (cpuFeatures().aesni and .ssse3), or the process dies on an illegal instruction or reads
// missing round keys. Buffers may be unaligned. Each wipes its copy of the round keys, but the
// compiler's spills of keys and blocks stay below the caller's frame: the caller runs stackScrub
// (base/stack_scrub.h) after each call.

// Encrypts (decrypts) blockCount consecutive 16-byte blocks in place, each on its own.
void aesNiEncryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount);
void aesNiDecryptBlocks(const AesKeySchedule& schedule, uint8_t* blocks, size_t blockCount);

// CBC encryption in place, chaining from the 16 bytes at iv (which may not lie in blocks).
void aesNiCbcEncrypt(const AesKeySchedule& schedule, const uint8_t* iv, uint8_t* blocks, size_t blockCount);

// CBC encryption of laneCount chains in place, as aesCbcEncryptLanes: one block of each of up to
// eight lanes (four on i686) goes through the rounds at once, scheduled by cbcLanesEncrypt
// (crypto/cbc_lanes.h).
void aesNiCbcEncryptLanes(const AesKeySchedule& schedule, CbcLane* lanes, size_t laneCount);

// CBC decryption from input to output, chaining from the 16 bytes at iv. output is input itself
// or does not overlap it; iv does not overlap output.
void aesNiCbcDecrypt(const AesKeySchedule& schedule, const uint8_t* iv, const uint8_t* input, uint8_t* output,
                     size_t blockCount);
