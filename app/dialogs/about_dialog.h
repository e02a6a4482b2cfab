// The about dialog (dialog 108): name, date and maker; no text changes at run time.
#pragma once

// Shows the dialog, modal and owned by the main window.
void runAboutDialog();
