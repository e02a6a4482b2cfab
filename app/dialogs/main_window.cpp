// The main window's procedure and its handlers. The procedure only dispatches; each command has
// one handler. The key controls of the method that is not selected are disabled, but their texts
// stay, so switching back finds them as they were.

#include "app/dialogs/main_window.h"

#include <shellapi.h>

#include <cwchar>
#include <initializer_list>

#include "app/dialogs/about_dialog.h"
#include "app/dialogs/create_key_file_dialog.h"
#include "app/dialogs/encryption_info_dialog.h"
#include "app/dialogs/key_input.h"
#include "app/dialogs/progress_dialog.h"
#include "app/dialogs/settings_dialog.h"
#include "app/dialogs/window_ops.h"
#include "job/job_records.h"
#include "job/key_material.h"
#include "job/settings.h"
#include "job/target_names.h"
#include "app/startup.h"
#include "job/texts.h"
#include "base/text.h"
#include "platform/platform.h"
#include "random/generator.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

// The dialog's result when the user closes it; WinMain ignores it.
constexpr INT_PTR MAIN_WINDOW_CLOSED = 1;
// The password character of hidden passphrases (BLACK CIRCLE); it has no ANSI form, so it is set
// with the wide message.
constexpr wchar_t PASSWORD_CIRCLE = 0x25CF;

// Shows the characters of both passphrase fields as black circles (hidden) or as plain text, and
// repaints them. The check box is left to the caller.
void setPassphraseHidden(HWND window, bool hidden) {
    const WPARAM character = hidden ? PASSWORD_CIRCLE : 0;
    for (int id : {IDC_MAIN_PASSPHRASE, IDC_MAIN_PASSPHRASE_REPEAT}) {
        HWND field = GetDlgItem(window, id);
        SendMessageW(field, EM_SETPASSWORDCHAR, character, 0);
        InvalidateRect(field, nullptr, TRUE);
    }
}

// Puts a fresh key code into the key-code field (the method stays as it is).
void generateKeyCode(HWND window) {
    SecureBuffer code;
    const KeyMaterialStatus status = ::generateKeyCode(globalRandomGenerator, code);
    if (status != KEY_MATERIAL_OK) {
        showMessage(window, keyMaterialMessage(status));
        return;
    }
    SetDlgItemTextA(window, IDC_MAIN_KEY_CODE, textPointer(code));
}

// Puts a fresh passphrase into the passphrase field in plain text, so that it can be read and
// written down; the repeat field is emptied (the user types it once more) and the hide box cleared.
void generatePassphrase(HWND window) {
    SecureBuffer passphrase;
    const KeyMaterialStatus status = ::generatePassphrase(globalRandomGenerator, passphrase);
    if (status != KEY_MATERIAL_OK) {
        showMessage(window, keyMaterialMessage(status));
        return;
    }
    CheckDlgButton(window, IDC_MAIN_HIDE_PASSPHRASE, BST_UNCHECKED);
    setPassphraseHidden(window, false);
    SetDlgItemTextA(window, IDC_MAIN_PASSPHRASE, textPointer(passphrase));
    SetDlgItemTextA(window, IDC_MAIN_PASSPHRASE_REPEAT, "");
}

// The controls that each key method enables; the other methods' controls are disabled.
struct MethodControls {
    KeyMethod method;
    std::initializer_list<int> controls;
};
const MethodControls METHOD_CONTROLS[] = {
    {KEY_FILE, {IDC_MAIN_KEY_FILE_PATH, IDC_MAIN_BROWSE_KEY_FILE}},
    {KEY_CODE, {IDC_MAIN_KEY_CODE, IDC_MAIN_CREATE_KEY_CODE}},
    {PASSPHRASE,
     {IDC_MAIN_PASSPHRASE, IDC_MAIN_PASSPHRASE_REPEAT, IDC_MAIN_HIDE_PASSPHRASE, IDC_MAIN_CREATE_PASSPHRASE}},
};

// The same name, or two names of one existing file.
bool sameFile(const NativePath& source, const NativePath& target) {
    if (source.constantTimeEquals(target)) return true;
    return platformSameFile(source, target);
}

void applyKeyMethod(HWND window, KeyMethod method) {
    for (const MethodControls& group : METHOD_CONTROLS) {
        for (int id : group.controls) EnableWindow(GetDlgItem(window, id), group.method == method);
    }
}

// The source field's first line; false (after the message) when the field is empty. The file
// itself is not looked at: a missing source is the job's read error.
bool readSourcePath(HWND window, NativePath& path) {
    if (GetWindowTextLengthW(GetDlgItem(window, IDC_MAIN_SOURCE_PATH)) == 0) {
        showMessage(window, TEXT_NO_SOURCE);
        return false;
    }
    path = readPathField(window, IDC_MAIN_SOURCE_PATH);
    return true;
}

// Fills the job's paths and key material; the caller sets the direction, cipher and compression.
void fillJob(const JobKey& key, const NativePath& source, const NativePath& target) {
    globalJob.key.method = key.method;
    globalJob.key.material.assign(key.material);
    globalJob.progress.cancelRequested = false;
    globalJob.sourcePath.assign(source);
    globalJob.targetPath.assign(target);
}

void startEncryption(HWND window) {
    if (globalRandomGenerator.entropy.load() < ENTROPY_THRESHOLD) {
        showMessage(window, keyMaterialMessage(GENERATOR_NOT_READY));
        return;
    }
    NativePath source;
    if (!readSourcePath(window, source)) return;
    if (hasEncryptedExtension(source) && !askYesNo(window, TEXT_ENCRYPT_AGAIN, 0)) return;
    JobKey key;
    if (!readKeyMaterial(window, true, key)) return;
    NativePath suggested;
    (void)defaultTargetName(fileNamePart(source), true, suggested);  // encrypting always has one
    NativePath target;
    if (!chooseSaveFile(target, window, ENCRYPTED_FILE, suggested, folderPart(source))) return;
    if (sameFile(source, target)) {
        showMessage(window, TEXT_SAME_FILE);
        return;
    }
    loadSettings(globalSettings);
    globalJob.encrypt = true;
    globalJob.compress = globalSettings.compress;
    globalJob.cipher = globalSettings.cipher;
    fillJob(key, source, target);
    runProgressDialog();
}

// Decryption needs no entropy and asks no short-passphrase question; the container names its own
// cipher and compression.
void startDecryption(HWND window) {
    NativePath source;
    if (!readSourcePath(window, source)) return;
    JobKey key;
    if (!readKeyMaterial(window, false, key)) return;
    // A name without the extension is offered as it is, for the user to change.
    const NativePath name = fileNamePart(source);
    NativePath suggested = name;
    (void)defaultTargetName(name, false, suggested);
    NativePath target;
    if (!chooseSaveFile(target, window, ANY_FILE, suggested, folderPart(source))) return;
    if (sameFile(source, target)) {
        showMessage(window, TEXT_SAME_FILE);
        return;
    }
    globalJob.encrypt = false;
    fillJob(key, source, target);
    runProgressDialog();
}

// A file handed to the program, dropped or named on its command line: a key file (".key", lower
// case) goes to the key-file field, anything else to the source field. The key method stays as
// it is.
void placeFileName(HWND window, const NativePath& name) {
    const int field = pathEndsWith(name, TEXT_KEY_EXTENSION) ? IDC_MAIN_KEY_FILE_PATH : IDC_MAIN_SOURCE_PATH;
    setPathField(window, field, name);
}

// The first argument of the program's command line, as UTF-16: Explorer passes the file of "Öppna
// med", of a file association, or dropped on the program's icon this way. False when there is
// none.
bool firstCommandLineArgument(NativePath& name) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return false;
    const bool given = count > 1 && arguments[1][0] != L'\0';
    if (given) {
        const size_t units = wcslen(arguments[1]);
        SecureBuffer buffer(reinterpret_cast<const uint8_t*>(arguments[1]),
                            static_cast<uint32_t>((units + 1) * NATIVE_UNIT_BYTES));
        name = firstLineOfPath(buffer);
    }
    // The array holds the names in one block of its own: wiped before it goes back.
    for (int i = 0; i < count; ++i) secureWipe(arguments[i], wcslen(arguments[i]) * NATIVE_UNIT_BYTES);
    LocalFree(arguments);
    return given;
}

BOOL onMainInit(HWND window) {
    mainWindow = window;
    centerOnDesktop(window);
    DragAcceptFiles(window, TRUE);
    setProgramIcons(window);
    CheckDlgButton(window, IDC_MAIN_HIDE_PASSPHRASE, BST_CHECKED);
    // The password character matches the checked box from the start, whatever the edit control's
    // own default is.
    setPassphraseHidden(window, true);
    CheckDlgButton(window, IDC_MAIN_METHOD_KEY_FILE, BST_CHECKED);
    NativePath handed;
    if (firstCommandLineArgument(handed)) placeFileName(window, handed);
    return TRUE;
}

// Only the first dropped file counts, placed as placeFileName says.
void onMainDropFiles(HWND window, HDROP drop) {
    const UINT files = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    // The first name's length in characters, its NUL not counted; the whole name is taken.
    const UINT units = files > 0 ? DragQueryFileW(drop, 0, nullptr, 0) : 0;
    SecureBuffer buffer = SecureBuffer::zeros((units + 1) * NATIVE_UNIT_BYTES);
    if (units > 0) DragQueryFileW(drop, 0, reinterpret_cast<wchar_t*>(buffer.data()), units + 1);
    DragFinish(drop);
    if (files == 0) return;
    placeFileName(window, firstLineOfPath(buffer));
}

void onBrowse(HWND window, FileDialogKind kind, int field) {
    NativePath path;
    if (chooseOpenFile(window, path, kind)) setPathField(window, field, path);
}

void onHidePassphrase(HWND window) {
    setPassphraseHidden(window, IsDlgButtonChecked(window, IDC_MAIN_HIDE_PASSPHRASE) == BST_CHECKED);
}

void onMainCommand(HWND window, int id) {
    switch (id) {
    case IDC_MAIN_BROWSE_SOURCE: onBrowse(window, ANY_FILE, IDC_MAIN_SOURCE_PATH); break;
    case IDC_MAIN_BROWSE_KEY_FILE: onBrowse(window, KEY_FILE_KIND, IDC_MAIN_KEY_FILE_PATH); break;
    case IDC_MAIN_METHOD_KEY_FILE: applyKeyMethod(window, KEY_FILE); break;
    case IDC_MAIN_METHOD_KEY_CODE: applyKeyMethod(window, KEY_CODE); break;
    case IDC_MAIN_METHOD_PASSPHRASE: applyKeyMethod(window, PASSPHRASE); break;
    case IDC_MAIN_HIDE_PASSPHRASE: onHidePassphrase(window); break;
    case IDC_MAIN_CREATE_KEY_CODE: generateKeyCode(window); break;
    case IDC_MAIN_CREATE_PASSPHRASE: generatePassphrase(window); break;
    case IDC_MAIN_ENCRYPT: startEncryption(window); break;
    case IDC_MAIN_DECRYPT: startDecryption(window); break;
    case IDM_CREATE_KEY_FILE: runCreateKeyFileDialog(); break;
    case IDM_SETTINGS: runSettingsDialog(); break;
    case IDM_ENCRYPTION_INFO: runEncryptionInfoDialog(); break;
    case IDM_ABOUT: runAboutDialog(); break;
    case IDC_MAIN_EXIT:
    case IDM_EXIT: EndDialog(window, MAIN_WINDOW_CLOSED); break;
    }
    // Every other command, Enter's and Escape's included, does nothing.
}

INT_PTR CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onMainInit(window);
    case WM_MOUSEMOVE: addPointerEntropy(LOWORD(lParam), HIWORD(lParam)); return TRUE;
    case WM_DROPFILES: onMainDropFiles(window, reinterpret_cast<HDROP>(wParam)); return TRUE;
    case WM_CLOSE: EndDialog(window, MAIN_WINDOW_CLOSED); return TRUE;
    case WM_COMMAND: onMainCommand(window, LOWORD(wParam)); return TRUE;
    }
    return FALSE;
}

}  // namespace

// A Unicode dialog, so that its fields keep every character typed or dropped into them: in an ANSI
// dialog the edit controls would hand typed characters over through the ANSI code page.
void runMainWindow() { DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainWindowProc, 0); }
