// Byte histograms.

#include "codec/byte_counts.h"

#include "base/scope_exit.h"
#include "base/secure_buffer.h"

void byteCountsCompute(const uint8_t* in, uint32_t size, uint32_t* counts, uint32_t values) {
    // Bytes repeat often; four tables keep equal neighbours from waiting on each other's
    // increments.
    uint32_t partial[4][256] = {};
    ScopeExit wipePartial([&] { secureWipe(partial, sizeof partial); });
    uint32_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++partial[0][in[i]];
        ++partial[1][in[i + 1]];
        ++partial[2][in[i + 2]];
        ++partial[3][in[i + 3]];
    }
    for (; i < size; ++i) ++partial[0][in[i]];
    for (uint32_t value = 0; value < values; ++value) {
        counts[value] = partial[0][value] + partial[1][value] + partial[2][value] + partial[3][value];
    }
}
