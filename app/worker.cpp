// The worker: one thread per job, started by the progress dialog.

#include "app/worker.h"

#include "app/dialogs/window_ops.h"
#include "job/job_entry.h"
#include "random/generator.h"
#include "resources/resource_ids.h"

namespace {

// Progress dialog results; the main window does not look at them.
constexpr INT_PTR JOB_SUCCEEDED = 1;
constexpr INT_PTR JOB_FAILED = 0;

bool workerRunJob(JobResult& result) {
    // runJob turns exhausted memory inside the pipeline into a failed job; nothing here may end
    // the process on it either.
    return jobGuardMemory(result, [&] {
        PipelineOptions options;
        options.generator = &globalRandomGenerator;
        options.compress = globalJob.compress;
        options.cipher = globalJob.cipher;
        options.progress = &globalJob.progress;
        return runJob(options, globalJob.encrypt, globalJob.key, globalJob.sourcePath, globalJob.targetPath, result);
    });
}

}  // namespace

DWORD WINAPI workerMain(LPVOID progressDialog) {
    HWND dialog = static_cast<HWND>(progressDialog);
    JobResult result = RESULT_READ_ERROR;
    const bool succeeded = workerRunJob(result);
    Sleep(WORKER_PAUSE_MS);
    if (succeeded) {
        SetDlgItemTextA(mainWindow, IDC_MAIN_SOURCE_PATH, "");
        EndDialog(dialog, JOB_SUCCEEDED);
    } else {
        EndDialog(dialog, JOB_FAILED);
        showJobError(result);
    }
    return 0;
}

void showJobError(JobResult result) {
    const char* message = jobResultMessage(result);
    if (message != nullptr) showMessage(mainWindow, message);
}
