// The main window's procedure. It opens centred with its icons and the key-file method chosen,
// feeds pointer moves to the generator and closes through the close box, "Avsluta" and the menu.

#include "app/dialogs/main_window.h"

#include <windows.h>

#include "app/dialogs/window_ops.h"
#include "app/startup.h"
#include "random/seeding.h"
#include "resources/resource_ids.h"

namespace {

// The dialog's result when the user closes it; WinMain ignores it.
constexpr INT_PTR MAIN_WINDOW_CLOSED = 1;

BOOL onMainInit(HWND window) {
    mainWindow = window;
    centerOnDesktop(window);
    setProgramIcons(window);
    CheckDlgButton(window, IDC_MAIN_HIDE_PASSPHRASE, BST_CHECKED);
    CheckDlgButton(window, IDC_MAIN_METHOD_KEY_FILE, BST_CHECKED);
    return TRUE;
}

INT_PTR CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return onMainInit(window);
    case WM_MOUSEMOVE: addPointerEntropy(LOWORD(lParam), HIWORD(lParam)); return TRUE;
    case WM_CLOSE: EndDialog(window, MAIN_WINDOW_CLOSED); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_MAIN_EXIT:
        case IDM_EXIT: EndDialog(window, MAIN_WINDOW_CLOSED); return TRUE;
        }
        // Every other command, Enter's and Escape's included, is handled by doing nothing.
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void runMainWindow() {
    DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainWindowProc, 0);
}
