// Reading the key material of the selected key method from the main window's controls, with the
// checks, their order and their messages.
#pragma once

#include <windows.h>

#include "app/job/job_records.h"
#include "base/secure_buffer.h"

// Passphrases shorter than this draw a warning when encrypting.
constexpr uint32_t SHORT_PASSPHRASE_LENGTH = 12;

// The key material of one job. Only the selected method's field is filled; the others hold the
// empty text (passphrase, keyCode) or nothing (keyFileKey).
struct KeyMaterial {
    KeyMethod keyMethod = KEY_FILE;
    SecureBuffer passphrase;  // ANSI text
    SecureBuffer keyCode;     // text as typed, untrimmed
    SecureBuffer keyFileKey;  // the key field of the key file, unchecked in length
};

// Reads the method of the checked radio button and its material from window (the main window)
// into out. False when a check failed (its message has been shown, owned by window) or the user
// declined the short-passphrase question; the caller then stops. encrypting asks that question.
[[nodiscard]] bool readKeyMaterial(HWND window, bool encrypting, KeyMaterial& out);
