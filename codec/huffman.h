// The Huffman stage of the codec: a prefix code built from the buffer's own byte counts, with the
// code tree written in front of the coded bits. Owns the Huffman stream layout.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

constexpr uint32_t HUFFMAN_MAX_CODE_BITS = 48;  // longest code the encoder's table holds
constexpr uint32_t HUFFMAN_MAX_LEAVES = 256;

// Stream, bits counted from bit 0 of byte 0, every field least significant bit first: size class
// K (2 bits; 0, 1, 2 or 3 for n up to 8, 16, 24 or 32 bits), n in 8 x (K + 1) bits, the tree in
// pre-order (0 = internal node then its left and right subtree, 1 = leaf then its 8-bit value),
// each byte's code (root to leaf, 0 = left), zero bits to the byte boundary. The reference tree
// is built by a linked-list rule: the first leaf made stays in front, later leaves and merged
// nodes go behind it in ascending count, in front of equal counts. Where a minimum-redundancy
// (Huffman) tree gives a stream of fewer bytes, that tree is written instead: it has as many
// leaves, so the tree bits are the same and only the code bits shrink; any decoder reads it.
// Pre:  none (any buffer).
// Post: true: buffer holds the stream (an empty buffer stays empty). false: the stream would be
//       longer than n + n / 4 + 500 bytes, or a code would exceed HUFFMAN_MAX_CODE_BITS; the
//       buffer is unchanged.
// Throws 0 when memory runs out; the buffer then keeps its old contents.
[[nodiscard]] bool huffmanEncode(SecureBuffer& buffer);

// The length in bytes of the stream huffmanEncode writes for a buffer with these byte counts,
// found without coding anything; 0 when the counts are all 0 or huffmanEncode would fail.
[[nodiscard]] uint64_t huffmanEncodedBytes(const uint32_t (&counts)[256]);

// Inverse of huffmanEncode. The tree starts where the encoder puts it for the n read from the
// header (bit 10, 18, 26 or 34 by the size of n), whatever K says.
// Pre:  buffer is any bytes (untrusted); maxOutputBytes is the most the caller will accept.
// Post: true: buffer holds the n decoded bytes (an empty buffer stays empty). false: the header
//       is shorter than K says; the tree is cut short or would have more than 256 leaves (it
//       is refused at its 256th internal node, so it is never deeper than 255); n exceeds
//       maxOutputBytes; a tree of several leaves leaves fewer than n bits for the codes; or the
//       bits end before n bytes are decoded. The buffer is then unchanged. Nothing of size n is
//       allocated before these checks pass.
// Throws 0 when memory runs out; the buffer then keeps its old contents.
[[nodiscard]] bool huffmanDecode(SecureBuffer& buffer, uint32_t maxOutputBytes);

// huffmanDecode of the size bytes at in into the first outBytes bytes of out, which keeps its
// memory when it is long enough and is otherwise replaced by a zeroed buffer of exactly outBytes.
// Pre:  in is any bytes (untrusted) and does not point into out.
// Post: true: out's first outBytes bytes are the decoded bytes. false: as huffmanDecode; out
//       and outBytes are unchanged, except that a failure while decoding the codes leaves some
//       decoded bytes in out for the caller to wipe.
// Throws 0 when memory runs out; out then keeps its old contents.
[[nodiscard]] bool huffmanDecodeInto(const uint8_t* in, uint32_t size, uint32_t maxOutputBytes, SecureBuffer& out,
                                     uint32_t& outBytes);
