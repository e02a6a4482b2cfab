// The key-file dialog. Its move counter is its own measure of the user's effort, apart from the
// generator's entropy count, which is already full when the main window runs.

#include "app/dialogs/create_key_file_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "app/dialogs/window_ops.h"
#include "job/key_material.h"
#include "app/startup.h"
#include "job/texts.h"
#include "base/text.h"
#include "random/generator.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

// Moves needed before the button is enabled: it is enabled by the move after this many.
constexpr uint32_t KEY_FILE_MOVES = 1024;

constexpr INT_PTR KEY_FILE_CHOSEN = 1;
constexpr INT_PTR KEY_FILE_CANCELLED = 0;

// Restarted at every opening.
struct KeyFileDialogState {
    uint32_t moves = 0;
};
KeyFileDialogState keyFileState;

BOOL onKeyFileInit(HWND dialog) {
    centerOnMainWindow(dialog);
    SendDlgItemMessageA(dialog, IDC_KEY_FILE_BAR, PBM_SETPOS, 0, 0);
    SendDlgItemMessageA(dialog, IDC_KEY_FILE_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, KEY_FILE_MOVES));
    keyFileState.moves = 0;
    return TRUE;
}

void onKeyFilePointerMove(HWND dialog, LPARAM position) {
    addPointerEntropy(LOWORD(position), HIWORD(position));
    ++keyFileState.moves;
    if (keyFileState.moves > KEY_FILE_MOVES) {
        SetDlgItemTextA(dialog, IDC_KEY_FILE_COUNTER, "");
        EnableWindow(GetDlgItem(dialog, IDC_KEY_FILE_CREATE), TRUE);
        return;
    }
    SendDlgItemMessageA(dialog, IDC_KEY_FILE_BAR, PBM_SETPOS, keyFileState.moves, 0);
    const SecureBuffer text = concat(decimalText(keyFileState.moves), fromNulTerminated(TEXT_ENTROPY_COUNTER_SUFFIX));
    SetDlgItemTextA(dialog, IDC_KEY_FILE_COUNTER, textPointer(text));
}

// Writes a key file with keyId and a fresh key at path; a failure is shown in a message box owned
// by owner.
void writeKeyFile(HWND owner, const NativePath& path, const SecureBuffer& keyId) {
    const KeyMaterialStatus status = ::writeKeyFile(globalRandomGenerator, path, keyId);
    if (status != KEY_MATERIAL_OK) showMessage(owner, keyMaterialMessage(status));
}

// Draws the identifier that names the file and goes into it; a cancelled save dialog keeps the
// key-file dialog open, and the next press draws a new identifier.
void onKeyFileCreate(HWND dialog) {
    SecureBuffer keyId;
    if (!generate(globalRandomGenerator, keyId, KEY_ID_BYTES, CIPHER_AES256)) {
        showMessage(dialog, keyMaterialMessage(GENERATOR_FAILED));
        return;
    }
    const SecureBuffer name = concat(fromNulTerminated(TEXT_KEY_FILE_NAME_PREFIX), toText(hexUpper(keyId)));
    NativePath suggested = pathWithSuffix(NativePath(), textPointer(name));
    NativePath path;
    if (!chooseSaveFile(path, dialog, KEY_FILE_KIND, suggested)) return;
    writeKeyFile(dialog, path, keyId);
    EndDialog(dialog, KEY_FILE_CHOSEN);
}

INT_PTR CALLBACK createKeyFileDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onKeyFileInit(dialog);
    case WM_MOUSEMOVE: onKeyFilePointerMove(dialog, lParam); return TRUE;
    case WM_CLOSE: EndDialog(dialog, KEY_FILE_CANCELLED); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_KEY_FILE_CREATE: onKeyFileCreate(dialog); return TRUE;
        case IDC_KEY_FILE_CANCEL: EndDialog(dialog, KEY_FILE_CANCELLED); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

bool runCreateKeyFileDialog() {
    return DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_CREATE_KEY_FILE), mainWindow, createKeyFileDialogProc,
                           0) == KEY_FILE_CHOSEN;
}
