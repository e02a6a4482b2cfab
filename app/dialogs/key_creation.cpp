// Key creation in the desktop program, over the portable key-material module.

#include "app/dialogs/key_creation.h"

#include "app/dialogs/main_window.h"
#include "app/dialogs/window_ops.h"
#include "app/job/key_material.h"
#include "base/text.h"
#include "random/generator.h"
#include "resources/resource_ids.h"

void generateKeyCode(HWND window) {
    SecureBuffer code;
    const KeyMaterialStatus status = generateKeyCode(globalRandomGenerator, code);
    if (status != KEY_MATERIAL_OK) {
        showMessage(window, keyMaterialMessage(status));
        return;
    }
    SetDlgItemTextA(window, IDC_MAIN_KEY_CODE, textPointer(code));
}

void generatePassphrase(HWND window) {
    SecureBuffer passphrase;
    const KeyMaterialStatus status = generatePassphrase(globalRandomGenerator, passphrase);
    if (status != KEY_MATERIAL_OK) {
        showMessage(window, keyMaterialMessage(status));
        return;
    }
    // Shown in plain text so that it can be read and written down.
    CheckDlgButton(window, IDC_MAIN_HIDE_PASSPHRASE, BST_UNCHECKED);
    setPassphraseHidden(window, false);
    SetDlgItemTextA(window, IDC_MAIN_PASSPHRASE, textPointer(passphrase));
    SetDlgItemTextA(window, IDC_MAIN_PASSPHRASE_REPEAT, "");
}

void writeKeyFile(HWND owner, const SecureBuffer& path, const SecureBuffer& keyId) {
    const char* target = textPointer(path);
    const KeyMaterialStatus status =
        target == nullptr ? KEY_FILE_NOT_WRITTEN : writeKeyFile(globalRandomGenerator, target, keyId);
    if (status != KEY_MATERIAL_OK) showMessage(owner, keyMaterialMessage(status));
}
