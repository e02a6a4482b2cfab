// The desktop program's job: JobRequest with its one instance globalJob, filled by the main window
// and read by the worker and the progress dialog, and the message of each job result.
#pragma once

#include "base/native_file.h"
#include "container/pipeline_records.h"

// The job the main window fills and the worker reads. Written only on the user-interface thread
// while no worker runs. The paths are native paths, as the user named the files.
struct JobRequest {
    JobRequest();

    bool encrypt = true;
    bool compress = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    NativePath sourcePath;
    NativePath targetPath;
    JobKey key;
    JobProgress progress;
};

extern JobRequest globalJob;

// The message the user sees for result, in the program's execution character set; null for
// RESULT_CANCELLED, which shows nothing.
const char* jobResultMessage(JobResult result);
