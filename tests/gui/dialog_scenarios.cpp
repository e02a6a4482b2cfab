// Scenarios under construction.

#include "tests/gui/dialog_scenarios.h"

void runDialogScenarios() {}
