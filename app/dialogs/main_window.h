// The main window (dialog 101): the program's only top-level window, modal, with no owner. The
// user picks a key method and its material, names a source file and starts a job; the menu opens
// the other dialogs.
#pragma once

#include <windows.h>

// Shows the main window and returns when the user has closed it.
void runMainWindow();
