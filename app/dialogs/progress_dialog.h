// The progress dialog (dialog 104): starts the job's worker, follows its progress and lets the
// user cancel. The worker ends it.
#pragma once

// Runs the job that globalJob describes in a modal dialog owned by the main window; returns when
// the worker has ended it. Resets globalJob's progress counters; the caller clears the cancel flag.
void runProgressDialog();
