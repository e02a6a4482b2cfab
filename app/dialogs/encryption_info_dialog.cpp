// The encryption information dialog. The template holds the texts of AES-256 with compression;
// the values that differ for Serpent or without compression are set when it opens.

#include "app/dialogs/encryption_info_dialog.h"

#include <windows.h>

#include "app/dialogs/window_ops.h"
#include "job/settings.h"
#include "app/startup.h"
#include "job/texts.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

constexpr INT_PTR INFO_CLOSED = 1;

BOOL onInfoInit(HWND dialog) {
    centerOnMainWindow(dialog);
    loadSettings(globalSettings);
    if (globalSettings.cipher != CIPHER_AES256) {
        SetDlgItemTextA(dialog, IDC_INFO_ALGORITHM, TEXT_INFO_SERPENT_ALGORITHM);
        SetDlgItemTextA(dialog, IDC_INFO_IMPLEMENTATION, TEXT_INFO_SERPENT_IMPLEMENTATION);
        SetDlgItemTextA(dialog, IDC_INFO_KEY_SPLITTING, TEXT_INFO_SERPENT_KEY_SPLITTING);
        SetDlgItemTextA(dialog, IDC_INFO_RANDOM_GENERATION, TEXT_INFO_SERPENT_RANDOM_GENERATION);
    }
    if (!globalSettings.compress) SetDlgItemTextA(dialog, IDC_INFO_ENTROPY_STAGE, TEXT_INFO_NO_COMPRESSION);
    return TRUE;
}

INT_PTR CALLBACK encryptionInfoDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onInfoInit(dialog);
    case WM_MOUSEMOVE: addPointerEntropy(LOWORD(lParam), HIWORD(lParam)); return TRUE;
    case WM_CLOSE: EndDialog(dialog, INFO_CLOSED); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_INFO_CLOSE) {
            EndDialog(dialog, INFO_CLOSED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void runEncryptionInfoDialog() {
    DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_ENCRYPTION_INFO), mainWindow, encryptionInfoDialogProc, 0);
}
