// The worker thread of a job: runs globalJob through its pipeline, then ends the progress dialog
// and tells the user how the job went. Windows only.
#pragma once

#include <windows.h>

#include "job/job_records.h"

// How long the progress dialog stays on screen after the pipeline has returned.
constexpr DWORD WORKER_PAUSE_MS = 1000;

// Thread entry; the argument is the progress dialog's handle. Runs the job that globalJob
// describes (globalJob MUST NOT be written until the dialog has ended), pauses WORKER_PAUSE_MS,
// then: on success empties the main window's source field and ends the dialog with 1; on failure
// ends the dialog with 0 and shows the result's message (none for a cancelled job). The job's
// temporary target is already gone when it fails; a file that had the target's name is untouched.
DWORD WINAPI workerMain(LPVOID progressDialog);

// The message of result in a box owned by mainWindow; RESULT_CANCELLED and unknown codes show
// nothing.
void showJobError(JobResult result);
