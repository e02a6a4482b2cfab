// The job entry points: the six named ones, one per direction and key method, and the two that
// take a JobKey. Each turns an exhausted-memory exception from the buffer layer into a failed job
// instead of ending the process, through the guard that the desktop program's worker uses too.
#pragma once

#include <new>

#include "base/secure_buffer.h"
#include "container/pipeline_records.h"
#include "platform/platform.h"

// All six: true when the job succeeded; otherwise result holds why (exhausted memory is reported
// as RESULT_READ_ERROR) and no file of the job remains.
[[nodiscard]] bool encryptWithKeyFile(const PipelineOptions& options, const SecureBuffer& keyFileKey,
                                      const NativePath& source, const NativePath& target, JobResult& result);
[[nodiscard]] bool encryptWithKeyCode(const PipelineOptions& options, const SecureBuffer& keyCode,
                                      const NativePath& source, const NativePath& target, JobResult& result);
[[nodiscard]] bool encryptWithPassphrase(const PipelineOptions& options, const SecureBuffer& passphrase,
                                         const NativePath& source, const NativePath& target, JobResult& result);
[[nodiscard]] bool decryptWithKeyFile(const PipelineOptions& options, const SecureBuffer& keyFileKey,
                                      const NativePath& source, const NativePath& target, JobResult& result);
[[nodiscard]] bool decryptWithKeyCode(const PipelineOptions& options, const SecureBuffer& keyCode,
                                      const NativePath& source, const NativePath& target, JobResult& result);
[[nodiscard]] bool decryptWithPassphrase(const PipelineOptions& options, const SecureBuffer& passphrase,
                                         const NativePath& source, const NativePath& target, JobResult& result);

// Encrypts (encrypt true) or decrypts source into target with key; results as the six above.
[[nodiscard]] bool runJob(const PipelineOptions& options, bool encrypt, const JobKey& key, const NativePath& source,
                          const NativePath& target, JobResult& result);

// Decrypts source to the process's standard output (decryptToStandardOutput); results as runJob.
[[nodiscard]] bool runDecryptToStandardOutput(const PipelineOptions& options, const JobKey& key,
                                              const NativePath& source, JobResult& result);

// Checks the container at source with key through every chunk and writes nothing; results as a
// decryption without RESULT_WRITE_ERROR.
[[nodiscard]] bool runVerify(const PipelineOptions& options, const JobKey& key, const NativePath& source,
                             JobResult& result);

// Runs job (a callable returning the job's bool) and returns what it returns. The buffer layer
// throws the integer 0 when memory runs out, and the standard library std::bad_alloc: either makes
// the job fail with result RESULT_READ_ERROR instead of ending the process. The pipelines have
// released their files by the time such an exception leaves them. Other exceptions pass through.
template <typename Job>
[[nodiscard]] bool jobGuardMemory(JobResult& result, Job job) {
    try {
        return job();
    } catch (int) {
        result = RESULT_READ_ERROR;
    } catch (const std::bad_alloc&) {
        result = RESULT_READ_ERROR;
    }
    return false;
}
