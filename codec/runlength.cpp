// Run-length stage. Both directions walk the data twice: once to measure the output exactly, once
// to write it, so each allocates one buffer of the final size and never grows one.

#include "codec/runlength.h"

#include <cstdint>
#include <utility>

#include "base/scope_exit.h"

namespace {

constexpr uint32_t RUN_LENGTH_MIN_RUN_BYTES = 4;
constexpr uint32_t RUN_LENGTH_MAX_RUN_BYTES = RUN_LENGTH_MIN_RUN_BYTES + 255;

// The least frequent byte value, the highest one on a tie.
uint8_t runLengthChooseEscape(const uint8_t* in, uint32_t size) {
    uint32_t counts[256] = {};
    ScopeExit wipeCounts([&] { secureWipe(counts, sizeof counts); });
    for (uint32_t i = 0; i < size; ++i) ++counts[in[i]];
    uint8_t escape = 0;
    uint32_t fewest = counts[0];
    for (uint32_t value = 0; value < 256; ++value) {
        if (counts[value] <= fewest) {
            fewest = counts[value];
            escape = static_cast<uint8_t>(value);
        }
    }
    return escape;
}

// Walks the tokens for in[0..size) and returns the stream length; writes them to out when out
// is not null (out must then hold that many bytes).
uint64_t runLengthEncodeTokens(const uint8_t* in, uint32_t size, uint8_t escape, uint8_t* out) {
    uint64_t length = 1;
    if (out != nullptr) out[0] = escape;
    uint32_t i = 0;
    while (i < size) {
        const uint8_t value = in[i];
        if (value == escape) {
            if (out != nullptr) {
                out[length] = escape;
                out[length + 1] = escape;
            }
            length += 2;
            ++i;
            continue;
        }
        uint32_t run = 1;
        while (run < RUN_LENGTH_MAX_RUN_BYTES && i + run < size && in[i + run] == value) ++run;
        if (run >= RUN_LENGTH_MIN_RUN_BYTES) {
            if (out != nullptr) {
                out[length] = escape;
                out[length + 1] = value;
                out[length + 2] = static_cast<uint8_t>(run - RUN_LENGTH_MIN_RUN_BYTES);
            }
            length += 3;
            i += run;
        } else {
            if (out != nullptr) out[length] = value;
            length += 1;
            ++i;
        }
    }
    return length;
}

// Walks the tokens of a stream and returns the decoded length, or returns false when a token is
// cut short or the length passes limit. Writes the bytes to out when out is not null.
bool runLengthDecodeTokens(const uint8_t* in, uint32_t size, uint64_t limit, uint8_t* out,
                           uint64_t& decodedBytes) {
    const uint8_t escape = in[0];
    uint64_t length = 0;
    uint32_t i = 1;
    while (i < size) {
        const uint8_t value = in[i];
        if (value != escape) {
            if (length + 1 > limit) return false;
            if (out != nullptr) out[length] = value;
            length += 1;
            i += 1;
            continue;
        }
        if (size - i < 2) return false;
        const uint8_t next = in[i + 1];
        if (next == escape) {
            if (length + 1 > limit) return false;
            if (out != nullptr) out[length] = escape;
            length += 1;
            i += 2;
            continue;
        }
        if (size - i < 3) return false;
        const uint32_t run = in[i + 2] + RUN_LENGTH_MIN_RUN_BYTES;
        if (length + run > limit) return false;
        if (out != nullptr) {
            for (uint32_t k = 0; k < run; ++k) out[length + k] = next;
        }
        length += run;
        i += 3;
    }
    decodedBytes = length;
    return true;
}

}  // namespace

void runLengthEncode(SecureBuffer& buffer) {
    const uint32_t size = buffer.size();
    if (size == 0) return;
    const uint8_t escape = runLengthChooseEscape(buffer.data(), size);
    const uint64_t length = runLengthEncodeTokens(buffer.data(), size, escape, nullptr);
    if (length > UINT32_MAX) throw 0;
    SecureBuffer out;
    out.allocate(static_cast<uint32_t>(length));
    runLengthEncodeTokens(buffer.data(), size, escape, out.data());
    buffer = std::move(out);
}

bool runLengthDecode(SecureBuffer& buffer, uint32_t maxOutputBytes) {
    const uint32_t size = buffer.size();
    if (size == 0) return true;
    uint64_t length = 0;
    if (!runLengthDecodeTokens(buffer.data(), size, maxOutputBytes, nullptr, length)) return false;
    SecureBuffer out;
    if (length != 0) {
        out.allocate(static_cast<uint32_t>(length));
        uint64_t written = 0;
        (void)runLengthDecodeTokens(buffer.data(), size, length, out.data(), written);
    }
    buffer = std::move(out);
    return true;
}
