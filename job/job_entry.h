// The job entry points: the six named ones, one per direction and key method, and the two that
// take a JobKey. Each turns an exhausted-memory exception from the buffer layer into a failed job
// instead of ending the process.
#pragma once

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
