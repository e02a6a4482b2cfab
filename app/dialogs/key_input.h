// Reading the key material of the selected key method from the main window's controls, with the
// checks, their order and their messages.
#pragma once

#include <windows.h>

#include "container/pipeline_records.h"

// Passphrases shorter than this draw a warning when encrypting.
constexpr uint32_t SHORT_PASSPHRASE_LENGTH = 12;

// Reads the method of the checked radio button and its material from window (the main window)
// into out. False when a check failed (its message has been shown, owned by window) or the user
// declined the short-passphrase question; the caller then stops. encrypting asks that question.
[[nodiscard]] bool readKeyMaterial(HWND window, bool encrypting, JobKey& out);
