// The user's workflow through Ferrolyn.exe's main window: encryption and decryption with every key
// method, cipher and compression setting, cross-checked with the command-line tool; every input
// message in its order; the job failures; cancelling; the progress dialog.
#pragma once

void runWorkflowScenarios();
