// The records a pipeline is run with and reports through: the key the user gave (KeyMethod and
// JobKey), PipelineOptions, JobProgress and JobResult. The desktop program's job record and the
// command-line tool build on them; the texts of the results live with the other user texts.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/secure_buffer.h"
#include "crypto/cipher.h"

struct RandomGenerator;

enum KeyMethod : uint32_t { KEY_FILE = 0, KEY_CODE = 1, PASSPHRASE = 2 };

// The key material of one job, as the user gave it: the key field of a key file (its length
// unchecked), a key code text as typed, or a passphrase as ANSI text; texts end in their NUL.
// Only the material of method is ever held.
struct JobKey {
    KeyMethod method = KEY_FILE;
    SecureBuffer material;
};

// Written by the pipeline after every chunk and read by whoever shows progress; the cancel flag
// goes the other way. Each field is read and written whole; no ordering between them is relied on.
struct JobProgress {
    std::atomic<uint32_t> lastFinishedChunk{0};  // index of the chunk finished last
    std::atomic<uint32_t> total{0};              // the job's chunk count
    std::atomic<bool> cancelRequested{false};
};

// What a pipeline is run with. progress may be null: the pipeline then neither reports nor can be
// cancelled. workers is the number of threads that compress, seal or open chunks side by side:
// 0 asks for one per processor, 1 runs the whole job on the calling thread. Every count gives the
// same container from the same generator state.
struct PipelineOptions {
    RandomGenerator* generator = nullptr;
    bool compress = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    JobProgress* progress = nullptr;
    uint32_t workers = 0;
};

// Why a job failed; the first failing step of a pipeline decides.
enum JobResult : uint32_t {
    RESULT_READ_ERROR = 0,
    RESULT_WRITE_ERROR = 1,
    RESULT_CRYPTO_ERROR = 2,
    RESULT_WRONG_KEY = 3,
    RESULT_CANCELLED = 4,
};

// Sets result to code and gives false: the pipelines' way of ending a step that failed.
[[nodiscard]] inline bool failJob(JobResult& result, JobResult code) {
    result = code;
    return false;
}

// Records that chunk index of total has been finished. Does nothing when progress is null.
void reportChunkFinished(JobProgress* progress, uint32_t index, uint32_t total);

// Whether the user has asked to cancel; never for a null progress.
[[nodiscard]] bool isCancelRequested(const JobProgress* progress);
