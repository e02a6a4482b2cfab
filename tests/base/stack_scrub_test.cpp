// The stack scrub against a planted pattern: what a finished call left below the caller is gone
// after stackScrub, and the hook that reads the stack does see it without.

#include <gtest/gtest.h>

#include <vector>

#include "base/stack_scrub.h"
#include "support/stack_window.h"

namespace {

constexpr uint8_t PLANTED = 0xa5;

// Leaves PLANTED in a frame as deep as the scrub's region, as a fast path leaves its spills.
__attribute__((noinline)) void plantBelow() {
    volatile uint8_t region[STACK_SCRUB_BYTES];
    for (size_t i = 0; i < STACK_SCRUB_BYTES; ++i) region[i] = PLANTED;
    (void)region;
}

const std::vector<std::vector<uint8_t>> PLANTED_PATTERN = {std::vector<uint8_t>(16, PLANTED)};

TEST(StackScrub, ClearsWhatAFinishedCallLeftBelowTheCaller) {
    std::vector<uint8_t> window(STACK_SCRUB_BYTES);

    // The hook sees the planted bytes when nothing clears them: the check below can fail.
    plantBelow();
    testsupport::stackWindowRead(window.data());
    EXPECT_GT(testsupport::stackWindowFind(window, PLANTED_PATTERN).size(), STACK_SCRUB_BYTES / 2);

    plantBelow();
    stackScrub();
    testsupport::stackWindowRead(window.data());
    const std::vector<size_t> left = testsupport::stackWindowFind(window, PLANTED_PATTERN);
    EXPECT_TRUE(left.empty()) << left.size() << " planted windows left, the first at offset " << left.front();
}

}  // namespace
