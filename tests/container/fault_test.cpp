// Encryption, decryption and verification when the platform layer fails under them: a full disk
// at every write, a read error at every read, failing closes, creates, opens and renames, and a
// cancel at every point of a job. Each failure must give its result code, leave no file of the
// job behind and leave a file that already had the target's name byte for byte as it was. The
// failures are counted per operation, never placed by the pipeline's internal order: failing
// call k for every k up to the first run in which the fault no longer fires covers every call
// of that kind, whatever the header, the table and each chunk are read or written with.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/failures.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

// Which calls of one operation fail (calls are counted from 1), or, with cancel set, which call
// requests a cancel instead of failing.
struct FaultPlan {
    PlatformOperation operation = PLATFORM_WRITE;
    uint32_t first = 0;
    uint32_t last = 0;
    JobProgress* cancel = nullptr;
    std::atomic<uint32_t> calls{0};
    std::atomic<bool> fired{false};
};

bool planHook(PlatformOperation operation, void* context) {
    FaultPlan& plan = *static_cast<FaultPlan*>(context);
    if (operation != plan.operation) return false;
    const uint32_t call = plan.calls.fetch_add(1) + 1;
    if (call < plan.first || call > plan.last) return false;
    plan.fired.store(true);
    if (plan.cancel == nullptr) return true;
    plan.cancel->cancelRequested.store(true);
    return false;
}

// Installs the plan's hook for one job and removes it whatever happens.
class FaultScope {
public:
    explicit FaultScope(FaultPlan& plan) { platformSetFaultHook(planHook, &plan); }
    ~FaultScope() { platformSetFaultHook(nullptr, nullptr); }
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;
};

enum class Job { ENCRYPT, DECRYPT, VERIFY };

const char* jobName(Job job) {
    switch (job) {
    case Job::ENCRYPT: return "encrypt";
    case Job::DECRYPT: return "decrypt";
    case Job::VERIFY: return "verify";
    }
    return "?";
}

const char* operationName(PlatformOperation operation) {
    switch (operation) {
    case PLATFORM_OPEN: return "open";
    case PLATFORM_CREATE: return "create";
    case PLATFORM_READ: return "read";
    case PLATFORM_WRITE: return "write";
    case PLATFORM_CLOSE: return "close";
    case PLATFORM_RENAME: return "rename";
    case PLATFORM_FLUSH: return "flush";
    case PLATFORM_FLUSH_FOLDER: return "folder flush";
    }
    return "?";
}

// Three chunks, the last one short; a plain container and a compressed one of it; and a file
// under the target's name that a failed job must not touch.
class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        plain_ = makeContent(Content::RUNS, 2 * CHUNK_SIZE + 70001, 3);
        writeFileBytes(dir_ / "source.bin", plain_);
        JobResult result = RESULT_CANCELLED;
        for (bool compress : {false, true}) {
            const fs::path container = dir_ / (compress ? "compressed.enc" : "plain.enc");
            ASSERT_TRUE(encryptJob(optionsFor(*generator_, CIPHER_AES256, compress), key_,
                                   nativePathOf(dir_ / "source.bin"), nativePathOf(container), result));
        }
        writeFileBytes(dir_ / "target.bin", EXISTING);
        baseline_ = fileNames(dir_.path());
    }

    // Runs job with the plan's hook installed; containerName is the container that decrypt and
    // verify read. The job's own progress record is the plan's cancel target when it has one.
    bool runJob(Job job, FaultPlan& plan, bool compress, JobResult& result) {
        JobProgress progress;
        if (plan.cancel != nullptr) plan.cancel = &progress;
        const PipelineOptions options = optionsFor(*generator_, CIPHER_SERPENT, compress, &progress);
        const NativePath container = nativePathOf(dir_ / (compress ? "compressed.enc" : "plain.enc"));
        const NativePath target = nativePathOf(dir_ / "target.bin");
        const FaultScope scope(plan);
        switch (job) {
        case Job::ENCRYPT: return encryptJob(options, key_, nativePathOf(dir_ / "source.bin"), target, result);
        case Job::DECRYPT: return decryptJob(options, key_, container, target, result);
        case Job::VERIFY: return verifyJob(options, key_, container, result);
        }
        return false;
    }

    // After a job that failed: nothing new in the folder, and the old target as it was.
    void expectNothingLeft() {
        EXPECT_EQ(fileNames(dir_.path()), baseline_) << "a failed job left a file or removed one";
        EXPECT_TRUE(readFileBytes(dir_ / "target.bin") == EXISTING) << "the existing target was changed";
    }

    // After a job that succeeded: the target holds the right bytes (for encryption, a container
    // that decrypts to the source), and the folder holds no temporary file. Puts the old target
    // back for the next run.
    void expectSuccess(Job job) {
        EXPECT_EQ(fileNames(dir_.path()), baseline_) << "a temporary file was left behind";
        if (job == Job::ENCRYPT) {
            JobResult result = RESULT_CANCELLED;
            ASSERT_TRUE(decryptJob(optionsFor(*generator_, CIPHER_AES256, false), key_,
                                   nativePathOf(dir_ / "target.bin"), nativePathOf(dir_ / "check.bin"), result));
            EXPECT_TRUE(readFileBytes(dir_ / "check.bin") == plain_);
            fs::remove(dir_ / "check.bin");
        } else if (job == Job::DECRYPT) {
            EXPECT_TRUE(readFileBytes(dir_ / "target.bin") == plain_);
        }
        writeFileBytes(dir_ / "target.bin", EXISTING);
    }

    // Fails call k of operation (all calls from k on when every is set) for k = 1, 2, ... until a
    // run in which it did not fire; that run must succeed. A run in which it fired must fail with
    // expected, or, where harmlessSuccess allows it (a close of a file only read), succeed.
    // Returns the number of runs in which the fault fired.
    uint32_t failEachCall(Job job, PlatformOperation operation, JobResult expected, bool compress, bool every = false,
                          bool harmlessSuccess = false) {
        uint32_t fired = 0;
        for (uint32_t k = 1;; ++k) {
            SCOPED_TRACE(std::string(jobName(job)) + ", " + operationName(operation) + " call " + std::to_string(k) +
                         (compress ? ", compressed" : ""));
            FaultPlan plan;
            plan.operation = operation;
            plan.first = k;
            plan.last = every ? UINT32_MAX : k;
            JobResult result = RESULT_CANCELLED;
            const bool ok = runJob(job, plan, compress, result);
            if (!plan.fired.load()) {
                EXPECT_TRUE(ok) << "the job fails without a fault";
                if (ok) expectSuccess(job);
                return fired;
            }
            ++fired;
            if (ok) {
                EXPECT_TRUE(harmlessSuccess) << "the job succeeded although the fault fired";
                expectSuccess(job);
            } else {
                EXPECT_EQ(result, expected);
                expectNothingLeft();
            }
            if (::testing::Test::HasFailure() || k > 1000) return fired;
        }
    }

    static inline const Bytes EXISTING = Bytes(5000, 0xE5);
    TempDir dir_;
    std::unique_ptr<RandomGenerator> generator_ = readyGenerator();
    JobKey key_ = jobKeyFor(KEY_FILE);
    Bytes plain_;
    std::vector<std::string> baseline_;
};

}  // namespace

TEST_F(FaultInjection, FullDiskAtEveryWrite) {
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        for (bool compress : {false, true}) {
            // The header, the table area, three chunks and the table: more than five writes.
            EXPECT_GE(failEachCall(job, PLATFORM_WRITE, RESULT_WRITE_ERROR, compress), job == Job::ENCRYPT ? 5u : 3u);
            platformClearFailures();
        }
    }
}

TEST_F(FaultInjection, FullDiskIsRecordedAsTheCause) {
    platformClearFailures();
    FaultPlan plan;
    plan.operation = PLATFORM_WRITE;
    plan.first = plan.last = 2;
    JobResult result = RESULT_CANCELLED;
    ASSERT_FALSE(runJob(Job::DECRYPT, plan, false, result));
    EXPECT_EQ(result, RESULT_WRITE_ERROR);
    EXPECT_EQ(platformLastFailure(PLATFORM_WRITE).cause, CAUSE_DISK_FULL);
    EXPECT_EQ(platformLastFailure(PLATFORM_READ).cause, CAUSE_NONE);
    expectNothingLeft();
}

// Every read of the container: its header, its table and each chunk, the middle one included.
TEST_F(FaultInjection, ReadErrorAtEveryRead) {
    for (Job job : {Job::DECRYPT, Job::VERIFY, Job::ENCRYPT}) {
        for (bool compress : {false, true}) {
            const uint32_t fired = failEachCall(job, PLATFORM_READ, RESULT_READ_ERROR, compress);
            EXPECT_GE(fired, job == Job::ENCRYPT ? 3u : 5u) << "header, table and three chunks";
        }
    }
}

TEST_F(FaultInjection, FailingCloseOfTheTarget) {
    // Only the target's close can lose data; a failing close of a file that was only read may
    // pass unnoticed.
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        EXPECT_GE(failEachCall(job, PLATFORM_CLOSE, RESULT_WRITE_ERROR, false, false, true), 1u);
    }
    EXPECT_GE(failEachCall(Job::VERIFY, PLATFORM_CLOSE, RESULT_READ_ERROR, false, false, true), 1u);
}

TEST_F(FaultInjection, FailingRename) {
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        EXPECT_EQ(failEachCall(job, PLATFORM_RENAME, RESULT_WRITE_ERROR, false), 1u);
    }
}

// A flush that fails means written bytes may not be on the disk: the job fails as at a write,
// and the temporary file goes while the old target stays.
TEST_F(FaultInjection, FailingFlushOfTheTarget) {
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        for (bool compress : {false, true}) {
            EXPECT_EQ(failEachCall(job, PLATFORM_FLUSH, RESULT_WRITE_ERROR, compress), 1u);
        }
    }
}

// The commit's calls in order: the last write, the flush of the data, the close, the rename, and
// on POSIX the flush of the folder, all before the job returns. A power cut between any two of
// them leaves either the old target or the whole new one.
TEST_F(FaultInjection, CommitFlushesTheDataBeforeTheRenameAndTheFolderAfterIt) {
    struct Recording {
        std::mutex mutex;
        std::vector<PlatformOperation> calls;
    };
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        SCOPED_TRACE(jobName(job));
        Recording recording;
        platformSetFaultHook(
            [](PlatformOperation operation, void* context) {
                Recording& r = *static_cast<Recording*>(context);
                const std::lock_guard<std::mutex> lock(r.mutex);
                r.calls.push_back(operation);
                return false;
            },
            &recording);
        JobResult result = RESULT_CANCELLED;
        const NativePath target = nativePathOf(dir_ / "target.bin");
        const PipelineOptions options = optionsFor(*generator_, CIPHER_AES256, false);
        const bool ok = job == Job::ENCRYPT
                            ? encryptJob(options, key_, nativePathOf(dir_ / "source.bin"), target, result)
                            : decryptJob(options, key_, nativePathOf(dir_ / "plain.enc"), target, result);
        platformSetFaultHook(nullptr, nullptr);
        ASSERT_TRUE(ok);
        expectSuccess(job);

        const std::vector<PlatformOperation>& calls = recording.calls;
        auto count = [&](PlatformOperation operation) { return std::count(calls.begin(), calls.end(), operation); };
        auto first = [&](PlatformOperation operation) {
            return std::find(calls.begin(), calls.end(), operation) - calls.begin();
        };
        const auto lastWrite = calls.rend() - std::find(calls.rbegin(), calls.rend(), PLATFORM_WRITE) - 1;
        ASSERT_EQ(count(PLATFORM_FLUSH), 1);
        ASSERT_EQ(count(PLATFORM_RENAME), 1);
        EXPECT_LT(lastWrite, first(PLATFORM_FLUSH)) << "every write comes before the flush";
        const auto closeAfterFlush = std::find(calls.begin() + first(PLATFORM_FLUSH), calls.end(), PLATFORM_CLOSE);
        EXPECT_LT(closeAfterFlush - calls.begin(), first(PLATFORM_RENAME)) << "flush, close, then rename";
#if defined(_WIN32)
        EXPECT_EQ(count(PLATFORM_FLUSH_FOLDER), 0) << "the move is made with write-through instead";
#else
        ASSERT_EQ(count(PLATFORM_FLUSH_FOLDER), 1);
        EXPECT_EQ(first(PLATFORM_FLUSH_FOLDER), first(PLATFORM_RENAME) + 1) << "the folder right after the rename";
#endif
    }
}

#if !defined(_WIN32)
// After the rename the old target is gone; a folder flush that fails still fails the job, since the
// new name may not survive a power cut. The target then holds the whole new file, and no
// temporary file is left.
TEST_F(FaultInjection, FailingFolderFlushAfterTheRename) {
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        SCOPED_TRACE(jobName(job));
        FaultPlan plan;
        plan.operation = PLATFORM_FLUSH_FOLDER;
        plan.first = 1;
        plan.last = UINT32_MAX;
        JobResult result = RESULT_CANCELLED;
        EXPECT_FALSE(runJob(job, plan, false, result));
        EXPECT_TRUE(plan.fired.load());
        EXPECT_EQ(result, RESULT_WRITE_ERROR);
        expectSuccess(job);
    }
}
#endif

TEST_F(FaultInjection, TargetThatCannotBeCreated) {
    for (Job job : {Job::ENCRYPT, Job::DECRYPT}) {
        // Every create fails: no temporary name helps.
        EXPECT_EQ(failEachCall(job, PLATFORM_CREATE, RESULT_WRITE_ERROR, false, true), 1u);
        // Only one create fails: the job may take another temporary name, or fail cleanly.
        EXPECT_EQ(failEachCall(job, PLATFORM_CREATE, RESULT_WRITE_ERROR, false, false, true), 1u);
    }
}

TEST_F(FaultInjection, SourceThatCannotBeOpened) {
    for (Job job : {Job::ENCRYPT, Job::DECRYPT, Job::VERIFY}) {
        EXPECT_EQ(failEachCall(job, PLATFORM_OPEN, RESULT_READ_ERROR, false), 1u);
    }
}

// A cancel requested at any read or write of a running job ends it as cancelled, with nothing
// left; only one that comes after the job's last check may let it finish.
TEST_F(FaultInjection, CancelAtEveryPoint) {
    const struct {
        Job job;
        PlatformOperation operation;
    } rows[] = {
        {Job::ENCRYPT, PLATFORM_WRITE}, {Job::ENCRYPT, PLATFORM_READ}, {Job::DECRYPT, PLATFORM_WRITE},
        {Job::DECRYPT, PLATFORM_READ},  {Job::VERIFY, PLATFORM_READ},
    };
    for (const auto& row : rows) {
        uint32_t cancelled = 0;
        for (uint32_t k = 1;; ++k) {
            SCOPED_TRACE(std::string(jobName(row.job)) + ", cancel at " + operationName(row.operation) + " call " +
                         std::to_string(k));
            FaultPlan plan;
            plan.operation = row.operation;
            plan.first = plan.last = k;
            JobProgress placeholder;
            plan.cancel = &placeholder;
            JobResult result = RESULT_READ_ERROR;
            const bool ok = runJob(row.job, plan, false, result);
            if (ok) {
                expectSuccess(row.job);
                if (!plan.fired.load()) break;
                continue;
            }
            EXPECT_TRUE(plan.fired.load());
            EXPECT_EQ(result, RESULT_CANCELLED);
            expectNothingLeft();
            ++cancelled;
            if (::testing::Test::HasFailure() || k > 1000) break;
        }
        // A cancel at the first read or write comes before the first chunk is finished.
        EXPECT_GE(cancelled, 1u) << jobName(row.job) << " " << operationName(row.operation);
    }
}
