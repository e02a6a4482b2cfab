// The block-sorting stage of the codec: a Burrows-Wheeler transform of each 2 MiB block, its
// rotations sorted through a suffix sort in time linear in the block whatever its content. Owns
// the block-sort stream layout.
#pragma once

#include <cstdint>

#include "base/chunk.h"
#include "base/secure_buffer.h"

constexpr uint32_t BLOCK_SORT_SIZE = 2097152;  // bytes per block (2^21); the last may be shorter
// A chunk after the first run-length stage is at most two blocks; the stream format fixes the block
// size, so the chunk size must not drift from it.
static_assert(BLOCK_SORT_SIZE == CHUNK_SIZE, "the block sort's block is one chunk");
constexpr uint32_t BLOCK_SORT_MAX_BLOCKS = 65535;  // the block count is stored in 16 bits

// Bytes of the stream that blockSortEncode makes from inputBytes >= 1 bytes: the 16-bit block
// count, a 24-bit primary index per block, then the transformed blocks.
constexpr uint64_t blockSortEncodedBytes(uint64_t inputBytes) {
    return inputBytes + 3 * ((inputBytes + BLOCK_SORT_SIZE - 1) / BLOCK_SORT_SIZE) + 2;
}

// Stream: block count B (16-bit little-endian), B primary indexes (24-bit little-endian), then
// each block's last column: the byte before each rotation, the rotations in ascending order. A
// block of at most 3 bytes is copied with primary index 0. The primary index is the row of
// rotation 0; in a periodic block, whose rotations repeat, it is the first row of the equal
// rotations (any of them decodes to the same block).
// Pre:  buffer is not empty (an empty buffer gives false and stays empty).
// Post: true: buffer holds the stream.
// Throws 0 when memory runs out; the buffer then keeps its old contents. Working memory is about
// five bytes per byte of the largest block (the stream and the suffix order), plus at most about
// two more while the suffix sort recurses, all wiped before release.
[[nodiscard]] bool blockSortEncode(SecureBuffer& buffer);

// As blockSortEncode(buffer), but writes the stream to stream and leaves block as it was.
// Pre:  block is not empty (an empty block gives false); block and stream are different buffers
//       (the same buffer for both wipes it and gives false).
// Post: true: stream holds the stream of block. false: stream is empty. block is unchanged
//       either way, also when this throws.
// Throws 0 when memory runs out; stream is then empty.
[[nodiscard]] bool blockSortEncode(SecureBuffer& block, SecureBuffer& stream);

// Inverse of blockSortEncode.
// Pre:  buffer is any bytes (untrusted).
// Post: true: buffer holds the restored bytes, never more than it held before. false: the
//       header is short, the block count is 0, the payload does not split into that many
//       blocks (every block but the last 2^21 bytes, the last 1 to 2^21), or a primary index is
//       not below its block's length; the buffer is unchanged.
// Throws 0 when memory runs out; the buffer then keeps its old contents.
[[nodiscard]] bool blockSortDecode(SecureBuffer& buffer);

// Working memory of blockSortDecodeInto that a caller keeps from one use to the next: words for
// the links, spare bytes for the walks. Both grow to the largest block seen; each use wipes what
// it used before it returns.
struct BlockSortDecodeScratch {
    SecureBuffer words;
    SecureBuffer spare;
};

// blockSortDecode of the size bytes at in into the first outBytes bytes of out, which keeps its
// memory when it is long enough and is otherwise replaced by a zeroed buffer of exactly outBytes.
// Pre:  in is any bytes (untrusted), does not point into out, and may be overwritten: the walks
//       of a long block keep their bytes in its last column once the links hold it.
// Post: true: out's first outBytes bytes are the restored bytes. false: as blockSortDecode,
//       checked before anything is written; out, outBytes and in are unchanged.
// Throws 0 when memory runs out; out then keeps its old contents.
[[nodiscard]] bool blockSortDecodeInto(uint8_t* in, uint32_t size, SecureBuffer& out, uint32_t& outBytes,
                                       BlockSortDecodeScratch& scratch);
