// Containers that must never change: the SHA-256 of the container each row makes from a fixed
// generator state, recorded from a build whose containers had been checked against the fixtures of
// a separate implementation. A refactoring of the chunk stage, the ciphers' fast paths or the
// dispatch that changes one byte of any container fails here, on whichever engines the process runs
// (the test command runs it natively, with FERROLYN_PORTABLE set, and as 32-bit Windows code), with
// one worker, with one per processor and with four.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/chunk.h"
#include "crypto/sha256.h"
#include "job/job_entry.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

constexpr uint8_t SEED = 23;

// Text-like bytes: a skewed alphabet, so the codec's every stage has work, and the same on every
// platform (mt19937's sequence is fixed by the standard).
Bytes textLike(uint32_t size) {
    static constexpr char ALPHABET[] = "eeeettaaoinshrdlu \n,.KQ\xe5\xe4\xf6";
    Bytes bytes(size);
    std::mt19937 engine(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(ALPHABET[engine() % (sizeof ALPHABET - 1)]);
    return bytes;
}

struct GoldenRow {
    KeyMethod method;
    CipherAlgorithm cipher;
    bool compress;
    uint32_t size;
    const char* sha256;
};

constexpr uint32_t ONE_MIB = uint32_t{1} << 20;
constexpr uint32_t SEVERAL = 2 * CHUNK_SIZE + 123;  // three chunks, the last a short one

// Every key method with both ciphers, compressed or not, on sizes that make no chunk, a tiny one
// and two; the sizes around one chunk and several chunks with the key file.
const GoldenRow GOLDEN[] = {
#include "golden_containers.inc"
};

std::string containerDigest(const Bytes& container) {
    Sha256Context hash;
    sha256Init(hash);
    sha256Update(hash, container.data(), static_cast<uint32_t>(container.size()));
    return toHex(sha256Final(hash));
}

TEST(GoldenContainers, EveryRowMakesItsRecordedContainer) {
    TempDir dir;
    for (const GoldenRow& row : GOLDEN) {
        const fs::path source = dir.path() / "plain.bin";
        writeFileBytes(source, textLike(row.size));
        for (uint32_t workers : {1u, 0u, 4u}) {
            SCOPED_TRACE(std::string(methodName(row.method)) + ", " + cipherName(row.cipher) +
                         (row.compress ? ", compressed, " : ", stored, ") + std::to_string(row.size) + " bytes, " +
                         std::to_string(workers) + " workers");
            const fs::path target = dir.path() / "made.encrypted";
            auto generator = readyGenerator(SEED);
            JobResult result = RESULT_CANCELLED;
            ASSERT_TRUE(runJob(withWorkers(optionsFor(*generator, row.cipher, row.compress), workers), true,
                               jobKeyFor(row.method), nativePathOf(source), nativePathOf(target), result));
            EXPECT_EQ(containerDigest(readFileBytes(target)), row.sha256);
        }
    }
}

}  // namespace
