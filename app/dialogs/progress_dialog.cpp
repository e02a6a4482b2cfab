// The progress dialog. It never ends itself: cancelling only raises the job's flag, which the
// pipeline reads after the chunk it is working on, and the worker then ends the dialog.

#include "app/dialogs/progress_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "app/dialogs/window_ops.h"
#include "job/job_records.h"
#include "app/worker.h"
#include "app/startup.h"
#include "job/texts.h"
#include "resources/resource_ids.h"

namespace {

constexpr UINT_PTR PROGRESS_TIMER_ID = 1;
constexpr UINT PROGRESS_TIMER_MS = 100;

// Whether the bar's range has been set for this job: it is set once, at the first tick after the
// pipeline has reported its chunk count.
struct ProgressDialogState {
    bool rangeSet = false;
};
ProgressDialogState progressState;

const char* statusText() {
    if (!globalJob.encrypt) return TEXT_STATUS_DECRYPTING;
    return globalJob.compress ? TEXT_STATUS_COMPRESSING : TEXT_STATUS_ENCRYPTING;
}

BOOL onProgressInit(HWND dialog) {
    centerOnMainWindow(dialog);
    globalJob.progress.lastFinishedChunk = 0;
    globalJob.progress.total = 0;
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    progressState.rangeSet = false;
    HANDLE worker = CreateThread(nullptr, 0, workerMain, dialog, 0, nullptr);
    if (worker == nullptr) {
        // Without a worker nothing would ever end the dialog.
        EndDialog(dialog, 0);
        showJobError(RESULT_READ_ERROR);
        return TRUE;
    }
    CloseHandle(worker);
    SetTimer(dialog, PROGRESS_TIMER_ID, PROGRESS_TIMER_MS, nullptr);
    SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, statusText());
    return TRUE;
}

void onProgressCancel(HWND dialog) {
    globalJob.progress.cancelRequested = true;
    SetDlgItemTextA(dialog, IDC_PROGRESS_STATUS, TEXT_STATUS_CANCELLING);
    EnableWindow(GetDlgItem(dialog, IDC_PROGRESS_CANCEL), FALSE);
}

void onProgressTimer(HWND dialog) {
    const uint32_t total = globalJob.progress.total.load(std::memory_order_relaxed);
    if (total == 0) return;  // no chunk finished yet, or an empty file
    if (!progressState.rangeSet) {
        // The control's range is 16-bit: the last chunk's index, modulo 65536.
        const WORD last = static_cast<WORD>(total - 1);
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, last));
        progressState.rangeSet = true;
    }
    const uint32_t done = globalJob.progress.lastFinishedChunk.load(std::memory_order_relaxed);
    SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(done), 0);
}

// Unlike the other dialogs, this one feeds no pointer moves to the generator: the job is drawing
// from it.
INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return onProgressInit(dialog);
    case WM_CLOSE: onProgressCancel(dialog); return TRUE;
    case WM_TIMER: onProgressTimer(dialog); return TRUE;
    case WM_COMMAND:
        // Enter and Escape arrive here as IDOK and IDCANCEL and are ignored: only the button cancels.
        if (LOWORD(wParam) == IDC_PROGRESS_CANCEL) onProgressCancel(dialog);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void runProgressDialog() {
    DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS), mainWindow, progressDialogProc, 0);
}
