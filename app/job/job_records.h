// The records that describe one job and its outcome, shared by the main window, the worker, the
// progress dialog and the pipelines: KeyMethod, JobRequest with globalJob, JobProgress,
// PipelineOptions and JobResult with its messages.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/secure_buffer.h"
#include "crypto/cipher.h"

struct RandomGenerator;

enum KeyMethod : uint32_t { KEY_FILE = 0, KEY_CODE = 1, PASSPHRASE = 2 };

// Written by the worker after every chunk and read by the progress dialog's timer; the cancel
// flag goes the other way. Each field is read and written whole; no ordering between them is
// relied on.
struct JobProgress {
    std::atomic<uint32_t> done{0};   // index of the chunk finished last
    std::atomic<uint32_t> total{0};  // the job's chunk count
    std::atomic<bool> cancelRequested{false};
};

// The job the main window fills and the worker reads. Written only on the user-interface thread
// while no worker runs. Texts are 8-bit ANSI text buffers.
struct JobRequest {
    JobRequest();

    bool encrypt = true;
    bool compress = false;
    KeyMethod keyMethod = KEY_FILE;
    CipherAlgorithm cipher = CIPHER_AES256;
    SecureBuffer sourcePath;
    SecureBuffer targetPath;
    SecureBuffer passphrase;
    SecureBuffer keyCode;
    SecureBuffer keyFileKey;
    JobProgress progress;
};

extern JobRequest globalJob;

// What the worker hands a pipeline. progress may be null: the pipeline then neither reports nor
// can be cancelled.
struct PipelineOptions {
    RandomGenerator* generator = nullptr;
    bool compress = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    JobProgress* progress = nullptr;
};

// Why a job failed; the first failing step of a pipeline decides.
enum JobResult : uint32_t {
    RESULT_READ_ERROR = 0,
    RESULT_WRITE_ERROR = 1,
    RESULT_CRYPTO_ERROR = 2,
    RESULT_WRONG_KEY = 3,
    RESULT_CANCELLED = 4,
};

// The message the user sees for result, in the program's execution character set; null for
// RESULT_CANCELLED, which shows nothing.
const char* jobResultMessage(JobResult result);
