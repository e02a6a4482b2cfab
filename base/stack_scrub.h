// Clearing the stack below the caller, where a fast path's spilled vector registers and stack
// temporaries outlive its return; owns no state. Wiping named locals is still each function's
// own job: this reaches what the compiler spilled and no code can name.
#pragma once

#include <cstddef>

// Bytes of stack cleared below the caller's frame: more than the deepest fast path's frames
// together with the calls that lead to them from the places that scrub (about 3 KiB for paired
// AVX2 Serpent lanes on x86-64, the deepest).
constexpr size_t STACK_SCRUB_BYTES = 8192;

// Zeroes the STACK_SCRUB_BYTES of stack just below the caller's frame, in a way the optimiser
// cannot remove. Call it right after a hardware path that held key-derived state has returned
// to portable code, at the level of a whole operation (one HMAC, one PBKDF2 run, one CBC run),
// not per block. The thread's stack MUST have STACK_SCRUB_BYTES to spare below the caller.
void stackScrub();
