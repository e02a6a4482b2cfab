// Scenarios under construction.

#include "tests/gui/workflow_scenarios.h"

void runWorkflowScenarios() {}
