// Key input. A passphrase is read as UTF-16 and must convert to the ANSI code page exactly, since
// containers hash its ANSI bytes: a character without an ANSI form would otherwise become "?" and
// the container could not be opened with the passphrase the user typed.

#include "app/dialogs/key_input.h"

#include <utility>

#include "app/dialogs/window_ops.h"
#include "base/text.h"
#include "container/key_code.h"
#include "job/key_material.h"
#include "job/texts.h"
#include "resources/resource_ids.h"

namespace {

// Field capacity in characters, the NUL included: secrets longer than this are cut.
constexpr uint32_t SECRET_FIELD_CHARS = 1000;
// The ANSI form of a passphrase: a double-byte code page may need two bytes per character.
constexpr uint32_t PASSPHRASE_ANSI_BYTES = 2 * SECRET_FIELD_CHARS;

bool fieldIsEmpty(HWND window, int id) { return GetWindowTextLengthW(GetDlgItem(window, id)) == 0; }

// The field's ANSI characters, at most capacity - 1 of them, in a zero-filled buffer of capacity
// bytes.
SecureBuffer readAnsiField(HWND window, int id, uint32_t capacity) {
    SecureBuffer buffer = SecureBuffer::zeros(capacity);
    GetDlgItemTextA(window, id, reinterpret_cast<char*>(buffer.data()), static_cast<int>(capacity));
    return buffer;
}

// The field's UTF-16 characters, at most SECRET_FIELD_CHARS - 1 of them, zero-filled to the full
// capacity so that two reads compare as whole buffers.
SecureBuffer readWideField(HWND window, int id) {
    SecureBuffer buffer = SecureBuffer::zeros(SECRET_FIELD_CHARS * sizeof(wchar_t));
    GetDlgItemTextW(window, id, reinterpret_cast<wchar_t*>(buffer.data()), static_cast<int>(SECRET_FIELD_CHARS));
    return buffer;
}

// The ANSI text of a NUL-terminated UTF-16 buffer, or false when a character has no exact ANSI
// form (converted without best fit, and back again to make sure).
bool ansiFromWide(const SecureBuffer& wide, SecureBuffer& ansi) {
    const auto* units = reinterpret_cast<const wchar_t*>(wide.data());
    SecureBuffer bytes = SecureBuffer::zeros(PASSPHRASE_ANSI_BYTES);
    BOOL usedDefault = FALSE;
    const int written =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, -1, reinterpret_cast<char*>(bytes.data()),
                            static_cast<int>(bytes.size()), nullptr, &usedDefault);
    if (written == 0 || usedDefault) return false;
    SecureBuffer back = SecureBuffer::zeros(wide.size());
    const int unitsBack =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes.data()), -1,
                            reinterpret_cast<wchar_t*>(back.data()), static_cast<int>(back.size() / sizeof(wchar_t)));
    if (unitsBack == 0 || !back.constantTimeEquals(wide)) return false;
    ansi = std::move(bytes);
    return true;
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
    SecureBuffer ansi;
    if (!ansiFromWide(first, ansi)) {
        showMessage(window, TEXT_PASSPHRASE_UNREPRESENTABLE);
        return false;
    }
    if (encrypting && static_cast<uint32_t>(GetWindowTextLengthW(GetDlgItem(window, IDC_MAIN_PASSPHRASE))) <
                          SHORT_PASSPHRASE_LENGTH) {
        if (!askYesNo(window, TEXT_SHORT_PASSPHRASE, MB_ICONWARNING)) return false;
    }
    out.material = textFromChars(reinterpret_cast<const char*>(ansi.data()));
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
    const SecureBuffer typed = readAnsiField(window, IDC_MAIN_KEY_CODE, SECRET_FIELD_CHARS);
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
