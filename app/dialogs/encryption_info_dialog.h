// The encryption information dialog (dialog 111): what the current settings encrypt with.
#pragma once

// Shows the dialog, modal and owned by the main window, for the settings in "config.bin".
void runEncryptionInfoDialog();
