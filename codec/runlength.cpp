// Run-length stage. The encoder writes into a buffer of the longest possible stream, then keeps
// what it used. The decoder walks the stream twice, once to measure the output and once to
// write it, so that it allocates only what a stream has been shown to hold. Both pass over
// literal bytes a stretch at a time, up to the next escape.

#include "codec/runlength.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "base/scope_exit.h"
#include "codec/byte_counts.h"

namespace {

constexpr uint32_t RUN_LENGTH_MIN_RUN_BYTES = 4;
constexpr uint32_t RUN_LENGTH_MAX_RUN_BYTES = RUN_LENGTH_MIN_RUN_BYTES + 255;

// The least frequent value of counts, the highest one on a tie.
uint8_t runLengthChooseEscape(const uint32_t (&counts)[256]) {
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

// Writes the stream of in[0..size) to out, which must hold 1 + size + (occurrences of escape)
// bytes, and returns its length. Runs of zeros shorter than minZeroRunBytes are written as
// literals.
uint32_t runLengthEncodeTokens(const uint8_t* in, uint32_t size, uint8_t escape, uint32_t minZeroRunBytes,
                               uint8_t* out) {
    uint32_t length = 1;
    out[0] = escape;
    uint32_t i = 0;
    while (i < size) {
        const uint8_t value = in[i];
        if (value == escape) {
            out[length] = escape;
            out[length + 1] = escape;
            length += 2;
            ++i;
            continue;
        }
        // Most bytes differ from the next one: a literal.
        if (i + 1 == size || in[i + 1] != value) {
            out[length++] = value;
            ++i;
            continue;
        }
        uint32_t run = 2;
        while (run < RUN_LENGTH_MAX_RUN_BYTES && i + run < size && in[i + run] == value) ++run;
        // A shorter run of zeros goes literal by literal: each next start sees a shorter run.
        if (run >= RUN_LENGTH_MIN_RUN_BYTES && (value != 0 || run >= minZeroRunBytes)) {
            out[length] = escape;
            out[length + 1] = value;
            out[length + 2] = static_cast<uint8_t>(run - RUN_LENGTH_MIN_RUN_BYTES);
            length += 3;
            i += run;
        } else {
            out[length++] = value;
            ++i;
        }
    }
    return length;
}

// Walks the tokens of a stream and returns the decoded length, or returns false when a token is
// cut short or the length passes limit. Writes the bytes to out when out is not null.
bool runLengthDecodeTokens(const uint8_t* in, uint32_t size, uint64_t limit, uint8_t* out, uint64_t& decodedBytes) {
    const uint8_t escape = in[0];
    uint64_t length = 0;
    uint32_t i = 1;
    while (i < size) {
        // Literals up to the next escape.
        const void* found = std::memchr(in + i, escape, size - i);
        const uint32_t literalsEnd =
            found == nullptr ? size : static_cast<uint32_t>(static_cast<const uint8_t*>(found) - in);
        const uint32_t literals = literalsEnd - i;
        if (literals != 0) {
            if (length + literals > limit) return false;
            if (out != nullptr) std::memcpy(out + length, in + i, literals);
            length += literals;
            i = literalsEnd;
            if (i == size) break;
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
        if (out != nullptr) std::memset(out + length, next, run);
        length += run;
        i += 3;
    }
    decodedBytes = length;
    return true;
}

}  // namespace

void runLengthEncode(SecureBuffer& buffer) { runLengthEncode(buffer, RUN_LENGTH_MIN_RUN_BYTES); }

void runLengthEncode(SecureBuffer& buffer, uint32_t minZeroRunBytes) {
    const uint32_t size = buffer.size();
    if (size == 0) return;
    uint32_t counts[256];
    ScopeExit wipeCounts([&] { secureWipe(counts, sizeof counts); });
    byteCountsCompute(buffer.data(), size, counts, 256);
    const uint8_t escape = runLengthChooseEscape(counts);
    // Each escape in the input takes two bytes; nothing else takes more than one.
    const uint64_t longest = 1 + static_cast<uint64_t>(size) + counts[escape];
    if (longest > UINT32_MAX) throw 0;
    // Only the written part is kept.
    SecureBuffer out = SecureBuffer::forOverwrite(static_cast<uint32_t>(longest));
    const uint32_t length = runLengthEncodeTokens(buffer.data(), size, escape, minZeroRunBytes, out.data());
    if (length != out.size()) out.resize(length);
    buffer = std::move(out);
}

void runLengthCountZeroRuns(const uint8_t* in, uint32_t size, RunLengthZeroRuns& runs) {
    std::memset(&runs, 0, sizeof runs);
    if (size == 0) return;
    byteCountsCompute(in, size, runs.otherCounts, 256);
    const uint8_t escape = runLengthChooseEscape(runs.otherCounts);
    runs.escape = escape;
    std::memset(runs.otherCounts, 0, sizeof runs.otherCounts);
    runs.otherCounts[escape] = 1;  // the escape in front
    uint32_t i = 0;
    while (i < size) {
        const uint8_t value = in[i];
        if (value == escape) {
            runs.otherCounts[escape] += 2;
            ++i;
            continue;
        }
        uint32_t run = 1;
        while (run < RUN_LENGTH_MAX_RUN_BYTES && i + run < size && in[i + run] == value) ++run;
        if (value == 0) {
            ++runs.zeroPieces[run];
        } else if (run >= RUN_LENGTH_MIN_RUN_BYTES) {
            runs.otherCounts[escape] += 1;
            runs.otherCounts[value] += 1;
            runs.otherCounts[run - RUN_LENGTH_MIN_RUN_BYTES] += 1;
        } else {
            runs.otherCounts[value] += run;
        }
        i += run;
    }
}

void runLengthCountsWith(const RunLengthZeroRuns& runs, uint32_t minZeroRunBytes, uint32_t (&counts)[256]) {
    std::memcpy(counts, runs.otherCounts, sizeof counts);
    const uint32_t shortest = minZeroRunBytes > RUN_LENGTH_MIN_RUN_BYTES ? minZeroRunBytes : RUN_LENGTH_MIN_RUN_BYTES;
    for (uint32_t run = 1; run <= RUN_LENGTH_MAX_RUN_BYTES; ++run) {
        const uint32_t pieces = runs.zeroPieces[run];
        if (pieces == 0) continue;
        if (run >= shortest) {
            counts[runs.escape] += pieces;
            counts[0] += pieces;
            counts[run - RUN_LENGTH_MIN_RUN_BYTES] += pieces;
        } else {
            counts[0] += pieces * run;
        }
    }
}

bool runLengthDecode(SecureBuffer& buffer, uint32_t maxOutputBytes) {
    if (buffer.empty()) return true;
    SecureBuffer out;
    uint32_t length = 0;
    if (!runLengthDecodeInto(buffer.data(), buffer.size(), maxOutputBytes, out, length)) return false;
    buffer = std::move(out);  // exactly length bytes: out was empty
    return true;
}

bool runLengthDecodeInto(const uint8_t* in, uint32_t size, uint32_t maxOutputBytes, SecureBuffer& out,
                         uint32_t& outBytes) {
    uint64_t length = 0;
    if (size != 0 && !runLengthDecodeTokens(in, size, maxOutputBytes, nullptr, length)) return false;
    if (length != 0) {
        if (out.size() < length) out.allocate(static_cast<uint32_t>(length));
        uint64_t written = 0;  // the second walk writes all length bytes
        (void)runLengthDecodeTokens(in, size, length, out.data(), written);
    }
    outBytes = static_cast<uint32_t>(length);
    return true;
}
