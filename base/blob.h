// Blob files, the outer format of key files, "config.bin" and "rand.bin": a 32-bit little-endian
// length and that many payload bytes. Bytes after the payload are ignored.
#pragma once

#include <cstdint>

#include "base/byte_fields.h"
#include "base/native_file.h"
#include "base/secure_buffer.h"

// Largest payload the reader accepts; it also bounds what a damaged length can make it allocate.
constexpr uint32_t MAX_BLOB_SIZE = 1073741824;
// The payload is read and written in pieces of this size.
constexpr uint32_t BLOB_PIECE_SIZE = 102400;

// Reads the blob file at path (relative names resolve in the current directory) into
// reader: its input becomes the payload and its position 0. A file of fewer than 4 bytes reads
// its length from the bytes present (an empty file is an empty payload). Files that cannot be
// measured (pipes) are read as well: the payload is read in growing pieces, so memory is taken
// only for bytes that have arrived, whatever the length claims. Fails, leaving reader unchanged,
// when the file cannot be opened or read, the length exceeds MAX_BLOB_SIZE, or fewer bytes
// follow than the length says.
[[nodiscard]] bool readBlobFile(const NativePath& path, ByteReader& reader);

// Creates or truncates the file at path and writes bytes as a blob; on POSIX the file is
// left readable and writable by its owner only (mode 0600), also when it existed. False when the file
// cannot be opened, a payload piece is not written whole or the file does not close cleanly; a
// partial file may remain.
[[nodiscard]] bool writeBlobFile(const NativePath& path, const SecureBuffer& bytes);
