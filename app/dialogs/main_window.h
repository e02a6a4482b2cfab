// The main window (dialog 101): the program's only top-level window, modal, with no owner.
#pragma once

// Shows the main window and returns when the user has closed it.
void runMainWindow();
