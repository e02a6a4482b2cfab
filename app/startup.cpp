// WinMain: brings the program up in a fixed order and shows the main window. The seed file is
// saved and the generator wiped by the exit hook, after WinMain has returned.

#include "app/startup.h"

#include <commctrl.h>

#include <cstdlib>

#include "app/dialogs/main_window.h"
#include "app/dialogs/window_ops.h"
#include "job/texts.h"
#include "platform/platform.h"
#include "app/dialogs/entropy_dialog.h"
#include "random/generator.h"
#include "random/seeding.h"

HINSTANCE instanceHandle = nullptr;

namespace {

// Exit codes of the process.
constexpr int EXIT_NORMAL = 0;
constexpr int EXIT_STARTUP_FAILED = 1;

void exitHook() { randomExitSave(); }

// Start-up messages have no owner: no window exists yet.
void showStartupError(const char* text) { showMessage(nullptr, text); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    instanceHandle = instance;
    // The progress bars of the progress and key-file dialogs are common controls, which version 6
    // registers only on request.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // Registered after the generator's static construction, so it runs before its destruction,
    // on every return from WinMain; it writes nothing unless the generator is ready.
    std::atexit(exitHook);

    if (!selectWorkingDirectory()) {
        showStartupError(TEXT_WORKING_DIRECTORY_FAILED);
        return EXIT_STARTUP_FAILED;
    }
    if (!initRandomGenerator()) {
        showStartupError(TEXT_RANDOM_INIT_FAILED);
        return EXIT_STARTUP_FAILED;
    }
    if (globalRandomGenerator.entropy.load() < ENTROPY_THRESHOLD && !runEntropyDialog()) return EXIT_NORMAL;
    runMainWindow();
    return EXIT_NORMAL;
}
