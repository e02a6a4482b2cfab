// The job entry points.

#include "app/job/job_entry.h"

#include <new>

#include "base/text.h"
#include "container/decryption.h"
#include "container/encryption.h"

namespace {

using Pipeline = bool (*)(const PipelineOptions&, KeyMethod, const SecureBuffer&, const SecureBuffer&,
                          const SecureBuffer&, const NativePath&, const NativePath&, JobResult&);

// Calls the pipeline with the key material in its method's slot. The buffer layer throws the
// integer 0 when memory runs out; the pipelines have released their files by then, and the job
// fails instead of the process.
bool runPipeline(Pipeline pipeline, const PipelineOptions& options, KeyMethod method, const SecureBuffer& material,
                 const NativePath& source, const NativePath& target, JobResult& result) {
    try {
        SecureBuffer emptyText;
        ::emptyText(emptyText);
        const SecureBuffer noKey;
        return pipeline(options, method, method == KEY_FILE ? material : noKey,
                        method == PASSPHRASE ? material : emptyText, method == KEY_CODE ? material : emptyText,
                        source, target, result);
    } catch (int) {
        result = RESULT_READ_ERROR;
        return false;
    } catch (const std::bad_alloc&) {
        result = RESULT_READ_ERROR;
        return false;
    }
}

}  // namespace

bool encryptWithKeyFile(const PipelineOptions& options, const SecureBuffer& keyFileKey, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runPipeline(encryptFile, options, KEY_FILE, keyFileKey, source, target, result);
}

bool encryptWithKeyCode(const PipelineOptions& options, const SecureBuffer& keyCode, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runPipeline(encryptFile, options, KEY_CODE, keyCode, source, target, result);
}

bool encryptWithPassphrase(const PipelineOptions& options, const SecureBuffer& passphrase, const NativePath& source,
                           const NativePath& target, JobResult& result) {
    return runPipeline(encryptFile, options, PASSPHRASE, passphrase, source, target, result);
}

bool decryptWithKeyFile(const PipelineOptions& options, const SecureBuffer& keyFileKey, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runPipeline(decryptFile, options, KEY_FILE, keyFileKey, source, target, result);
}

bool decryptWithKeyCode(const PipelineOptions& options, const SecureBuffer& keyCode, const NativePath& source,
                        const NativePath& target, JobResult& result) {
    return runPipeline(decryptFile, options, KEY_CODE, keyCode, source, target, result);
}

bool decryptWithPassphrase(const PipelineOptions& options, const SecureBuffer& passphrase, const NativePath& source,
                           const NativePath& target, JobResult& result) {
    return runPipeline(decryptFile, options, PASSPHRASE, passphrase, source, target, result);
}

bool runJob(const PipelineOptions& options, const JobRequest& job, const NativePath& source,
            const NativePath& target, JobResult& result) {
    switch (job.keyMethod) {
    case KEY_FILE:
        return job.encrypt ? encryptWithKeyFile(options, job.keyFileKey, source, target, result)
                           : decryptWithKeyFile(options, job.keyFileKey, source, target, result);
    case PASSPHRASE:
        return job.encrypt ? encryptWithPassphrase(options, job.passphrase, source, target, result)
                           : decryptWithPassphrase(options, job.passphrase, source, target, result);
    case KEY_CODE:
        break;
    }
    return job.encrypt ? encryptWithKeyCode(options, job.keyCode, source, target, result)
                       : decryptWithKeyCode(options, job.keyCode, source, target, result);
}
