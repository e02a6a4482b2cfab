// libFuzzer target: any bytes as a compressed chunk. A decoded chunk is compressed again and
// decoded once more, which must give it back. Built and run by tools/fuzz.sh.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/secure_buffer.h"
#include "codec/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A stream that would not fit a SecureBuffer cannot reach the decoder.
    if (size > UINT32_MAX) return 0;
    try {
        SecureBuffer buffer(data, static_cast<uint32_t>(size));
        if (!decompressBlock(buffer)) {
            if (!buffer.empty()) std::abort();  // a failed decode leaves nothing behind
            return 0;
        }
        if (buffer.size() > CODEC_CHUNK_MAX_BYTES) std::abort();
        // An empty chunk is never framed (it compresses to nothing), so it is not decoded again.
        if (buffer.empty()) return 0;
        const SecureBuffer chunk(buffer);
        if (!compressBlock(buffer, METHOD_BLOCKSORT)) std::abort();
        if (!decompressBlock(buffer) || !buffer.constantTimeEquals(chunk)) std::abort();
    } catch (int) {
        // Out of memory is reported as the integer 0, which a job turns into a failure.
    }
    return 0;
}
