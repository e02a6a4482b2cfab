// Chunk framing. Each decoding stage gets the longest output that compressing a chunk of
// CODEC_CHUNK_MAX_BYTES can give it, so a forged length fails before it is allocated.

#include "codec/framing.h"

#include <utility>

#include "base/scope_exit.h"
#include "codec/blocksort.h"
#include "codec/huffman.h"
#include "codec/movetofront.h"
#include "codec/runlength.h"

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

}  // namespace

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
    if (mode != METHOD_STORED) {
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
