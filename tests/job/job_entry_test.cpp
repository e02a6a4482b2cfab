// The six job entry points and runJob: each hands its key material to the pipeline under its own
// method, runJob picks the entry point from the job, and a job that runs out of memory fails with
// a result instead of ending the process, leaving no file of its own.

#include "job/job_entry.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "container/format.h"
#include "support/allocators.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

const std::string OLD_TEXT = "already here before the job\n";
const Bytes OLD(OLD_TEXT.begin(), OLD_TEXT.end());

using EntryPoint = bool (*)(const PipelineOptions&, const SecureBuffer&, const NativePath&, const NativePath&,
                            JobResult&);

struct MethodEntryPoints {
    KeyMethod method;
    EntryPoint encrypt;
    EntryPoint decrypt;
};

const MethodEntryPoints ENTRY_POINTS[] = {
    {KEY_FILE, encryptWithKeyFile, decryptWithKeyFile},
    {KEY_CODE, encryptWithKeyCode, decryptWithKeyCode},
    {PASSPHRASE, encryptWithPassphrase, decryptWithPassphrase},
};

// The material of method alone, as the main window hands it over.
SecureBuffer ownMaterial(KeyMethod method) {
    KeyMaterial material = materialFor(method);
    switch (method) {
    case KEY_FILE: return material.keyFileKey;
    case KEY_CODE: return material.keyCode;
    case PASSPHRASE: return material.passphrase;
    }
    return SecureBuffer();
}

}  // namespace

// Each entry point's container opens with the pipeline under that entry point's method, and each
// decryption entry point opens a container the pipeline made with its method.
TEST(JobEntryPoints, EachPassesItsMaterialUnderItsMethod) {
    auto generator = readyGenerator();
    TempDir dir;
    const Bytes plain = {'e', 'n', ' ', 'f', 'i', 'l'};
    writeFileBytes(dir / "plain.bin", plain);
    const PipelineOptions options = optionsFor(*generator, CIPHER_SERPENT, true);
    for (const MethodEntryPoints& entry : ENTRY_POINTS) {
        SCOPED_TRACE(methodName(entry.method));
        JobResult result = RESULT_CANCELLED;
        ASSERT_TRUE(entry.encrypt(options, ownMaterial(entry.method), nativePathOf(dir / "plain.bin"),
                                  nativePathOf(dir / "by-entry.encrypted"), result))
            << "result " << result;
        ASSERT_TRUE(decryptPath(options, entry.method, materialFor(entry.method), dir / "by-entry.encrypted",
                                dir / "by-pipeline.out", result))
            << "result " << result;
        EXPECT_TRUE(readFileBytes(dir / "by-pipeline.out") == plain);

        ASSERT_TRUE(encryptPath(options, entry.method, materialFor(entry.method), dir / "plain.bin",
                                dir / "by-pipeline.encrypted", result));
        ASSERT_TRUE(entry.decrypt(options, ownMaterial(entry.method), nativePathOf(dir / "by-pipeline.encrypted"),
                                  nativePathOf(dir / "by-entry.out"), result))
            << "result " << result;
        EXPECT_TRUE(readFileBytes(dir / "by-entry.out") == plain);
    }
}

// A decryption entry point of another method meets a container it cannot open: wrong key, and
// the file at the target's name is untouched.
TEST(JobEntryPoints, OtherMethodsAreTheWrongKey) {
    auto generator = readyGenerator();
    TempDir dir;
    writeFileBytes(dir / "plain.bin", "text");
    const PipelineOptions options = optionsFor(*generator, CIPHER_AES256, false);
    for (const MethodEntryPoints& maker : ENTRY_POINTS) {
        JobResult result = RESULT_CANCELLED;
        ASSERT_TRUE(maker.encrypt(options, ownMaterial(maker.method), nativePathOf(dir / "plain.bin"),
                                  nativePathOf(dir / "made.encrypted"), result));
        for (const MethodEntryPoints& opener : ENTRY_POINTS) {
            if (opener.method == maker.method) continue;
            SCOPED_TRACE(std::string(methodName(maker.method)) + " container, " + methodName(opener.method));
            writeFileBytes(dir / "target.out", OLD);
            result = RESULT_CANCELLED;
            EXPECT_FALSE(opener.decrypt(options, ownMaterial(opener.method), nativePathOf(dir / "made.encrypted"),
                                        nativePathOf(dir / "target.out"), result));
            EXPECT_EQ(result, RESULT_WRONG_KEY);
            EXPECT_TRUE(readFileBytes(dir / "target.out") == OLD);
        }
    }
}

// runJob takes one key record: the direction decides the pipeline, and the container opens with
// that method's material alone. A method the record does not know is refused.
TEST(JobEntryPoints, RunJobChoosesByDirectionAndMethod) {
    auto generator = readyGenerator();
    TempDir dir;
    const Bytes plain = {'r', 'u', 'n'};
    writeFileBytes(dir / "plain.bin", plain);
    const PipelineOptions options = optionsFor(*generator, CIPHER_AES256, false);

    for (KeyMethod used : {KEY_FILE, KEY_CODE, PASSPHRASE}) {
        SCOPED_TRACE(methodName(used));
        const JobKey key = jobKeyFor(used);
        JobResult result = RESULT_CANCELLED;
        ASSERT_TRUE(
            runJob(options, true, key, nativePathOf(dir / "plain.bin"), nativePathOf(dir / "job.encrypted"), result))
            << "result " << result;
        for (KeyMethod method : {KEY_FILE, KEY_CODE, PASSPHRASE}) {
            SCOPED_TRACE(std::string("opened with ") + methodName(method));
            const bool opened =
                decryptPath(options, method, materialFor(method), dir / "job.encrypted", dir / "check.out", result);
            EXPECT_EQ(opened, method == used);
        }

        ASSERT_TRUE(
            encryptPath(options, used, materialFor(used), dir / "plain.bin", dir / "pipeline.encrypted", result));
        ASSERT_TRUE(runJob(options, false, key, nativePathOf(dir / "pipeline.encrypted"), nativePathOf(dir / "job.out"),
                           result))
            << "result " << result;
        EXPECT_TRUE(readFileBytes(dir / "job.out") == plain);
    }

    JobKey unknown = jobKeyFor(KEY_CODE);
    unknown.method = static_cast<KeyMethod>(7);
    JobResult result = RESULT_CANCELLED;
    EXPECT_FALSE(
        runJob(options, true, unknown, nativePathOf(dir / "plain.bin"), nativePathOf(dir / "unknown.out"), result));
    EXPECT_EQ(result, RESULT_WRONG_KEY);
    EXPECT_FALSE(fs::exists(dir / "unknown.out"));
}

// The buffer layer throws when memory runs out; the job fails with a read error instead, its
// temporary target is gone, and the file at the target's name is untouched.
TEST(JobEntryPoints, ExhaustedMemoryFailsTheJob) {
    auto generator = readyGenerator();
    TempDir dir;
    writeFileBytes(dir / "plain.bin", makeContent(Content::RANDOM, CHUNK_SIZE + 1));
    const PipelineOptions options = optionsFor(*generator, CIPHER_AES256, false);
    const SecureBuffer key = ownMaterial(KEY_FILE);
    JobResult result = RESULT_CANCELLED;
    ASSERT_TRUE(encryptWithKeyFile(options, key, nativePathOf(dir / "plain.bin"), nativePathOf(dir / "made.encrypted"),
                                   result));
    writeFileBytes(dir / "target", OLD);
    const std::vector<std::string> before = fileNames(dir.path());

    struct Row {
        const char* name;
        EntryPoint entry;
        const char* source;
    };
    const Row rows[] = {
        {"encryption", encryptWithKeyFile, "plain.bin"},
        {"decryption", decryptWithKeyFile, "made.encrypted"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        result = RESULT_CANCELLED;
        bool ok = true;
        {
            RefusingLargeRequests<1048576> exhaustedHeap;  // the 2 MiB chunk cannot be had
            ok = row.entry(options, key, nativePathOf(dir / row.source), nativePathOf(dir / "target"), result);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(result, RESULT_READ_ERROR);
        EXPECT_EQ(fileNames(dir.path()), before) << "no file of the job remains";
        EXPECT_TRUE(readFileBytes(dir / "target") == OLD);
    }
}

// The guard that the entry points and the desktop program's worker share: the job's own answer
// passes through, the two out-of-memory exceptions become a failed job with a read error, and
// anything else is not swallowed.
TEST(JobEntryPoints, MemoryGuardTurnsOnlyExhaustedMemoryIntoAFailedJob) {
    struct Row {
        const char* name;
        bool (*job)(JobResult&);
        bool expectedOk;
        JobResult expectedResult;
    };
    const Row rows[] = {
        {"success", [](JobResult&) { return true; }, true, RESULT_CANCELLED},
        {"the job's own failure",
         [](JobResult& r) {
             r = RESULT_WRONG_KEY;
             return false;
         },
         false, RESULT_WRONG_KEY},
        {"the buffer layer's integer 0", [](JobResult&) -> bool { throw 0; }, false, RESULT_READ_ERROR},
        {"std::bad_alloc", [](JobResult&) -> bool { throw std::bad_alloc(); }, false, RESULT_READ_ERROR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        JobResult result = RESULT_CANCELLED;
        EXPECT_EQ(jobGuardMemory(result, [&] { return row.job(result); }), row.expectedOk);
        EXPECT_EQ(result, row.expectedResult);
    }
    JobResult result = RESULT_CANCELLED;
    EXPECT_THROW((void)jobGuardMemory(result, []() -> bool { throw std::logic_error("a fault"); }), std::logic_error);
    EXPECT_EQ(result, RESULT_CANCELLED);
}
