// The job entry points.

#include "job/job_entry.h"

#include "container/decryption.h"
#include "container/encryption.h"

namespace {

using Pipeline = bool (*)(const PipelineOptions&, const JobKey&, const NativePath&, const NativePath&, JobResult&);

bool runWithMaterial(Pipeline pipeline, const PipelineOptions& options, KeyMethod method, const SecureBuffer& material,
                     const NativePath& source, const NativePath& target, JobResult& result) {
    return jobGuardMemory(result, [&] {
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
    return jobGuardMemory(result, [&] {
        return encrypt ? encryptJob(options, key, source, target, result)
                       : decryptJob(options, key, source, target, result);
    });
}

bool runVerify(const PipelineOptions& options, const JobKey& key, const NativePath& source, JobResult& result) {
    return jobGuardMemory(result, [&] { return verifyJob(options, key, source, result); });
}

bool runDecryptToStandardOutput(const PipelineOptions& options, const JobKey& key, const NativePath& source,
                                JobResult& result) {
    return jobGuardMemory(result, [&] { return decryptToStandardOutput(options, key, source, result); });
}
