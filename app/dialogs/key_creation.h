// Creating key material from the generator in the desktop program: key codes and passphrases for
// the main window's fields, and key files for the key-file dialog. Each refuses while the
// generator holds fewer than 1024 units of entropy and reports its failures in message boxes.
#pragma once

#include <windows.h>

#include "base/secure_buffer.h"

// Puts a fresh key code into the main window's key-code field (the method stays as it is).
void generateKeyCode(HWND window);

// Puts a fresh 42-character passphrase into the main window's passphrase field in plain text,
// empties the repeat field (the user must type it once more) and unchecks "Dölj lösenfrasen".
void generatePassphrase(HWND window);

// Writes a 71-byte key file with keyId and a fresh key at the text path; a failure is shown in a
// message box owned by owner.
void writeKeyFile(HWND owner, const SecureBuffer& path, const SecureBuffer& keyId);
