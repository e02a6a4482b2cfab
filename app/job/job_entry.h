// The six job entry points: one per direction and key method. Each passes its key material in
// its method's slot (empty texts and an empty key elsewhere) to the pipeline, and turns an
// exhausted-memory exception from the buffer layer into a failed job instead of ending the process.
#pragma once

#include "app/job/job_records.h"
#include "base/secure_buffer.h"
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

// Runs the entry point that encrypt and keyMethod choose (an unknown method counts as the key
// code), taking the key material from the matching field of job.
[[nodiscard]] bool runJob(const PipelineOptions& options, const JobRequest& job, const NativePath& source,
                          const NativePath& target, JobResult& result);
