// Blob files, the outer format of key files, "config.bin" and "rand.bin": a 32-bit little-endian
// length and that many payload bytes. Bytes after the payload are ignored. Read and written
// through the platform layer's files (no runtime stream buffers, which would keep copies of the
// bytes), so the failure record and the fault hook see every call.
#pragma once

#include <cstdint>

#include "base/byte_fields.h"
#include "base/native_file.h"
#include "base/secure_buffer.h"

// Largest payload the format allows; each reader passes the bound of its own kind of file.
constexpr uint32_t MAX_BLOB_SIZE = 1073741824;
// The payload is read and written in pieces of this size.
constexpr uint32_t BLOB_PIECE_SIZE = 102400;

// Reads the blob file at path (relative names resolve in the current directory) into
// reader: its input becomes the payload and its position 0. A file of fewer than 4 bytes reads
// its length from the bytes present (an empty file is an empty payload). Pipes are read as well:
// the payload is read in growing pieces, so memory is taken only for bytes that have arrived,
// whatever the length claims. Fails, leaving reader unchanged, when the file cannot be opened or
// read, the length exceeds maxPayloadBytes (checked before any payload byte is read; at most
// MAX_BLOB_SIZE counts), or fewer bytes follow than the length says.
[[nodiscard]] bool readBlobFile(const NativePath& path, ByteReader& reader, uint32_t maxPayloadBytes = MAX_BLOB_SIZE);

// How a bounded read went, for a reader whose messages tell a file too large for its kind (not
// one of its files) from one that cannot be read.
enum BlobReadResult : uint8_t { BLOB_READ, BLOB_UNREADABLE, BLOB_TOO_LARGE };

// readBlobFile, saying why it failed: BLOB_TOO_LARGE when the length exceeds maxPayloadBytes.
[[nodiscard]] BlobReadResult readBoundedBlobFile(const NativePath& path, ByteReader& reader, uint32_t maxPayloadBytes);

// Replaces the file at path by a blob of bytes, or creates it. The blob is written to a new
// temporary file beside path, flushed to the disk and renamed over path, so that path holds
// either its old bytes or the whole new blob, also after a full disk, a failure or a power cut.
// On POSIX the file is readable and writable by its owner only (mode 0600). False, with the
// temporary file removed and path as it was, when any step fails (a failing flush of the folder
// after the rename also gives false, with path already holding the new blob).
[[nodiscard]] bool writeBlobFile(const NativePath& path, const SecureBuffer& bytes);

// As writeBlobFile, but only where nothing has the name path: the test and the creation are one
// step, so a file that appears at path meanwhile is never replaced. False, leaving that file
// untouched, when path exists.
[[nodiscard]] bool createBlobFile(const NativePath& path, const SecureBuffer& bytes);
