// The settings dialog. It edits globalSettings, loaded afresh when it opens, and saves them on OK.

#include "app/dialogs/settings_dialog.h"

#include <windows.h>

#include "app/dialogs/window_ops.h"
#include "job/settings.h"
#include "app/startup.h"
#include "job/texts.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

constexpr INT_PTR SETTINGS_SAVED = 1;
constexpr INT_PTR SETTINGS_CANCELLED = 0;

void addCipher(HWND dialog, const char* name, CipherAlgorithm cipher) {
    const LRESULT index =
        SendDlgItemMessageA(dialog, IDC_SETTINGS_CIPHER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendDlgItemMessageA(dialog, IDC_SETTINGS_CIPHER, CB_SETITEMDATA, static_cast<WPARAM>(index), cipher);
}

BOOL onSettingsInit(HWND dialog) {
    centerOnMainWindow(dialog);
    addCipher(dialog, TEXT_CIPHER_AES256, CIPHER_AES256);
    addCipher(dialog, TEXT_CIPHER_SERPENT, CIPHER_SERPENT);
    loadSettings(globalSettings);
    // The list is sorted, and "AES-256 CBC" sorts first: the index is the cipher's value.
    const WPARAM selected = globalSettings.cipher != CIPHER_AES256 ? 1 : 0;
    SendDlgItemMessageA(dialog, IDC_SETTINGS_CIPHER, CB_SETCURSEL, selected, 0);
    CheckDlgButton(dialog, IDC_SETTINGS_COMPRESS, globalSettings.compress ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

void onSettingsOk(HWND dialog) {
    const LRESULT index = SendDlgItemMessageA(dialog, IDC_SETTINGS_CIPHER, CB_GETCURSEL, 0, 0);
    const LRESULT data =
        SendDlgItemMessageA(dialog, IDC_SETTINGS_CIPHER, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    globalSettings.cipher = data == CIPHER_SERPENT ? CIPHER_SERPENT : CIPHER_AES256;
    globalSettings.compress = IsDlgButtonChecked(dialog, IDC_SETTINGS_COMPRESS) == BST_CHECKED;
    // A failed write is not reported: the next use reads the file again and finds the old values.
    (void)saveSettings(globalSettings);
    EndDialog(dialog, SETTINGS_SAVED);
}

// Enter and Escape (IDOK, IDCANCEL) are not handled: only the two buttons and the close box end it.
INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onSettingsInit(dialog);
    case WM_MOUSEMOVE: addPointerEntropy(LOWORD(lParam), HIWORD(lParam)); return TRUE;
    case WM_CLOSE: EndDialog(dialog, SETTINGS_CANCELLED); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SETTINGS_OK: onSettingsOk(dialog); return TRUE;
        case IDC_SETTINGS_CANCEL: EndDialog(dialog, SETTINGS_CANCELLED); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void runSettingsDialog() {
    DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_SETTINGS), mainWindow, settingsDialogProc, 0);
}
