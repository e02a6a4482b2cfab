// Working Ferrolyn.exe's open and save dialogs from the driver: find the dialog by its title, type a
// path into its name field, accept or cancel, and answer the overwrite question. Header-only.
#pragma once

#include <windows.h>

#include <string>

#include "tests/gui/checks.h"
#include "tests/gui/gui_support.h"

namespace gui {

// The explorer-style dialog's file-name field: an Edit inside a ComboBox, all with this id.
constexpr int FILE_NAME_FIELD_ID = 0x47C;
// The explorer-style dialog's file-type list.
constexpr int FILE_TYPE_LIST_ID = 0x470;

inline HWND fileNameField(HWND dialog) { return findDescendant(dialog, FILE_NAME_FIELD_ID, L"Edit"); }

inline void acceptFileDialog(HWND dialog) { clickButton(findDescendant(dialog, IDOK, L"Button")); }
inline void cancelFileDialog(HWND dialog) { clickButton(findDescendant(dialog, IDCANCEL, L"Button")); }

// The file dialog of process pid with this title, once it is up.
inline HWND waitForFileDialog(DWORD pid, const std::wstring& title, DWORD timeoutMs = WINDOW_TIMEOUT_MS) {
    return waitForDialog(pid, title, timeoutMs);
}

// A message box that fileDialog has opened (the overwrite question), or null.
inline HWND fileDialogMessageBox(HWND fileDialog) {
    HWND popup = GetLastActivePopup(fileDialog);
    return popup != fileDialog && popup != nullptr && GetDlgItem(popup, MESSAGE_BOX_TEXT_ID) != nullptr ? popup
                                                                                                        : nullptr;
}

// Types path into the dialog's name field and accepts it. When replaceExisting is set, the
// overwrite question that a save dialog asks for an existing file is answered Yes. Returns
// whether the dialog closed.
inline bool chooseInFileDialog(HWND dialog, const std::wstring& path, bool replaceExisting = false) {
    HWND field = fileNameField(dialog);
    check(field != nullptr, "the file dialog has a name field");
    if (field == nullptr) return false;
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    acceptFileDialog(dialog);
    if (replaceExisting) {
        HWND box = waitFor([&] { return IsWindow(dialog) ? fileDialogMessageBox(dialog) : HWND(1); });
        if (box != nullptr && box != HWND(1)) clickButton(GetDlgItem(box, IDYES));
    }
    return waitFor([&] { return IsWindow(dialog) ? nullptr : HWND(1); }) != nullptr;
}

}  // namespace gui
