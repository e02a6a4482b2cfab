// How often each byte value occurs in a buffer: the histogram that the run-length stage chooses
// its escape from and the suffix sort starts its buckets with.
#pragma once

#include <cstdint>

// Writes to counts[v], for every v below values, how many of the size bytes at in equal v; bytes
// of values or more are not counted anywhere. values MUST be at most 256 and counts MUST hold
// values entries, or memory beyond counts is written.
void byteCountsCompute(const uint8_t* in, uint32_t size, uint32_t* counts, uint32_t values);
