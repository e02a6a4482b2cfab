// Ferrolyn.exe's secondary dialogs and key creation: the key-file dialog with its mouse counter,
// generated key codes and passphrases, the hide-passphrase box, the settings, information and
// about dialogs.
#pragma once

void runDialogScenarios();
