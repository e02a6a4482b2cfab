// The SHA-256 compression function with the x86 SHA extensions; owns no state. Callers reach it
// through sha256Compress, which checks the processor. Constant-time.
#pragma once

#include <cstddef>
#include <cstdint>

// Compresses blockCount consecutive 64-byte blocks at blocks into state (H0..H7 as FIPS 180-4
// words). The processor MUST offer SHA, SSSE3 and SSE4.1 (cpuFeatures().sha), or the process
// dies on an illegal instruction. blocks may be unaligned.
void sha256NiCompress(uint32_t state[8], const uint8_t* blocks, size_t blockCount);
