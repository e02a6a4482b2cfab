// Window operations that every dialog shares: the main window's handle, centring, the program
// icons, message boxes, the open and save file dialogs, and the file name of a path.
// User-interface thread only, except showMessage, which the worker also uses.
#pragma once

#include <windows.h>

#include "base/secure_buffer.h"

// The main window, set when it is initialised and kept for the life of the process; the owner
// and reference window of the other dialogs. Null before that.
extern HWND mainWindow;

enum FileDialogKind {
    ANY_FILE = 0,
    KEY_FILE_KIND = 1,
    ENCRYPTED_FILE = 2,  // save dialogs only
};

// The characters after the last backslash of the text path (possibly the empty text); the whole
// path when it has none. Only the backslash separates. Not a text (empty or without its NUL):
// the empty text.
SecureBuffer fileNamePart(const SecureBuffer& path);

// Shows the open dialog for kind (ANY_FILE or KEY_FILE_KIND) owned by owner. On success path
// becomes the chosen file's text and the result is true. On cancel, on an error, or for a kind
// that has no open dialog (ENCRYPTED_FILE) the result is false and path is left as it was. The
// current directory never changes.
[[nodiscard]] bool chooseOpenFile(HWND owner, SecureBuffer& path, FileDialogKind kind);

// Shows the save dialog for kind owned by owner, its name field holding suggestedName (a text,
// cut to 259 characters); it asks before replacing an existing file. On success path becomes the
// chosen file's text and the result is true; on cancel or error false, path unchanged. The
// current directory never changes. suggestedName is wiped.
[[nodiscard]] bool chooseSaveFile(SecureBuffer& path, HWND owner, FileDialogKind kind, SecureBuffer& suggestedName);

// Moves window, size unchanged, to the middle of the desktop window (halves round toward zero).
void centerOnDesktop(HWND window);

// Moves dialog, size unchanged, to the middle of mainWindow's rectangle; a negative left or top
// becomes 0.
void centerOnMainWindow(HWND dialog);

// Sets icon 105 as window's big icon (standard size) and small icon (the system's small-icon
// size); an icon that does not load leaves the default one.
void setProgramIcons(HWND window);

// A message box owned by owner with the caption "Ferrolyn", text and an OK button.
void showMessage(HWND owner, const char* text);

// A question owned by owner with the caption "Ferrolyn", text, Yes and No buttons and the given
// icon flags (0: none); true only for Yes.
[[nodiscard]] bool askYesNo(HWND owner, const char* text, UINT icon);
