// The parallel pipelines against the one-thread pipeline: the same container byte for byte from the
// same generator state, for every key method, cipher, compression and size around the chunk
// boundary, and on the portable engines in a child process; the same plaintext back. A failure in
// a middle chunk, exhausted memory in any thread and a cancel with chunks in flight end the job
// with the result the one-thread pipeline gives, no file of the job and an untouched target; the
// first bad chunk in file order decides. A forged table size on a sparse 4 GiB file fails at once.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include "base/byte_order.h"
#include "codec/framing.h"
#include "container/format.h"
#include "container/session.h"
#include "job/job_entry.h"
#include "support/allocators.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

constexpr uint32_t NOT_REPORTED = 0xFFFFFFFF;
constexpr uint8_t SEED = 42;
const std::string PRECIOUS_TEXT = "the file that already had the target's name\n";
const Bytes PRECIOUS(PRECIOUS_TEXT.begin(), PRECIOUS_TEXT.end());
// More workers than this machine has processors, and more than the chunks of most sizes.
const uint32_t PARALLEL_WORKER_COUNTS[] = {2, 3, 7};

struct Outcome {
    bool ok = false;
    JobResult result = RESULT_CANCELLED;
    uint32_t done = NOT_REPORTED;
    uint32_t total = NOT_REPORTED;
};

// Encrypts source into target with a fresh generator of SEED, so that every run draws the same.
Outcome encryptWith(uint32_t workers, KeyMethod method, CipherAlgorithm cipher, bool compress, const fs::path& source,
                    const fs::path& target, JobProgress* progress = nullptr) {
    auto generator = readyGenerator(SEED);
    Outcome outcome;
    outcome.ok = runJob(withWorkers(optionsFor(*generator, cipher, compress, progress), workers), true,
                        jobKeyFor(method), nativePathOf(source), nativePathOf(target), outcome.result);
    if (progress != nullptr) {
        outcome.done = progress->lastFinishedChunk;
        outcome.total = progress->total;
    }
    return outcome;
}

Outcome decryptWith(uint32_t workers, KeyMethod method, const fs::path& source, const fs::path* target,
                    JobProgress* progress = nullptr) {
    auto generator = readyGenerator(SEED);
    const PipelineOptions options = withWorkers(optionsFor(*generator, CIPHER_AES256, false, progress), workers);
    Outcome outcome;
    outcome.ok = target != nullptr ? runJob(options, false, jobKeyFor(method), nativePathOf(source),
                                            nativePathOf(*target), outcome.result)
                                   : runVerify(options, jobKeyFor(method), nativePathOf(source), outcome.result);
    if (progress != nullptr) {
        outcome.done = progress->lastFinishedChunk;
        outcome.total = progress->total;
    }
    return outcome;
}

JobProgress* freshProgress(JobProgress& progress) {
    progress.lastFinishedChunk = NOT_REPORTED;
    progress.total = NOT_REPORTED;
    progress.cancelRequested = false;
    return &progress;
}

struct SizeRow {
    const char* name;
    uint32_t bytes;
};
const SizeRow SIZES[] = {
    {"empty", 0},
    {"1 byte", 1},
    {"2 MiB - 1", CHUNK_SIZE - 1},
    {"2 MiB", CHUNK_SIZE},
    {"2 MiB + 1", CHUNK_SIZE + 1},
    {"5 chunks + 17 bytes", 5 * CHUNK_SIZE + 17},
};

Bytes contentFor(uint32_t bytes, bool compress) {
    // Compressed runs keep the codec quick; random data takes its stored form.
    return makeContent(compress && bytes > 1 ? Content::RUNS : Content::RANDOM, bytes, bytes);
}

// Offset of sealed chunk index in a container, from its table (opened with the key file's key).
std::vector<uint64_t> chunkOffsets(const Bytes& container, CipherAlgorithm cipher) {
    const uint32_t headerBytes = load32Le(container.data());
    const uint32_t tableBytes = load32Le(container.data() + 4 + headerBytes);
    CryptoSession session;
    sessionInit(session, fileKey(), nullptr, cipher);
    SecureBuffer table(container.data() + 8 + headerBytes, tableBytes);
    EXPECT_TRUE(sessionDecryptChunk(session, table));
    sessionRelease(session);
    std::vector<uint64_t> offsets;
    uint64_t offset = 8 + headerBytes + tableBytes;
    for (uint32_t i = 0; i < load32Le(table.data()); ++i) {
        offsets.push_back(offset);
        offset += load32Le(table.data() + 4 + 4 * i);
    }
    offsets.push_back(offset);
    return offsets;
}

void expectNothingLeft(const fs::path& dir, const std::vector<std::string>& names, const fs::path& target) {
    EXPECT_EQ(fileNames(dir), names) << "no file of the job remains";
    EXPECT_TRUE(readFileBytes(target) == PRECIOUS) << "the file at the target's name is untouched";
}

}  // namespace

TEST(ParallelPipeline, SameContainerAndPlaintextAsOneWorker) {
    TempDir dir;
    const fs::path source = dir / "source.bin";
    const fs::path reference = dir / "reference.encrypted";
    const fs::path parallel = dir / "parallel.encrypted";
    const fs::path back = dir / "back.bin";
    for (const SizeRow& size : SIZES) {
        for (bool compress : {false, true}) {
            const Bytes plain = contentFor(size.bytes, compress);
            writeFileBytes(source, plain);
            for (KeyMethod method : {KEY_FILE, KEY_CODE, PASSPHRASE}) {
                for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
                    const std::string row = std::string(size.name) + ", " + methodName(method) + ", " +
                                            cipherName(cipher) + (compress ? ", compressed" : "");
                    SCOPED_TRACE(row);
                    ASSERT_TRUE(encryptWith(1, method, cipher, compress, source, reference).ok);
                    const Bytes expected = readFileBytes(reference);
                    for (uint32_t workers : PARALLEL_WORKER_COUNTS) {
                        SCOPED_TRACE(std::to_string(workers) + " workers");
                        ASSERT_TRUE(encryptWith(workers, method, cipher, compress, source, parallel).ok);
                        const Bytes made = readFileBytes(parallel);
                        ASSERT_EQ(made.size(), expected.size());
                        EXPECT_TRUE(made == expected) << "the same container, byte for byte";

                        JobProgress progress;
                        const Outcome opened = decryptWith(workers, method, reference, &back, freshProgress(progress));
                        ASSERT_TRUE(opened.ok) << "result " << opened.result;
                        EXPECT_TRUE(readFileBytes(back) == plain);
                        const uint32_t chunks = (size.bytes + CHUNK_SIZE - 1) / CHUNK_SIZE;
                        EXPECT_EQ(opened.done, chunks == 0 ? NOT_REPORTED : chunks - 1) << "the last chunk, in order";
                        EXPECT_EQ(opened.total, chunks == 0 ? NOT_REPORTED : chunks);
                        EXPECT_TRUE(decryptWith(workers, method, reference, nullptr).ok) << "verification";
                    }
                }
            }
        }
    }
}

// The same containers with the portable engines (a child process started with FERROLYN_PORTABLE,
// as that choice is made once per process) and with this process's engines.
TEST(ParallelPipelineDeathTest, PortableEnginesMakeTheSameContainers) {
#if GTEST_HAS_DEATH_TEST
    constexpr const char* DIR_VARIABLE = "FERROLYN_PARALLEL_TEST_DIR";
    // The child runs this test again from the start; it finds the folder its parent made.
    const char* inherited = std::getenv(DIR_VARIABLE);
    std::unique_ptr<TempDir> ownDir;
    fs::path dir;
    if (inherited != nullptr) {
        dir = inherited;
    } else {
        ownDir = std::make_unique<TempDir>();
        dir = ownDir->path();
    }
    const uint32_t bytes = 5 * CHUNK_SIZE + 17;
    struct Case {
        const char* name;
        CipherAlgorithm cipher;
        bool compress;
        KeyMethod method;
    };
    const Case cases[] = {
        {"aes", CIPHER_AES256, false, KEY_FILE},
        {"serpent", CIPHER_SERPENT, false, PASSPHRASE},
        {"aes-compressed", CIPHER_AES256, true, KEY_CODE},
        {"serpent-compressed", CIPHER_SERPENT, true, KEY_FILE},
    };
    if (inherited == nullptr) {
        writeFileBytes(dir / "plain.bin", makeContent(Content::RANDOM, bytes, 5));
        writeFileBytes(dir / "runs.bin", makeContent(Content::RUNS, bytes, 5));
    }
    auto encryptAll = [&](const std::string& prefix) {
        for (const Case& c : cases) {
            if (!encryptWith(3, c.method, c.cipher, c.compress, dir / (c.compress ? "runs.bin" : "plain.bin"),
                             dir / (prefix + c.name + ".encrypted"))
                     .ok) {
                return false;
            }
        }
        return true;
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
    _putenv_s(DIR_VARIABLE, dir.string().c_str());
    _putenv_s("FERROLYN_PORTABLE", "1");
#else
    setenv(DIR_VARIABLE, dir.string().c_str(), 1);
    const char* before = std::getenv("FERROLYN_PORTABLE");
    const std::string saved = before == nullptr ? "" : before;
    setenv("FERROLYN_PORTABLE", "1", 1);
#endif
    EXPECT_EXIT(std::exit(encryptAll("portable-") ? 0 : 1), ::testing::ExitedWithCode(0), "");
#ifdef _WIN32
    _putenv_s(DIR_VARIABLE, "");
    _putenv_s("FERROLYN_PORTABLE", "");
#else
    unsetenv(DIR_VARIABLE);
    if (before == nullptr) {
        unsetenv("FERROLYN_PORTABLE");
    } else {
        setenv("FERROLYN_PORTABLE", saved.c_str(), 1);
    }
#endif
    ASSERT_TRUE(encryptAll("here-"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes portable = readFileBytes(dir / (std::string("portable-") + c.name + ".encrypted"));
        const Bytes here = readFileBytes(dir / (std::string("here-") + c.name + ".encrypted"));
        ASSERT_GT(here.size(), 106u) << "a container with chunks";
        EXPECT_TRUE(portable == here);
    }
#else
    GTEST_SKIP() << "no death tests on this platform";
#endif
}

// Chunk 1 and chunk 3 of a container damaged in different ways: whichever worker meets its chunk
// first, chunk 1's failure is the one reported, after chunk 0 and before anything later.
TEST(ParallelPipeline, FirstBadChunkInFileOrderDecides) {
    TempDir dir;
    const Bytes plain = makeContent(Content::RUNS, 5 * CHUNK_SIZE, 3);
    writeFileBytes(dir / "plain.bin", plain);
    // A compressed container, so that one damage can be a chunk that authenticates but does not
    // decompress: sealed again by the test under the container's key, as only a key holder could.
    ASSERT_TRUE(encryptWith(1, KEY_FILE, CIPHER_SERPENT, true, dir / "plain.bin", dir / "good.encrypted").ok);
    const Bytes good = readFileBytes(dir / "good.encrypted");
    const std::vector<uint64_t> offsets = chunkOffsets(good, CIPHER_SERPENT);
    ASSERT_EQ(offsets.size(), 6u);

    auto badCodecChunk = [&](uint32_t index) {
        // Same payload length, so the same sealed size; a method byte the codec refuses.
        const uint64_t sealedBytes = offsets[index + 1] - offsets[index];
        auto generator = readyGenerator(9);
        CryptoSession session;
        sessionInit(session, fileKey(), generator.get(), CIPHER_SERPENT);
        SecureBuffer opened(good.data() + offsets[index], static_cast<uint32_t>(sealedBytes));
        EXPECT_TRUE(sessionDecryptChunk(session, opened));
        opened.data()[4] = 0xFF;
        EXPECT_TRUE(sessionEncryptChunk(session, opened));
        EXPECT_EQ(opened.size(), sealedBytes);
        sessionRelease(session);
        return bytesOf(opened);
    };
    auto withChunk = [&](Bytes container, uint32_t index, const Bytes& sealed) {
        std::copy(sealed.begin(), sealed.end(), container.begin() + static_cast<long>(offsets[index]));
        return container;
    };
    auto flipped = [&](Bytes container, uint64_t offset) {
        container[offset] ^= 0x10;
        return container;
    };
    struct Row {
        const char* name;
        Bytes container;
        uint32_t done;
    };
    const Row rows[] = {
        {"chunk 1 does not decompress, chunk 3's tag is wrong",
         flipped(withChunk(good, 1, badCodecChunk(1)), offsets[4] - 1), 0},
        {"chunk 1's tag is wrong, chunk 3 does not decompress",
         withChunk(flipped(good, offsets[2] - 1), 3, badCodecChunk(3)), 0},
        {"chunk 3 alone does not decompress", withChunk(good, 3, badCodecChunk(3)), 2},
        {"chunk 1's IV, chunk 3's ciphertext", flipped(flipped(good, offsets[1]), offsets[3] + 100), 0},
        {"the last chunk's tag", flipped(good, offsets[5] - 1), 3},
    };
    for (const Row& row : rows) {
        writeFileBytes(dir / "damaged.encrypted", row.container);
        for (uint32_t workers : {1u, 2u, 3u, 5u}) {
            for (int repeat = 0; repeat < 3; ++repeat) {
                SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(workers) + " workers");
                writeFileBytes(dir / "target.bin", PRECIOUS);
                const std::vector<std::string> names = fileNames(dir.path());
                JobProgress progress;
                const fs::path target = dir / "target.bin";
                const Outcome outcome =
                    decryptWith(workers, KEY_FILE, dir / "damaged.encrypted", &target, freshProgress(progress));
                EXPECT_FALSE(outcome.ok);
                EXPECT_EQ(outcome.result, RESULT_READ_ERROR);
                EXPECT_EQ(outcome.done, row.done) << "the chunk before the first bad one was the last finished";
                expectNothingLeft(dir.path(), names, target);

                const Outcome verified =
                    decryptWith(workers, KEY_FILE, dir / "damaged.encrypted", nullptr, freshProgress(progress));
                EXPECT_FALSE(verified.ok);
                EXPECT_EQ(verified.result, RESULT_READ_ERROR);
                EXPECT_EQ(verified.done, row.done);
            }
        }
    }
}

// A container cut inside a middle chunk: the chunks before it are finished, that chunk's read fails.
TEST(ParallelPipeline, ContainerCutInAMiddleChunk) {
    TempDir dir;
    writeFileBytes(dir / "plain.bin", makeContent(Content::RANDOM, 5 * CHUNK_SIZE + 17, 4));
    ASSERT_TRUE(encryptWith(1, KEY_FILE, CIPHER_AES256, false, dir / "plain.bin", dir / "good.encrypted").ok);
    const Bytes good = readFileBytes(dir / "good.encrypted");
    const std::vector<uint64_t> offsets = chunkOffsets(good, CIPHER_AES256);
    writeFileBytes(dir / "cut.encrypted", Bytes(good.begin(), good.begin() + static_cast<long>(offsets[3] + 1000)));
    fs::remove(dir / "good.encrypted");
    for (uint32_t workers : {1u, 2u, 4u}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        writeFileBytes(dir / "target.bin", PRECIOUS);
        const std::vector<std::string> names = fileNames(dir.path());
        JobProgress progress;
        const fs::path target = dir / "target.bin";
        const Outcome outcome = decryptWith(workers, KEY_FILE, dir / "cut.encrypted", &target, freshProgress(progress));
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.result, RESULT_READ_ERROR);
        EXPECT_EQ(outcome.done, 2u);
        expectNothingLeft(dir.path(), names, target);
    }
}

// With the cancel flag set before the start, both directions finish chunk 0 and stop, whatever the
// number of workers: the reader hands in no chunk after the one during which it saw the cancel.
TEST(ParallelPipeline, CancelBeforeTheStartFinishesChunkZeroOnly) {
    TempDir dir;
    writeFileBytes(dir / "plain.bin", makeContent(Content::RANDOM, 6 * CHUNK_SIZE, 6));
    for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
        ASSERT_TRUE(encryptWith(1, KEY_FILE, cipher, false, dir / "plain.bin", dir / "made.encrypted").ok);
        for (uint32_t workers : {1u, 2u, 3u, 7u}) {
            SCOPED_TRACE(std::string(cipherName(cipher)) + ", " + std::to_string(workers) + " workers");
            writeFileBytes(dir / "target.bin", PRECIOUS);
            const std::vector<std::string> names = fileNames(dir.path());
            JobProgress progress;
            freshProgress(progress)->cancelRequested = true;
            Outcome outcome =
                encryptWith(workers, KEY_FILE, cipher, false, dir / "plain.bin", dir / "target.bin", &progress);
            EXPECT_FALSE(outcome.ok);
            EXPECT_EQ(outcome.result, RESULT_CANCELLED);
            EXPECT_EQ(outcome.done, 0u);
            EXPECT_EQ(outcome.total, 6u);
            expectNothingLeft(dir.path(), names, dir / "target.bin");

            freshProgress(progress)->cancelRequested = true;
            const fs::path target = dir / "target.bin";
            outcome = decryptWith(workers, KEY_FILE, dir / "made.encrypted", &target, &progress);
            EXPECT_FALSE(outcome.ok);
            EXPECT_EQ(outcome.result, RESULT_CANCELLED);
            EXPECT_EQ(outcome.done, 0u);
            expectNothingLeft(dir.path(), names, target);
        }
    }
}

// A cancel while chunks are being compressed side by side: the job stops with chunks still in
// flight, reports the last chunk written in order, and leaves nothing behind.
TEST(ParallelPipeline, CancelWithChunksInFlight) {
    TempDir dir;
    const uint32_t chunks = 8;
    // Random data keeps the block sort busy before the codec falls back to the stored form.
    writeFileBytes(dir / "plain.bin", makeContent(Content::RANDOM, chunks * CHUNK_SIZE, 8));
    writeFileBytes(dir / "target.bin", PRECIOUS);
    const std::vector<std::string> names = fileNames(dir.path());
    JobProgress progress;
    freshProgress(progress);
    std::atomic<uint32_t> seen{NOT_REPORTED};
    std::thread watcher([&] {
        // Cancels once the first chunk is out; the others are then being read or compressed.
        for (;;) {
            const uint32_t done = progress.lastFinishedChunk;
            if (done != NOT_REPORTED) {
                progress.cancelRequested = true;
                seen = done;
                return;
            }
            std::this_thread::yield();
        }
    });
    const Outcome outcome =
        encryptWith(3, KEY_FILE, CIPHER_SERPENT, true, dir / "plain.bin", dir / "target.bin", &progress);
    watcher.join();
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.result, RESULT_CANCELLED);
    EXPECT_GE(outcome.done, seen.load());
    EXPECT_LT(outcome.done, chunks - 1) << "stopped before the last chunk";
    expectNothingLeft(dir.path(), names, dir / "target.bin");
}

// Memory refused from a given large request on, whichever thread asks: the reader's slots, the
// codec in a worker, the writer's table. Every attempt fails as a read error, never ends the process,
// and leaves nothing behind.
namespace {

std::atomic<int> largeRequestsLeft{0};

void* refuseAfterSome(size_t bytes) {
    if (bytes >= 65536 && largeRequestsLeft.fetch_sub(1) <= 0) return nullptr;
    return std::malloc(bytes);
}
void releaseToMalloc(void* memory, size_t) { std::free(memory); }

}  // namespace

TEST(ParallelPipeline, ExhaustedMemoryInAnyThreadFailsTheJob) {
    TempDir dir;
    writeFileBytes(dir / "plain.bin", makeContent(Content::RUNS, 4 * CHUNK_SIZE + 5, 2));
    for (bool compress : {false, true}) {
        ASSERT_TRUE(encryptWith(1, KEY_FILE, CIPHER_AES256, compress, dir / "plain.bin", dir / "made.encrypted").ok);
        for (int allowed : {0, 1, 2, 3, 5, 8, 12, 20}) {
            for (uint32_t workers : {2u, 3u}) {
                SCOPED_TRACE(std::string(compress ? "compressed, " : "") + std::to_string(allowed) +
                             " large requests, " + std::to_string(workers) + " workers");
                writeFileBytes(dir / "target.bin", PRECIOUS);
                const std::vector<std::string> names = fileNames(dir.path());
                const fs::path target = dir / "target.bin";
                const SecureBufferAllocator previous = setSecureBufferAllocator({refuseAfterSome, releaseToMalloc});
                largeRequestsLeft = allowed;
                const Outcome encrypted =
                    encryptWith(workers, KEY_FILE, CIPHER_AES256, compress, dir / "plain.bin", target);
                setSecureBufferAllocator(previous);
                // Enough memory for the whole job is allowed too; then it succeeds.
                if (!encrypted.ok) {
                    EXPECT_EQ(encrypted.result, RESULT_READ_ERROR);
                    expectNothingLeft(dir.path(), names, target);
                }
                writeFileBytes(target, PRECIOUS);
                setSecureBufferAllocator({refuseAfterSome, releaseToMalloc});
                largeRequestsLeft = allowed;
                const Outcome decrypted = decryptWith(workers, KEY_FILE, dir / "made.encrypted", &target);
                setSecureBufferAllocator(previous);
                if (!decrypted.ok) {
                    EXPECT_EQ(decrypted.result, RESULT_READ_ERROR);
                    expectNothingLeft(dir.path(), names, target);
                }
                if (allowed == 0) {
                    EXPECT_FALSE(encrypted.ok);
                    EXPECT_FALSE(decrypted.ok);
                }
            }
        }
    }
}

#if !defined(_WIN32)
// Writes refused past a file-size limit (the process's RLIMIT_FSIZE): a write error in a middle
// chunk, in both directions, after the chunks before it.
TEST(ParallelPipeline, WriteErrorInAMiddleChunk) {
    TempDir dir;
    writeFileBytes(dir / "plain.bin", makeContent(Content::RANDOM, 5 * CHUNK_SIZE, 7));
    ASSERT_TRUE(encryptWith(1, KEY_FILE, CIPHER_AES256, false, dir / "plain.bin", dir / "made.encrypted").ok);
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    for (uint32_t workers : {1u, 2u, 3u}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        writeFileBytes(dir / "target.bin", PRECIOUS);
        const std::vector<std::string> names = fileNames(dir.path());
        const fs::path target = dir / "target.bin";
        JobProgress progress;
        struct rlimit limit = before;
        limit.rlim_cur = 5 << 20;  // two and a half chunks
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const Outcome encrypted =
            encryptWith(workers, KEY_FILE, CIPHER_AES256, false, dir / "plain.bin", target, freshProgress(progress));
        const Outcome decrypted =
            decryptWith(workers, KEY_FILE, dir / "made.encrypted", &target, freshProgress(progress));
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
        EXPECT_FALSE(encrypted.ok);
        EXPECT_EQ(encrypted.result, RESULT_WRITE_ERROR);
        EXPECT_EQ(encrypted.done, 1u);
        EXPECT_FALSE(decrypted.ok);
        EXPECT_EQ(decrypted.result, RESULT_WRITE_ERROR);
        EXPECT_EQ(decrypted.done, 1u);
        expectNothingLeft(dir.path(), names, target);
    }
    signal(SIGXFSZ, previousHandler);
}
#endif

// A valid header followed by a forged table size, on a file extended sparsely past 4 GiB: a size
// that the rest of the file could not fill with chunks is refused before anything is read, and one
// that it could is refused by its tag, read in pieces; neither asks for memory of its size.
TEST(ForgedTableSize, SparseFileFailsFastWithoutMemoryOfItsSize) {
    TempDir dir;
    writeFileBytes(dir / "plain.bin", "Hej");
    ASSERT_TRUE(encryptWith(1, KEY_FILE, CIPHER_AES256, false, dir / "plain.bin", dir / "small.encrypted").ok);
    const Bytes small = readFileBytes(dir / "small.encrypted");
    const uint32_t tableSizeOffset = 4 + HEADER_SIZE_RAW;
    const uint64_t fileBytes = (uint64_t{4} << 30) + (uint64_t{1} << 20);
    const uint32_t tableSizes[] = {
        0xFFFFFFF0,  // within the file, but 4 bytes per chunk of at least 64 cannot need this much
        0x08000010,  // 128 MiB: a table the rest could hold; its tag decides
    };
    for (uint32_t tableBytes : tableSizes) {
        SCOPED_TRACE(toHex(reinterpret_cast<const uint8_t*>(&tableBytes), 4));
        Bytes forged(small.begin(), small.begin() + tableSizeOffset + 4);
        store32Le(forged.data() + tableSizeOffset, tableBytes);
        forged.insert(forged.end(), small.begin() + tableSizeOffset + 4, small.end());
        writeFileBytes(dir / "forged.encrypted", forged);
        fs::resize_file(dir / "forged.encrypted", fileBytes);
        writeFileBytes(dir / "target.bin", PRECIOUS);
        const std::vector<std::string> names = fileNames(dir.path());
        const fs::path target = dir / "target.bin";
        for (uint32_t workers : {1u, 2u}) {
            Outcome decrypted;
            Outcome verified;
            {
                LargestRequestRecorder recorder;
                decrypted = decryptWith(workers, KEY_FILE, dir / "forged.encrypted", &target);
                verified = decryptWith(workers, KEY_FILE, dir / "forged.encrypted", nullptr);
            }
            EXPECT_FALSE(decrypted.ok);
            EXPECT_EQ(decrypted.result, RESULT_READ_ERROR);
            EXPECT_FALSE(verified.ok);
            EXPECT_EQ(verified.result, RESULT_READ_ERROR);
            EXPECT_LE(LargestRequestRecorder::largestRequest(), 65536u);
            expectNothingLeft(dir.path(), names, target);
        }
        fs::remove(dir / "forged.encrypted");
    }
}
