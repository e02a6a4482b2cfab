// The desktop program's entry point (WinMain in startup.cpp): working directory, generator,
// entropy collection, main window. Owns the module instance handle.
#pragma once

#include <windows.h>

// The module instance that WinMain received; every dialog, icon and bitmap is loaded through it.
// Null until WinMain runs.
extern HINSTANCE instanceHandle;
