// The key-file dialog (dialog 112): collects mouse moves, then writes a key file where the user
// chooses.
#pragma once

// Shows the dialog, modal and owned by the main window. True when the user chose a target (the
// key file has then been written, or its failure shown); false when cancelled or closed.
bool runCreateKeyFileDialog();
