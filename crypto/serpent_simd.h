// Serpent on many blocks at once: independent blocks, CBC decryption of a buffer and CBC encryption
// of several chains side by side, on bitslice paths over SIMD lanes (SSE2, AVX2) that give the same
// bytes as crypto/serpent.h. Constant-time like it: nothing branches on or indexes by key or data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cbc_lanes.h"
#include "crypto/cpu_features.h"
#include "crypto/serpent.h"

// The implementations. The portable loop exists everywhere; SSE2 and AVX2 only on x86 processors
// that have those instructions, and never when FERROLYN_PORTABLE is set (see crypto/cpu_features.h).
// A run on a SIMD path ends with a stackScrub (base/stack_scrub.h): its spilled bitslice state
// does not outlive the call.
enum SerpentEngine : uint32_t { SERPENT_ENGINE_PORTABLE = 0, SERPENT_ENGINE_SSE2 = 1, SERPENT_ENGINE_AVX2 = 2 };

// Blocks per SIMD group: what one pass of a path's rounds transforms.
constexpr size_t SERPENT_SSE2_GROUP_BLOCKS = 4;
constexpr size_t SERPENT_AVX2_GROUP_BLOCKS = 8;

// True when engine can run in this process: SERPENT_ENGINE_PORTABLE always.
bool serpentEngineAvailable(SerpentEngine engine);

// The widest available path, decided on the first call and the same ever after (but for the test
// seam below): the one the functions without a path argument use.
SerpentEngine serpentPreferredEngine();

// A seam for tests of a missing path on a processor that has every one: from now on the paths
// see cpuFeatures() without the flags set in hidden (sse2 and avx2 count), as on a processor that
// lacks them, and serpentPreferredEngine chooses again; CpuFeatures{} shows everything again.
// Returns the flags hidden until now. Product
// code never calls it; it MUST NOT run while another thread uses the functions of this header.
CpuFeatures serpentHideCpuFeatures(const CpuFeatures& hidden);

// Encrypts count consecutive 16-byte blocks at blocks in place, each on its own (no chaining), as
// serpentEncryptBlock would one by one. blocks MUST point at 16 × count writable bytes; any
// alignment; count 0 writes nothing. With a schedule that is not valid every block is set to zero
// and the result is false.
[[nodiscard]] bool serpentEncryptBlocks(const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count);

// Decrypts count consecutive 16-byte blocks at blocks in place, each on its own, as
// serpentDecryptBlock would one by one. blocks MUST point at 16 × count writable bytes. With a
// schedule that is not valid the blocks are left unchanged and the result is false.
[[nodiscard]] bool serpentDecryptBlocks(const SerpentKeySchedule& schedule, uint8_t* blocks, size_t count);

// CBC decryption of length bytes at data in place: plaintext block i = D(ciphertext block i) XOR
// ciphertext block i − 1, where block −1 is iv. Afterwards iv holds the last ciphertext block, so
// a following call continues the chain (iv unchanged when length is 0). Blocks are decrypted
// several at a time; nothing is checked or removed as padding.
// data MUST point at length writable bytes and iv at 16. Fails with false, changing nothing, when
// length is not a multiple of 16 or the schedule is not valid.
[[nodiscard]] bool serpentCbcDecrypt(const SerpentKeySchedule& schedule, uint8_t iv[16], uint8_t* data, size_t length);

// As serpentCbcDecrypt, but reads the ciphertext at in and writes the plaintext to out, leaving in
// as it was. out MUST either equal in or not overlap it at all (a partial overlap gives wrong
// plaintext). Fails with false, writing nothing, when length is not a multiple of 16 or the
// schedule is not valid.
[[nodiscard]] bool serpentCbcDecryptInto(const SerpentKeySchedule& schedule, uint8_t iv[16], const uint8_t* in,
                                         uint8_t* out, size_t length);

// CBC encryption of laneCount independent chains: within each lane, ciphertext block i =
// E(plaintext block i XOR ciphertext block i − 1), block −1 being the lane's chainingBlock, exactly
// as encrypting the lanes one after the other. One block of each of several lanes goes through the
// cipher at once, so the work runs in parallel only across lanes: AVX2 needs 16 lanes to run at
// full speed, SSE2 8. Lanes of different lengths are fine: cbcLanesEncrypt (crypto/cbc_lanes.h)
// schedules them. lanes MUST point at laneCount records (or be null when laneCount is 0); the
// records' data and blockCount are left as they were. With a schedule that is not valid every
// lane's data and chaining block are set to zero and the result is false.
[[nodiscard]] bool serpentCbcEncryptLanes(const SerpentKeySchedule& schedule, CbcLane* lanes, size_t laneCount);

// The same four operations on one given path, for tests and benchmarks: the results are the same
// bytes as above. A path that is not available (serpentEngineAvailable) makes each of them return
// false without reading or writing anything. A SIMD path runs its widest groups (two of them side
// by side where there are enough blocks), then what is left in one narrower or zero-padded group;
// but one or two blocks left over, or one or two lanes still going, take the portable code, which
// is faster for so few.
[[nodiscard]] bool serpentEncryptBlocksOn(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t* blocks,
                                          size_t count);
[[nodiscard]] bool serpentDecryptBlocksOn(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t* blocks,
                                          size_t count);
[[nodiscard]] bool serpentCbcDecryptOn(SerpentEngine path, const SerpentKeySchedule& schedule, uint8_t iv[16],
                                       const uint8_t* in, uint8_t* out, size_t length);
[[nodiscard]] bool serpentCbcEncryptLanesOn(SerpentEngine path, const SerpentKeySchedule& schedule, CbcLane* lanes,
                                            size_t laneCount);
