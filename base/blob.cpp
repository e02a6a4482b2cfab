// Blob files through the runtime's buffered streams.

#include "base/blob.h"

#include <utility>

#include <cstdio>

#include "base/byte_order.h"
#include "base/scope_exit.h"

namespace {

// Bytes from the current position to the end of the file, so that a damaged length field never
// makes the reader allocate more than the file can fill.
uint64_t bytesLeft(std::FILE* file) {
    const long position = std::ftell(file);
    if (position < 0 || std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long end = std::ftell(file);
    if (end < position || std::fseek(file, position, SEEK_SET) != 0) return 0;
    return static_cast<uint64_t>(end - position);
}

}  // namespace

bool readBlobFile(const char* path, ByteReader& reader) {
    if (path == nullptr) return false;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    ScopeExit closeFile([&] { std::fclose(file); });

    // A short length read is not an error: missing high bytes stay zero.
    uint8_t lengthBytes[4] = {0, 0, 0, 0};
    (void)std::fread(lengthBytes, 1, sizeof lengthBytes, file);
    const uint32_t length = load32Le(lengthBytes);
    if (length > MAX_BLOB_SIZE || length > bytesLeft(file)) return false;

    SecureBuffer payload;
    try {
        payload.allocate(length);
    } catch (int) {
        return false;  // a payload the process cannot hold is as unreadable as a missing one
    }
    for (uint32_t offset = 0; offset < length; offset += BLOB_PIECE_SIZE) {
        const uint32_t piece = length - offset < BLOB_PIECE_SIZE ? length - offset : BLOB_PIECE_SIZE;
        if (std::fread(payload.data() + offset, 1, piece, file) != piece) return false;
    }
    reader.input = std::move(payload);
    reader.position = 0;
    return true;
}

bool writeBlobFile(const char* path, const SecureBuffer& bytes) {
    if (path == nullptr) return false;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    uint8_t lengthBytes[4];
    store32Le(lengthBytes, bytes.size());
    bool ok = std::fwrite(lengthBytes, 1, sizeof lengthBytes, file) == sizeof lengthBytes;
    for (uint32_t offset = 0; ok && offset < bytes.size(); offset += BLOB_PIECE_SIZE) {
        const uint32_t piece = bytes.size() - offset < BLOB_PIECE_SIZE ? bytes.size() - offset : BLOB_PIECE_SIZE;
        ok = std::fwrite(bytes.data() + offset, 1, piece, file) == piece;
    }
    // Buffered data reaches the file only on close; a failed close is a failed write.
    return std::fclose(file) == 0 && ok;
}
