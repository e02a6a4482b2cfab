// The run-length stage of the codec: runs of four or more equal bytes become three-byte tokens
// behind an escape byte chosen per buffer. Owns only that stream format.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

// Longest stream that runLengthEncode can make from inputBytes bytes: the escape byte in front,
// plus one extra byte per occurrence of the escape, which as the rarest of 256 values occurs at
// most inputBytes / 256 times. Computed in 64 bits so that no input size wraps it.
constexpr uint64_t runLengthEncodedMaxBytes(uint64_t inputBytes) {
    return inputBytes == 0 ? 0 : 1 + inputBytes + inputBytes / 256;
}

// Stream: byte 0 is the escape E; then tokens: a literal byte b != E; E E for one E; E b k
// (b != E) for k + 4 copies of b. E is the least frequent byte value of the input, the highest
// such value on a tie. Runs of E are never run-coded.
// Pre:  none (any buffer).
// Post: buffer holds the stream of its old contents; an empty buffer stays empty.
// Throws 0 when memory runs out or the stream would exceed 32 bits; the buffer then keeps its
// old contents.
void runLengthEncode(SecureBuffer& buffer);

// As runLengthEncode, but a run of zeros shorter than minZeroRunBytes (and not the escape) is
// written as literals: after move-to-front, where zeros are short codes, a short run costs fewer
// bits that way than as a token, and the decoder reads literals anywhere. 4 or less gives
// runLengthEncode's stream.
void runLengthEncode(SecureBuffer& buffer, uint32_t minZeroRunBytes);

// The counts of runLengthEncode's stream for a buffer, with its runs of zeros kept apart so that
// the counts for any minZeroRunBytes follow without coding: otherCounts counts the stream's
// bytes apart from those of the zeros (the escape in front included); zeroPieces[r] the pieces
// of r zeros (runs cut at 259 as the encoder cuts them); escape the buffer's escape. When the
// escape is 0 every zero is an escaped escape and there are no pieces.
struct RunLengthZeroRuns {
    uint32_t otherCounts[256];
    uint32_t zeroPieces[260];
    uint8_t escape;
};

// Pre:  in holds size bytes.
// Post: runs describes runLengthEncode's stream of them (all zero for size 0). The counts derive
//       from the data: the caller wipes runs.
void runLengthCountZeroRuns(const uint8_t* in, uint32_t size, RunLengthZeroRuns& runs);

// The byte counts of runLengthEncode(buffer, minZeroRunBytes)'s stream, from runs of buffer.
void runLengthCountsWith(const RunLengthZeroRuns& runs, uint32_t minZeroRunBytes, uint32_t (&counts)[256]);

// Inverse of runLengthEncode.
// Pre:  buffer is any bytes (untrusted); maxOutputBytes is the most the caller will accept.
// Post: true: buffer holds the decoded bytes (an empty buffer, or one holding only the escape,
//       decodes to empty). false: the stream ends inside a token, or it decodes to more than
//       maxOutputBytes bytes; the buffer is unchanged. The output is measured before anything
//       is allocated, so a forged stream cannot make the decoder allocate past the limit.
// Throws 0 when memory runs out; the buffer then keeps its old contents.
[[nodiscard]] bool runLengthDecode(SecureBuffer& buffer, uint32_t maxOutputBytes);

// runLengthDecode of the size bytes at in into the first outBytes bytes of out, which keeps its
// memory when it is long enough and is otherwise replaced by a zeroed buffer of exactly outBytes
// (so that a kept buffer never holds more than its users wrote).
// Pre:  in is any bytes (untrusted) and does not point into out.
// Post: true: out's first outBytes bytes are the decoded bytes. false: as runLengthDecode; out
//       and outBytes are unchanged.
// Throws 0 when memory runs out; out then keeps its old contents.
[[nodiscard]] bool runLengthDecodeInto(const uint8_t* in, uint32_t size, uint32_t maxOutputBytes, SecureBuffer& out,
                                       uint32_t& outBytes);
