// Brings the process's generator to readiness and keeps feeding it: the seed file "rand.bin" in
// the working directory, the operating system's random source, clock values and pointer
// positions. Owns the pointer state and the exit save.
#pragma once

#include <cstdint>

#include "base/native_file.h"
#include "base/secure_buffer.h"

// Seed bytes written to the seed file, and bytes asked of the operating system at start-up.
constexpr uint32_t SEED_FILE_BYTES = 512;
constexpr uint32_t SYSTEM_RANDOM_BYTES = 32;
// The seed file, opened by its bare name in the current (working) directory.
constexpr char SEED_FILE_NAME[] = "rand.bin";
// We write 516-byte payloads; a longer seed is mixed in whole up to this bound, and a larger file
// is refused before it is read.
constexpr uint32_t SEED_FILE_MAX_PAYLOAD_BYTES = 65536;

// Start-up seeding, once: the seed file (credited), the calendar and elapsed time, and 32 bytes
// from the operating system (not credited); rewrites the seed file at once when one was read.
// False when the operating system gives no random bytes or a seed file that was read cannot be
// rewritten.
[[nodiscard]] bool initRandomGenerator();

// Mixes the seed field of "rand.bin" with credit. False (no credit) when the file is missing,
// unreadable, too large, or its field holds fewer than 32 bytes.
[[nodiscard]] bool loadSeedFile();

// Writes 512 fresh generator bytes to "rand.bin" as a blob holding one field. False, writing
// nothing, when the generator is not ready; false when the file cannot be written.
[[nodiscard]] bool saveSeedFile();

// Writes a seed file: the path and the blob's payload; false when the file was not written whole.
using SeedFileWriter = bool (*)(const NativePath& path, const SecureBuffer& payload);

// Replaces the function that writes "rand.bin" (writeBlobFile); null restores it. A seam for tests,
// which make the rewrite fail whatever the process's rights on the file. Set it only while no
// other thread seeds or saves.
void setSeedFileWriter(SeedFileWriter writer);

// Mixes 32 bytes of operating-system randomness and the calendar time, without credit.
[[nodiscard]] bool addSystemRandomness();

// Mixes a pointer position (x, y: the low and high 16 bits of a mouse-move message's position)
// with the clocks and counts one unit of entropy, unless it repeats the last position fed in.
// Runs on the user-interface thread.
void addPointerEntropy(uint16_t x, uint16_t y);

// Forgets the last pointer position (back to (0, 0), as at start).
void resetPointerEntropy();

// The normal-exit step: saves the seed file when the generator is ready, then wipes the
// generator. Called once, after the program's main function has returned.
void randomExitSave();
