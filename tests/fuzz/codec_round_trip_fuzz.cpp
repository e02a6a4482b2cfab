// libFuzzer target: every chunk the codec compresses, in each of its three modes, decompresses to
// the same bytes, and no compressed form grows beyond the chunk plus its method byte. The Huffman
// stage also codes the raw input, whose byte counts the fuzzer shapes directly, and its decoder
// restores it. Each compressed form is also decoded with one scratch kept over all inputs, as a
// decrypting thread keeps it over its chunks.

#include <cstddef>
#include <cstdint>

#include "base/secure_buffer.h"
#include "codec/framing.h"
#include "codec/huffman.h"
#include "fuzz_support.h"

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > CODEC_CHUNK_MAX_BYTES) return 0;
    try {
        const SecureBuffer chunk(data, static_cast<uint32_t>(size));
        for (CompressionMethod mode : {METHOD_STORED, METHOD_HUFFMAN, METHOD_BLOCKSORT}) {
            SecureBuffer buffer(chunk);
            require(compressBlock(buffer, mode), "compressBlock refused a chunk");
            if (chunk.empty()) {
                require(buffer.empty(), "an empty chunk gained bytes");
                continue;
            }
            require(buffer.size() <= chunk.size() + 1, "a compressed form is longer than stored");
            require(buffer.data()[0] <= mode, "a method above the requested mode");
            // A decrypting thread's scratch, kept from input to input as from chunk to chunk.
            static CodecScratch scratch;
            static SecureBuffer out;
            require(decompressBlock(buffer.data(), buffer.size(), out, scratch),
                    "decompressBlock with a kept scratch refused what compressBlock made");
            require(out.constantTimeEquals(chunk), "the round trip through a kept scratch changed the chunk");
            require(decompressBlock(buffer), "decompressBlock refused what compressBlock made");
            require(buffer.constantTimeEquals(chunk), "the round trip changed the chunk");
        }
        SecureBuffer coded(chunk);
        if (huffmanEncode(coded)) {
            require(huffmanDecode(coded, static_cast<uint32_t>(size)), "huffmanDecode refused a Huffman stream");
            require(coded.constantTimeEquals(chunk), "the Huffman round trip changed the bytes");
        } else {
            require(coded.constantTimeEquals(chunk), "a refused Huffman coding changed the buffer");
        }
    } catch (int) {
        // Out of memory is the integer 0, which a job turns into a failure.
    }
    return 0;
}
