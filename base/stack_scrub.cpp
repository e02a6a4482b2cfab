// The stack scrub: one frame of STACK_SCRUB_BYTES of its own, wiped through the one wipe primitive.

#include "base/stack_scrub.h"

#include <cstdint>

#include "base/secure_buffer.h"

// noinline keeps the region in a frame of its own, directly below the caller's.
__attribute__((noinline)) void stackScrub() {
    uint8_t region[STACK_SCRUB_BYTES];
    secureWipe(region, sizeof region);
}
