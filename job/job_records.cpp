// The process-wide job record and the result messages.

#include "job/job_records.h"

#include "base/text.h"
#include "job/texts.h"

JobRequest globalJob;

JobRequest::JobRequest() {
    emptyText(sourcePath);
    emptyText(targetPath);
}

const char* jobResultMessage(JobResult result) {
    switch (result) {
    case RESULT_READ_ERROR: return TEXT_RESULT_READ_ERROR;
    case RESULT_WRITE_ERROR: return TEXT_RESULT_WRITE_ERROR;
    case RESULT_CRYPTO_ERROR: return TEXT_RESULT_CRYPTO_ERROR;
    case RESULT_WRONG_KEY: return TEXT_RESULT_WRONG_KEY;
    case RESULT_CANCELLED: return nullptr;
    }
    return nullptr;
}
