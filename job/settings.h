// The two persistent settings, the cipher for new containers and whether to compress, kept in
// "config.bin" in the working directory and read afresh before every use.
#pragma once

#include "crypto/cipher.h"

constexpr char SETTINGS_FILE_NAME[] = "config.bin";
// The settings are two bytes; a longer payload is read and its further bytes ignored, up to this
// bound. A larger one is refused (the defaults apply) before it is read.
constexpr uint32_t SETTINGS_MAX_PAYLOAD_BYTES = 256;

struct Settings {
    CipherAlgorithm cipher = CIPHER_AES256;
    bool compress = false;
};

// Staging place for the dialogs; the file is the authority.
extern Settings globalSettings;

// Fills settings from "config.bin": payload byte 0 nonzero means Serpent, byte 1 nonzero means
// compress; a missing, unreadable or oversized file, or missing bytes, give the defaults (AES-256,
// no compression). Never fails.
void loadSettings(Settings& settings);

// Writes "config.bin" (a 2-byte payload). Returns whether it was written; the dialog ignores it.
bool saveSettings(const Settings& settings);
