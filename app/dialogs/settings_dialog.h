// The settings dialog (dialog 113): the cipher for new containers and whether to compress.
#pragma once

// Shows the dialog, modal and owned by the main window; "OK" writes "config.bin", "Avbryt" and
// the close box change nothing.
void runSettingsDialog();
