// Blob files through the platform layer's files.

#include "platform/blob_file.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "platform/platform.h"

namespace {

// The first piece read; each further piece is as large as all that has arrived before it, up to
// BLOB_PIECE_SIZE. So the reader never holds memory for much more than the file has delivered,
// whatever its length field claims and whether or not the file can be measured (a pipe cannot).
constexpr uint32_t BLOB_FIRST_PIECE_SIZE = 4096;

// The payload of length bytes from file, or false when fewer arrive or a read fails.
bool readPayload(PlatformFile& file, uint32_t length, SecureBuffer& payload) {
    std::vector<SecureBuffer> pieces;
    uint32_t arrived = 0;
    while (arrived < length) {
        uint32_t piece = arrived < BLOB_FIRST_PIECE_SIZE ? BLOB_FIRST_PIECE_SIZE : arrived;
        if (piece > BLOB_PIECE_SIZE) piece = BLOB_PIECE_SIZE;
        if (piece > length - arrived) piece = length - arrived;
        SecureBuffer bytes = SecureBuffer::zeros(piece);
        uint32_t got = 0;
        if (!platformRead(file, bytes.data(), piece, got) || got != piece) return false;
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

// Whether a rename may replace a file that has the final name.
enum BlobReplace { REPLACE_EXISTING, ONLY_NEW };

// The blob of bytes into a new temporary file beside path, flushed, then renamed onto path.
bool writeBlobBeside(const NativePath& path, const SecureBuffer& bytes, BlobReplace replace) {
    PlatformFile file;
    NativePath temporary;
    if (!platformCreateTemporaryBeside(path, PERMISSIONS_OWNER_ONLY, file, temporary)) return false;
    bool renamed = false;
    // After a rename that failed only at the folder's flush the temporary name is gone already, and
    // its removal fails harmlessly.
    ScopeExit removeTemporary([&] {
        (void)platformClose(file);
        if (!renamed) (void)platformDelete(temporary);
    });
    uint8_t lengthBytes[4];
    store32Le(lengthBytes, bytes.size());
    bool ok = platformWrite(file, lengthBytes, sizeof lengthBytes);
    for (uint32_t offset = 0; ok && offset < bytes.size(); offset += BLOB_PIECE_SIZE) {
        const uint32_t piece = std::min(bytes.size() - offset, BLOB_PIECE_SIZE);
        ok = platformWrite(file, bytes.data() + offset, piece);
    }
    // The data reaches the disk before the rename can make it the file's content.
    ok = ok && platformFlush(file);
    ok = platformClose(file) && ok;
    if (!ok) return false;
    renamed = replace == REPLACE_EXISTING ? platformRenameOver(temporary, path) : platformRenameNew(temporary, path);
    return renamed;
}

}  // namespace

BlobReadResult readBoundedBlobFile(const NativePath& path, ByteReader& reader, uint32_t maxPayloadBytes) {
    PlatformFile file;
    if (!platformOpenReadStream(path, file)) return BLOB_UNREADABLE;
    ScopeExit closeFile([&] { (void)platformClose(file); });

    // A short length read is not an error: missing high bytes stay zero. A read error (a failing
    // disk) is.
    uint8_t lengthBytes[4] = {0, 0, 0, 0};
    uint32_t got = 0;
    if (!platformRead(file, lengthBytes, sizeof lengthBytes, got)) return BLOB_UNREADABLE;
    const uint32_t length = load32Le(lengthBytes);
    if (length > MAX_BLOB_SIZE) return BLOB_UNREADABLE;
    if (length > maxPayloadBytes) return BLOB_TOO_LARGE;

    SecureBuffer payload;
    try {
        if (!readPayload(file, length, payload)) return BLOB_UNREADABLE;
    } catch (int) {
        return BLOB_UNREADABLE;  // a payload the process cannot hold is as unreadable as a missing one
    }
    reader.input = std::move(payload);
    reader.position = 0;
    return BLOB_READ;
}

bool readBlobFile(const NativePath& path, ByteReader& reader, uint32_t maxPayloadBytes) {
    return readBoundedBlobFile(path, reader, maxPayloadBytes) == BLOB_READ;
}

bool writeBlobFile(const NativePath& path, const SecureBuffer& bytes) {
    return writeBlobBeside(path, bytes, REPLACE_EXISTING);
}

bool createBlobFile(const NativePath& path, const SecureBuffer& bytes) {
    return writeBlobBeside(path, bytes, ONLY_NEW);
}
