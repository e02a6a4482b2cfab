// Window operations that every dialog shares: the main window's handle, centring, the program
// icons, message boxes, the open and save file dialogs, and file names in fields and their parts.
// User-interface thread only, except showMessage, which the worker also uses.
#pragma once

#include <windows.h>

#include "base/secure_buffer.h"
#include "platform/platform.h"

// The main window, set when it is initialised and kept for the life of the process; the owner
// and reference window of the other dialogs. Null before that.
extern HWND mainWindow;

enum FileDialogKind {
    ANY_FILE = 0,
    KEY_FILE_KIND = 1,
    ENCRYPTED_FILE = 2,  // save dialogs only
};

// File names are native paths (platform/platform.h), UTF-16 from the control or dialog that
// gave them to the file call: a name never passes through the ANSI code page, which would turn
// "Łódź.txt" into "Lódz.txt" (another file) or "rapport ✓.txt" into "rapport ?.txt". The empty
// name is the single zero unit.

// The UTF-16 units of buffer up to (not including) the first unit below 32 or its end, as a name.
NativePath firstLineOfPath(const SecureBuffer& buffer);

// The name of the field with id in window: its first line (up to the first character below 32),
// however long. The empty name when the field is empty.
NativePath readPathField(HWND window, int id);

// Shows path in the field with id in window; not a native path: the empty field.
void setPathField(HWND window, int id, const NativePath& path);

// The characters of path after its last backslash (possibly none); the whole path when it has
// none. Only the backslash separates. Not a native path: the empty name.
NativePath fileNamePart(const NativePath& path);

// The characters of path up to and including its last backslash; the empty name when it has none
// or is not a native path.
NativePath folderPart(const NativePath& path);

// Whether path ends with the ASCII suffix, unit for unit (letter case counts).
bool pathEndsWith(const NativePath& path, const char* suffix);

// path followed by the ASCII suffix; a path that is not a native path counts as the empty name.
NativePath pathWithSuffix(const NativePath& path, const char* suffix);

// Shows the open dialog for kind (ANY_FILE or KEY_FILE_KIND) owned by owner. On success path
// becomes the chosen file and the result is true. On cancel, on an error, or for a kind that has
// no open dialog (ENCRYPTED_FILE) the result is false and path is left as it was. The current
// directory never changes.
[[nodiscard]] bool chooseOpenFile(HWND owner, NativePath& path, FileDialogKind kind);

// Shows the save dialog for kind owned by owner, its name field holding suggestedName (cut to 259
// characters), and opening in folder when that is a folder's name (else where the system
// chooses); it asks before replacing an existing file. On success path becomes the chosen file
// and the result is true; on cancel or error false, path unchanged. The current directory never
// changes. suggestedName is wiped.
[[nodiscard]] bool chooseSaveFile(NativePath& path, HWND owner, FileDialogKind kind, NativePath& suggestedName,
                                  const NativePath& folder = NativePath());

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
