// The job entry points.

#include "job/job_entry.h"

#include <new>

#include "container/decryption.h"
#include "container/encryption.h"

namespace {

using Pipeline = bool (*)(const PipelineOptions&, const JobKey&, const NativePath&, const NativePath&, JobResult&);

// The buffer layer throws the integer 0 when memory runs out; the pipelines have released their
// files by then, and the job fails instead of the process.
template <typename Job>
bool guardMemory(JobResult& result, Job job) {
    try {
        return job();
    } catch (int) {
        result = RESULT_READ_ERROR;
    } catch (const std::bad_alloc&) {
        result = RESULT_READ_ERROR;
    }
    return false;
}

bool runWithMaterial(Pipeline pipeline, const PipelineOptions& options, KeyMethod method, const SecureBuffer& material,
                     const NativePath& source, const NativePath& target, JobResult& result) {
    return guardMemory(result, [&] {
        JobKey key;
        key.method = method;
        key.material = material;
        return pipeline(options, key, source, target, result);
    });
}

}  // namespace

bool encryptWithKeyFile(const PipelineOptions& options, const SecureBuffer& keyFileKey, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runWithMaterial(encryptJob, options, KEY_FILE, keyFileKey, source, target, result);
}

bool encryptWithKeyCode(const PipelineOptions& options, const SecureBuffer& keyCode, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runWithMaterial(encryptJob, options, KEY_CODE, keyCode, source, target, result);
}

bool encryptWithPassphrase(const PipelineOptions& options, const SecureBuffer& passphrase, const NativePath& source,
                           const NativePath& target, JobResult& result) {
    return runWithMaterial(encryptJob, options, PASSPHRASE, passphrase, source, target, result);
}

bool decryptWithKeyFile(const PipelineOptions& options, const SecureBuffer& keyFileKey, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runWithMaterial(decryptJob, options, KEY_FILE, keyFileKey, source, target, result);
}

bool decryptWithKeyCode(const PipelineOptions& options, const SecureBuffer& keyCode, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runWithMaterial(decryptJob, options, KEY_CODE, keyCode, source, target, result);
}

bool decryptWithPassphrase(const PipelineOptions& options, const SecureBuffer& passphrase, const NativePath& source,
                           const NativePath& target, JobResult& result) {
    return runWithMaterial(decryptJob, options, PASSPHRASE, passphrase, source, target, result);
}

bool runJob(const PipelineOptions& options, bool encrypt, const JobKey& key, const NativePath& source,
            const NativePath& target, JobResult& result) {
    return guardMemory(result, [&] {
        return encrypt ? encryptJob(options, key, source, target, result)
                       : decryptJob(options, key, source, target, result);
    });
}

bool runVerify(const PipelineOptions& options, const JobKey& key, const NativePath& source, JobResult& result) {
    return guardMemory(result, [&] { return verifyJob(options, key, source, result); });
}

bool runDecryptToStandardOutput(const PipelineOptions& options, const JobKey& key, const NativePath& source,
                                JobResult& result) {
    return guardMemory(result, [&] { return decryptToStandardOutput(options, key, source, result); });
}
