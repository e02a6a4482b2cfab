// Chunk framing. Each decoding stage gets the longest output that compressing a chunk of
// CODEC_CHUNK_MAX_BYTES can give it, so a forged length fails before it is allocated.

#include "codec/framing.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "base/scope_exit.h"
#include "codec/blocksort.h"
#include "codec/huffman.h"
#include "codec/movetofront.h"
#include "codec/runlength.h"
#include "codec/word_array.h"

namespace {

// Longest output of each compression stage for a chunk of CODEC_CHUNK_MAX_BYTES.
constexpr uint64_t FRAMING_FIRST_RUN_LENGTH_MAX_BYTES = runLengthEncodedMaxBytes(CODEC_CHUNK_MAX_BYTES);
constexpr uint64_t FRAMING_BLOCK_SORT_MAX_BYTES = blockSortEncodedBytes(FRAMING_FIRST_RUN_LENGTH_MAX_BYTES);
constexpr uint64_t FRAMING_SECOND_RUN_LENGTH_MAX_BYTES = runLengthEncodedMaxBytes(FRAMING_BLOCK_SORT_MAX_BYTES);
static_assert(FRAMING_SECOND_RUN_LENGTH_MAX_BYTES <= UINT32_MAX);

constexpr uint32_t FRAMING_METHOD_BYTES = 1;

bool framingIsMethod(uint32_t value) {
    return value == METHOD_STORED || value == METHOD_HUFFMAN || value == METHOD_BLOCKSORT;
}

// The stages behind the method byte; false when any finds its data malformed or too long.
bool framingDecodePayload(SecureBuffer& buffer, CompressionMethod method) {
    switch (method) {
    case METHOD_STORED: return buffer.size() <= CODEC_CHUNK_MAX_BYTES;
    case METHOD_HUFFMAN:
        return huffmanDecode(buffer, FRAMING_FIRST_RUN_LENGTH_MAX_BYTES) &&
               runLengthDecode(buffer, CODEC_CHUNK_MAX_BYTES);
    case METHOD_BLOCKSORT:
        if (!huffmanDecode(buffer, FRAMING_SECOND_RUN_LENGTH_MAX_BYTES)) return false;
        if (!runLengthDecode(buffer, FRAMING_BLOCK_SORT_MAX_BYTES)) return false;
        moveToFrontDecode(buffer);
        return blockSortDecode(buffer) && runLengthDecode(buffer, CODEC_CHUNK_MAX_BYTES);
    }
    return false;
}

// The quick look's bounds. Random data gives about 8 bits per byte by each count below (a little
// less for the context counts, which spread 2 MiB over 16384 cells), an equal neighbour once in
// 256 bytes and no repeated 8-byte string. A chunk passes as incompressible only when every
// measure stays within a few tenths of a percent of that.
constexpr uint32_t FRAMING_LOOK_MIN_BYTES = 64 * 1024;
constexpr double FRAMING_LOOK_MIN_ENTROPY_BITS = 7.98;          // bytes, and neighbour differences
constexpr double FRAMING_LOOK_MIN_CONTEXT_ENTROPY_BITS = 7.97;  // bytes by the previous byte's top 6 bits
constexpr uint32_t FRAMING_LOOK_EQUAL_NEIGHBOUR_SHARE = 128;    // at most size / this equal neighbours
constexpr uint32_t FRAMING_LOOK_REPEAT_SHARE = 512;             // at most size / this bytes in repeats
constexpr uint32_t FRAMING_LOOK_CONTEXTS = 64;
constexpr uint32_t FRAMING_LOOK_STRIDE = 32;  // 8-byte strings at these offsets are remembered
constexpr uint32_t FRAMING_LOOK_TABLE_BITS = 16;

// Empirical entropy in bits per sample of cells counts that sum to total.
double framingEntropyBits(const uint32_t* counts, uint32_t cells, uint32_t total) {
    double sum = 0;
    for (uint32_t i = 0; i < cells; ++i) {
        if (counts[i] != 0) sum += counts[i] * std::log2(static_cast<double>(counts[i]));
    }
    return std::log2(static_cast<double>(total)) - sum / total;
}

// Entropy of the byte given its context of previous bytes' top bits: the sum over contexts.
double framingContextEntropyBits(const uint32_t* counts, uint32_t total) {
    double bits = 0;
    for (uint32_t context = 0; context < FRAMING_LOOK_CONTEXTS; ++context) {
        const uint32_t* row = counts + 256 * context;
        uint32_t rowTotal = 0;
        for (uint32_t value = 0; value < 256; ++value) rowTotal += row[value];
        if (rowTotal != 0) bits += rowTotal * framingEntropyBits(row, 256, rowTotal);
    }
    return bits / total;
}

uint64_t framingLoad64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Bytes covered by 8-byte strings that occur again elsewhere in the chunk, estimated from the
// strings at every FRAMING_LOOK_STRIDE-th offset: a repeat of 40 bytes or more always contains
// one of them, and the scan over every offset finds it once per stride of the repeat.
uint64_t framingRepeatedBytes(const uint8_t* data, uint32_t size) {
    constexpr uint32_t entries = 1u << FRAMING_LOOK_TABLE_BITS;
    constexpr uint32_t empty = UINT32_MAX;
    CodecWordArray tableWords(entries, CodecWordsForOverwrite{});
    uint32_t* table = tableWords.data();
    for (uint32_t i = 0; i < entries; ++i) table[i] = empty;
    auto slot = [](uint64_t word) {
        return static_cast<uint32_t>((word * 0x9E3779B97F4A7C15ull) >> (64 - FRAMING_LOOK_TABLE_BITS));
    };
    for (uint32_t at = 0; at + 8 <= size; at += FRAMING_LOOK_STRIDE) table[slot(framingLoad64(data + at))] = at;
    uint64_t hits = 0;
    for (uint32_t at = 0; at + 8 <= size; ++at) {
        const uint64_t word = framingLoad64(data + at);
        const uint32_t seen = table[slot(word)];
        // A string that overlaps its match is a run, which the equal neighbours count.
        if (seen != empty && (seen + 8 <= at || at + 8 <= seen) && framingLoad64(data + seen) == word) ++hits;
    }
    return hits * FRAMING_LOOK_STRIDE;
}

}  // namespace

bool chunkLooksIncompressible(const uint8_t* data, uint32_t size) {
    if (size < FRAMING_LOOK_MIN_BYTES) return false;
    uint32_t equalNeighbours = 0;
    CodecWordArray counts(256 + 256 + 256 * FRAMING_LOOK_CONTEXTS);
    uint32_t* bytes = counts.data();
    uint32_t* differences = bytes + 256;
    uint32_t* contexts = differences + 256;
    ++bytes[data[0]];
    for (uint32_t i = 1; i < size; ++i) {
        const uint8_t previous = data[i - 1];
        const uint8_t value = data[i];
        ++bytes[value];
        ++differences[static_cast<uint8_t>(value - previous)];
        ++contexts[256 * (previous >> 2) + value];
        equalNeighbours += value == previous;
    }
    if (equalNeighbours > size / FRAMING_LOOK_EQUAL_NEIGHBOUR_SHARE) return false;
    if (framingEntropyBits(bytes, 256, size) < FRAMING_LOOK_MIN_ENTROPY_BITS) return false;
    if (framingEntropyBits(differences, 256, size - 1) < FRAMING_LOOK_MIN_ENTROPY_BITS) return false;
    if (framingContextEntropyBits(contexts, size - 1) < FRAMING_LOOK_MIN_CONTEXT_ENTROPY_BITS) return false;
    return framingRepeatedBytes(data, size) <= size / FRAMING_LOOK_REPEAT_SHARE;
}

bool compressBlock(SecureBuffer& buffer, CompressionMethod mode) {
    bool succeeded = false;
    ScopeExit wipeOnFailure([&] {
        if (!succeeded) buffer.wipe();
    });
    if (!framingIsMethod(mode) || buffer.size() > CODEC_CHUNK_MAX_BYTES) return false;
    if (buffer.empty()) {
        succeeded = true;
        return true;
    }
    CompressionMethod method = mode;
    if (mode == METHOD_BLOCKSORT && chunkLooksIncompressible(buffer.data(), buffer.size())) {
        method = METHOD_STORED;
    } else if (mode != METHOD_STORED) {
        const uint32_t chunkBytes = buffer.size();
        // The first run-length form stays beside the coding instead of a copy of the chunk: the
        // block sort needs it anyway, and a chunk that coding does not shorten is restored from
        // it.
        runLengthEncode(buffer);
        SecureBuffer coded;
        if (mode == METHOD_BLOCKSORT) {
            // The run-length output of a non-empty chunk is never empty.
            if (!blockSortEncode(buffer, coded)) return false;
            moveToFrontEncode(coded);
            runLengthEncode(coded);
        } else {
            coded = buffer;
        }
        if (!huffmanEncode(coded)) return false;
        if (chunkBytes <= coded.size()) {
            coded.wipe();
            // This encoder's own run-length stream, of this chunk: it decodes.
            if (!runLengthDecode(buffer, CODEC_CHUNK_MAX_BYTES)) return false;
            method = METHOD_STORED;
        } else {
            buffer = std::move(coded);
        }
    }
    buffer.prependZeros(FRAMING_METHOD_BYTES);
    buffer.data()[0] = method;
    succeeded = true;
    return true;
}

bool decompressBlock(SecureBuffer& buffer) {
    bool succeeded = false;
    ScopeExit wipeOnFailure([&] {
        if (!succeeded) buffer.wipe();
    });
    if (buffer.empty()) return false;
    const uint8_t method = buffer.data()[0];
    if (!framingIsMethod(method)) return false;
    if (!buffer.eraseFront(FRAMING_METHOD_BYTES)) return false;
    succeeded = framingDecodePayload(buffer, static_cast<CompressionMethod>(method));
    return succeeded;
}
