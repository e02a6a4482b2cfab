// Key input. A passphrase is read as UTF-16 and turned into the Windows-1252 bytes that
// containers hash, as the tool does: a character outside that code page is refused, never
// replaced, and nothing is cut.

#include "app/dialogs/key_input.h"

#include <utility>

#include "app/dialogs/window_ops.h"
#include "base/text.h"
#include "container/key_code.h"
#include "job/key_material.h"
#include "job/passphrase.h"
#include "job/texts.h"
#include "resources/resource_ids.h"

namespace {

// The longest key code field read, in characters: a key code is 66, and anything longer is
// refused as malformed rather than cut.
constexpr uint32_t KEY_CODE_FIELD_CHARS = 1000;

uint32_t fieldLength(HWND window, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(window, id));
    return length > 0 ? static_cast<uint32_t>(length) : 0;
}

bool fieldIsEmpty(HWND window, int id) { return fieldLength(window, id) == 0; }

// The field's ANSI characters, at most capacity - 1 of them, in a zero-filled buffer of capacity
// bytes.
SecureBuffer readAnsiField(HWND window, int id, uint32_t capacity) {
    SecureBuffer buffer = SecureBuffer::zeros(capacity);
    GetDlgItemTextA(window, id, reinterpret_cast<char*>(buffer.data()), static_cast<int>(capacity));
    return buffer;
}

// Every UTF-16 unit of the field, without the terminating zero.
SecureBuffer readWideField(HWND window, int id) {
    const uint32_t length = fieldLength(window, id);
    SecureBuffer buffer = SecureBuffer::zeros((length + 1) * sizeof(wchar_t));
    const UINT got =
        GetDlgItemTextW(window, id, reinterpret_cast<wchar_t*>(buffer.data()), static_cast<int>(length + 1));
    buffer.resize(static_cast<uint32_t>(got <= length ? got : length) * sizeof(wchar_t));
    return buffer;
}

bool readPassphrase(HWND window, bool encrypting, JobKey& out) {
    if (fieldIsEmpty(window, IDC_MAIN_PASSPHRASE)) {
        showMessage(window, TEXT_NO_PASSPHRASE);
        return false;
    }
    if (fieldIsEmpty(window, IDC_MAIN_PASSPHRASE_REPEAT)) {
        showMessage(window, TEXT_NO_PASSPHRASE_REPEAT);
        return false;
    }
    const SecureBuffer first = readWideField(window, IDC_MAIN_PASSPHRASE);
    if (!first.constantTimeEquals(readWideField(window, IDC_MAIN_PASSPHRASE_REPEAT))) {
        showMessage(window, TEXT_PASSPHRASES_DIFFER);
        return false;
    }
    SecureBuffer bytes;
    const PassphraseStatus status = passphraseFromUtf16(reinterpret_cast<const uint16_t*>(first.data()),
                                                        first.size() / sizeof(wchar_t), bytes);
    if (status != PASSPHRASE_OK) {
        showMessage(window, passphraseMessage(status));
        return false;
    }
    if (encrypting && fieldLength(window, IDC_MAIN_PASSPHRASE) < SHORT_PASSPHRASE_LENGTH) {
        if (!askYesNo(window, TEXT_SHORT_PASSPHRASE, MB_ICONWARNING)) return false;
    }
    out.material = std::move(bytes);
    return true;
}

bool readKeyFileKey(HWND window, JobKey& out) {
    if (fieldIsEmpty(window, IDC_MAIN_KEY_FILE_PATH)) {
        showMessage(window, TEXT_NO_KEY_FILE);
        return false;
    }
    // The name as typed, its first line: not trimmed, not sanitised.
    const NativePath path = readPathField(window, IDC_MAIN_KEY_FILE_PATH);
    SecureBuffer key;
    const KeyMaterialStatus status = readKeyFile(path, key);
    if (status != KEY_MATERIAL_OK) {
        showMessage(window, keyMaterialMessage(status));
        return false;
    }
    out.material = std::move(key);
    return true;
}

bool readKeyCode(HWND window, JobKey& out) {
    if (fieldIsEmpty(window, IDC_MAIN_KEY_CODE)) {
        showMessage(window, TEXT_NO_KEY_CODE);
        return false;
    }
    if (fieldLength(window, IDC_MAIN_KEY_CODE) >= KEY_CODE_FIELD_CHARS) {
        showMessage(window, TEXT_BAD_KEY_CODE);
        return false;
    }
    const SecureBuffer typed = readAnsiField(window, IDC_MAIN_KEY_CODE, KEY_CODE_FIELD_CHARS);
    SecureBuffer code = textFromChars(reinterpret_cast<const char*>(typed.data()));
    if (!isKeyCodeWellFormed(code)) {
        showMessage(window, TEXT_BAD_KEY_CODE);
        return false;
    }
    out.material = std::move(code);
    return true;
}

KeyMethod selectedKeyMethod(HWND window) {
    if (IsDlgButtonChecked(window, IDC_MAIN_METHOD_PASSPHRASE) == BST_CHECKED) return PASSPHRASE;
    if (IsDlgButtonChecked(window, IDC_MAIN_METHOD_KEY_FILE) == BST_CHECKED) return KEY_FILE;
    return KEY_CODE;
}

}  // namespace

bool readKeyMaterial(HWND window, bool encrypting, JobKey& out) {
    out.material.wipe();
    out.method = selectedKeyMethod(window);
    switch (out.method) {
    case PASSPHRASE: return readPassphrase(window, encrypting, out);
    case KEY_FILE: return readKeyFileKey(window, out);
    case KEY_CODE: return readKeyCode(window, out);
    }
    return false;
}
