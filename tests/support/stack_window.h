// The test hook behind the stack scrub's tests: what the calls made from a frame left on the
// stack below it, and a check for given byte patterns in that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/stack_scrub.h"

namespace testsupport {

// Copies the STACK_SCRUB_BYTES of stack just below the caller's frame into window (heap memory of
// at least that size), as the last call made from the same frame left them: its frame lies where
// a stackScrub called there would put its region, and nothing is written to it before the copy.
// Call it right after the call under test, before anything else (an assertion, a destructor)
// calls below the frame.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((noinline)) inline void stackWindowRead(uint8_t* window) {
    // Deliberately never written: reading it shows what earlier frames left there.
    volatile uint8_t below[STACK_SCRUB_BYTES];
    for (size_t i = 0; i < STACK_SCRUB_BYTES; ++i) window[i] = below[i];
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The offsets in window at which any of patterns (each 16 bytes) starts, at any byte position.
inline std::vector<size_t> stackWindowFind(const std::vector<uint8_t>& window,
                                           const std::vector<std::vector<uint8_t>>& patterns) {
    std::vector<size_t> found;
    for (size_t at = 0; at + 16 <= window.size(); ++at) {
        for (const auto& pattern : patterns) {
            if (pattern.size() == 16 && std::memcmp(window.data() + at, pattern.data(), 16) == 0) {
                found.push_back(at);
                break;
            }
        }
    }
    return found;
}

}  // namespace testsupport
