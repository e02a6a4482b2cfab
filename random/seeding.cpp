// Seeding the process's generator: seed file, operating-system bytes, clocks and pointer moves.

#include "random/seeding.h"

#include "base/byte_fields.h"
#include "platform/blob_file.h"
#include "platform/platform.h"
#include "random/generator.h"

namespace {

// The last pointer position fed in, shared by every dialog. Only the user-interface thread
// touches it.
uint16_t lastPointerX = 0;
uint16_t lastPointerY = 0;

SeedFileWriter seedFileWriter = writeBlobFile;

uint32_t calendarTimeLow() { return static_cast<uint32_t>(platformCalendarSeconds()); }

// Clock values go in as an event: the bytes of t in the order 0, 2, 1, 3, then four zeros.
void addClockEvent(uint32_t t) {
    addEvent(globalRandomGenerator, static_cast<uint16_t>(t), static_cast<uint16_t>(t >> 16), 0);
}

}  // namespace

bool initRandomGenerator() {
    const bool loaded = loadSeedFile();
    addClockEvent(calendarTimeLow());
    addClockEvent(platformElapsedMilliseconds());
    if (!addSystemRandomness()) return false;
    // A seed must never be used twice: replace the file we just read before anything else runs.
    if (loaded && !saveSeedFile()) return false;
    return true;
}

bool loadSeedFile() {
    ByteReader reader;
    if (!readBlobFile(nativePathFromUtf8(SEED_FILE_NAME), reader, SEED_FILE_MAX_PAYLOAD_BYTES)) return false;
    SecureBuffer seed = readFieldDeclared(reader);
    if (seed.size() < RANDOM_MIN_SEED_BYTES) return false;
    return addSeed(globalRandomGenerator, seed, calendarTimeLow(), true);
}

bool saveSeedFile() {
    if (globalRandomGenerator.entropy.load() < ENTROPY_THRESHOLD) return false;
    SecureBuffer seed;
    if (!generate(globalRandomGenerator, seed, SEED_FILE_BYTES, CIPHER_AES256)) return false;
    SecureBuffer payload;
    appendField(payload, seed);
    return seedFileWriter(nativePathFromUtf8(SEED_FILE_NAME), payload);
}

void setSeedFileWriter(SeedFileWriter writer) { seedFileWriter = writer != nullptr ? writer : writeBlobFile; }

bool addSystemRandomness() {
    SecureBuffer bytes = SecureBuffer::zeros(SYSTEM_RANDOM_BYTES);
    if (!platformSystemRandom(bytes.data(), bytes.size())) return false;
    return addSeed(globalRandomGenerator, bytes, calendarTimeLow(), false);
}

void addPointerEntropy(uint16_t x, uint16_t y) {
    if (x == lastPointerX && y == lastPointerY) return;
    addEvent(globalRandomGenerator, x, y, platformElapsedMilliseconds() ^ calendarTimeLow());
    // Counted even when a running generate kept the event out of the pool.
    globalRandomGenerator.entropy.fetch_add(1);
    lastPointerX = x;
    lastPointerY = y;
}

void resetPointerEntropy() {
    lastPointerX = 0;
    lastPointerY = 0;
}

void randomExitSave() {
    (void)saveSeedFile();
    randomWipe(globalRandomGenerator);
}
