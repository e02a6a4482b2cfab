// The codec's chunk framing: a method byte in front of the stored, Huffman-coded or block-sorted
// form of one chunk of at most 2 MiB, and the order of the stages behind each method.
#pragma once

#include <cstdint>

#include "base/chunk.h"
#include "base/secure_buffer.h"
#include "codec/blocksort.h"

enum CompressionMethod : uint8_t {
    METHOD_STORED = 0,     // the chunk's bytes unchanged
    METHOD_HUFFMAN = 1,    // huffman(runLength(chunk))
    METHOD_BLOCKSORT = 2,  // huffman(runLength(moveToFront(blockSort(runLength(chunk)))))
};

constexpr uint32_t CODEC_CHUNK_MAX_BYTES = CHUNK_SIZE;  // the pipelines' chunk size, 2 MiB
// The largest block compressBlock makes: coding that does not make the chunk smaller gives the
// stored form, the method byte and the chunk.
constexpr uint32_t CODEC_BLOCK_MAX_BYTES = 1 + CODEC_CHUNK_MAX_BYTES;

// Compresses one chunk in place. mode asks for a method; METHOD_HUFFMAN and METHOD_BLOCKSORT
// give METHOD_STORED when coding does not make the chunk smaller; METHOD_BLOCKSORT also gives it
// without coding when chunkLooksIncompressible says so. This encoder never falls back
// from METHOD_BLOCKSORT to METHOD_HUFFMAN (the decoder still reads both).
// Pre:  buffer holds at most CODEC_CHUNK_MAX_BYTES bytes; mode is one of the three methods.
// Post: true: an empty buffer stays empty (no method byte); otherwise buffer holds the method
//       byte and its payload. false: the buffer is too long, mode is not a method, or the
//       Huffman stage could not code the data within its capacity; the buffer is then wiped.
// Throws 0 when memory runs out; the buffer is then wiped as well.
[[nodiscard]] bool compressBlock(SecureBuffer& buffer, CompressionMethod mode);

// A quick look at a chunk before the block sort: true only when the chunk shows none of what the
// coding chain feeds on, so the full attempt would store it anyway. Byte counts, counts by the
// previous byte, differences of neighbours, equal neighbours and repeated 8-byte strings all have
// to look like random data, in every 64 KiB window for the first four; a chunk under 64 KiB is
// never judged (coding it is cheap). Integer arithmetic only: every build answers alike.
// Pre:  data holds size bytes.
// Post: the answer; nothing is kept.
[[nodiscard]] bool chunkLooksIncompressible(const uint8_t* data, uint32_t size);

// Working memory for decompressBlock that one thread keeps from chunk to chunk, so that a long
// job does not obtain (and fault in) fresh stage buffers for every chunk. Each buffer grows to
// the largest use seen, about 12.3 MiB in all for 2 MiB chunks. Every decompressBlock wipes what
// it used before it returns, on every path: between chunks it holds no plaintext.
struct CodecScratch {
    SecureBuffer stages[2];  // the stages' outputs, in turn
    BlockSortDecodeScratch blockSort;
};

// Restores the chunk that compressBlock made from the size bytes at in, into out, whose memory
// is kept when it already has exactly the chunk's size and replaced otherwise.
// Pre:  in is any bytes (untrusted), not inside out or scratch.
// Post: true: out holds the chunk. false: as decompressBlock(buffer), in is empty or its data
//       is malformed or too long; out is then wiped. scratch holds no data either way.
// Throws 0 when memory runs out; out and scratch are then wiped as well.
[[nodiscard]] bool decompressBlock(const uint8_t* in, uint32_t size, SecureBuffer& out, CodecScratch& scratch);

// Restores a chunk that compressBlock made.
// Pre:  buffer is any bytes (untrusted).
// Post: true: buffer holds the chunk (the single byte 00 gives an empty chunk). false: the buffer
//       is empty, the method byte is not a method, a stage finds its data malformed, or some
//       stage would produce more than compressing a CODEC_CHUNK_MAX_BYTES chunk can give it
//       (the chunk itself at most CODEC_CHUNK_MAX_BYTES); the buffer is then wiped. No stage
//       allocates more than its stream justifies or than those limits allow.
// Throws 0 when memory runs out; the buffer is then wiped as well.
[[nodiscard]] bool decompressBlock(SecureBuffer& buffer);
