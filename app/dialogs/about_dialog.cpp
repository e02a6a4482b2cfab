// The about dialog.

#include "app/dialogs/about_dialog.h"

#include <windows.h>

#include "app/dialogs/window_ops.h"
#include "app/startup.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

constexpr INT_PTR ABOUT_CLOSED = 1;

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: centerOnMainWindow(dialog); return TRUE;
    case WM_MOUSEMOVE: addPointerEntropy(LOWORD(lParam), HIWORD(lParam)); return TRUE;
    case WM_CLOSE: EndDialog(dialog, ABOUT_CLOSED); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_ABOUT_OK) {
            EndDialog(dialog, ABOUT_CLOSED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void runAboutDialog() { DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_ABOUT), mainWindow, aboutDialogProc, 0); }
