// Blob files through the runtime's buffered streams.

#include "base/blob.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/byte_order.h"
#include "base/scope_exit.h"

namespace {

// The first piece read; each further piece is as large as all that has arrived before it, up to
// BLOB_PIECE_SIZE. So the reader never holds memory for much more than the file has delivered,
// whatever its length field claims and whether or not the file can be measured (a pipe cannot).
constexpr uint32_t BLOB_FIRST_PIECE_SIZE = 4096;

// The payload of length bytes from file, or false when fewer arrive or the stream reports an error.
bool readPayload(std::FILE* file, uint32_t length, SecureBuffer& payload) {
    std::vector<SecureBuffer> pieces;
    uint32_t arrived = 0;
    while (arrived < length) {
        uint32_t piece = arrived < BLOB_FIRST_PIECE_SIZE ? BLOB_FIRST_PIECE_SIZE : arrived;
        if (piece > BLOB_PIECE_SIZE) piece = BLOB_PIECE_SIZE;
        if (piece > length - arrived) piece = length - arrived;
        SecureBuffer bytes = SecureBuffer::zeros(piece);
        if (std::fread(bytes.data(), 1, piece, file) != piece) return false;
        arrived += piece;
        pieces.push_back(std::move(bytes));
    }
    if (pieces.size() == 1) {
        payload = std::move(pieces.front());
        return true;
    }
    // Everything has arrived: now the whole payload may have its one buffer.
    SecureBuffer whole = SecureBuffer::zeros(length);
    uint32_t offset = 0;
    for (SecureBuffer& piece : pieces) {
        std::copy(piece.data(), piece.data() + piece.size(), whole.data() + offset);
        offset += piece.size();
        piece.wipe();
    }
    payload = std::move(whole);
    return true;
}

// Opens path for writing from the start as "wb" does; on POSIX the file is created readable by its
// owner only (these files hold keys and seeds), and one that exists is made so.
std::FILE* openForWriting(const NativePath& path) {
#if defined(_WIN32)
    return openNativeStream(path, "wb");
#else
    if (!isNativePath(path)) return nullptr;
    const int fd = ::open(reinterpret_cast<const char*>(path.data()), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    // A file that existed keeps its mode through open; a failure here (a file of another owner
    // that we may write) leaves it as it was.
    (void)::fchmod(fd, 0600);
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
    return file;
#endif
}

}  // namespace

bool readBlobFile(const NativePath& path, ByteReader& reader) {
    std::FILE* file = openNativeStream(path, "rb");
    if (file == nullptr) return false;
    ScopeExit closeFile([&] { std::fclose(file); });

    // A short length read is not an error: missing high bytes stay zero. A read error (a folder,
    // a failing disk) is.
    uint8_t lengthBytes[4] = {0, 0, 0, 0};
    (void)std::fread(lengthBytes, 1, sizeof lengthBytes, file);
    if (std::ferror(file)) return false;
    const uint32_t length = load32Le(lengthBytes);
    if (length > MAX_BLOB_SIZE) return false;

    SecureBuffer payload;
    try {
        if (!readPayload(file, length, payload)) return false;
    } catch (int) {
        return false;  // a payload the process cannot hold is as unreadable as a missing one
    }
    reader.input = std::move(payload);
    reader.position = 0;
    return true;
}

bool writeBlobFile(const NativePath& path, const SecureBuffer& bytes) {
    std::FILE* file = openForWriting(path);
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
