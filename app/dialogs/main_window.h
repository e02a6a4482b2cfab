// The main window (dialog 101): the program's only top-level window, modal, with no owner. The
// user picks a key method and its material, names a source file and starts a job; the menu opens
// the other dialogs.
#pragma once

#include <windows.h>

// Shows the main window and returns when the user has closed it.
void runMainWindow();

// Shows the characters of both passphrase fields of window (the main window) as black circles
// (hidden) or as plain text, and repaints them. The check box is left to the caller.
void setPassphraseHidden(HWND window, bool hidden);
