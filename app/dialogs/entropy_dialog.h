// The entropy collection dialog (dialog 106), shown at start-up while the generator holds less
// than its threshold: every distinct pointer position over it counts one unit.
#pragma once

// Shows the dialog modally with no owner. True when it ended ready (the "Fortsätt" button, or
// the close box once the count reached the threshold), after which the seed file has been
// written; false when it was closed before.
[[nodiscard]] bool runEntropyDialog();
