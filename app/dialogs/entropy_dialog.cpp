// The entropy collection dialog. It keeps no state: the count it shows is the generator's.

#include "app/dialogs/entropy_dialog.h"

#include <windows.h>

#include "app/dialogs/window_ops.h"
#include "app/startup.h"
#include "job/texts.h"
#include "base/text.h"
#include "random/generator.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

// Dialog results.
constexpr INT_PTR ENTROPY_READY = 1;
constexpr INT_PTR ENTROPY_ABANDONED = 0;

bool generatorReady() { return globalRandomGenerator.entropy.load() >= ENTROPY_THRESHOLD; }

// Ends the dialog ready; the seed file is written at once so that the next start needs no
// collection. A failed write is left to the exit hook, which tries again.
void finishReady(HWND dialog) {
    EndDialog(dialog, ENTROPY_READY);
    (void)saveSeedFile();
}

BOOL onEntropyInit(HWND dialog) {
    centerOnDesktop(dialog);
    setProgramIcons(dialog);
    return TRUE;
}

void onEntropyPointerMove(HWND dialog, LPARAM position) {
    addPointerEntropy(LOWORD(position), HIWORD(position));
    const uint32_t count = globalRandomGenerator.entropy.load();
    if (count < ENTROPY_THRESHOLD) {
        SecureBuffer text = concat(decimalText(count), fromNulTerminated(TEXT_ENTROPY_COUNTER_SUFFIX));
        SetDlgItemTextA(dialog, IDC_ENTROPY_COUNTER, textPointer(text));
    } else {
        EnableWindow(GetDlgItem(dialog, IDC_ENTROPY_CONTINUE), TRUE);
        SetDlgItemTextA(dialog, IDC_ENTROPY_COUNTER, "");
    }
}

void onEntropyClose(HWND dialog) {
    if (generatorReady()) {
        finishReady(dialog);
    } else {
        EndDialog(dialog, ENTROPY_ABANDONED);
    }
}

// Enter and Escape send IDOK and IDCANCEL; only the button's own command is handled, so the
// dialog is left through the button or the close box alone.
INT_PTR CALLBACK entropyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onEntropyInit(dialog);
    case WM_MOUSEMOVE: onEntropyPointerMove(dialog, lParam); return TRUE;
    case WM_CLOSE: onEntropyClose(dialog); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_ENTROPY_CONTINUE) {
            finishReady(dialog);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

bool runEntropyDialog() {
    return DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_ENTROPY), nullptr, entropyDialogProc, 0) ==
           ENTROPY_READY;
}
