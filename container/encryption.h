// The encryption pipeline: one source file streamed in 2 MiB chunks into one container, each
// chunk optionally compressed, sealed and written, then the sealed chunk table written into the
// room reserved after the header. Owns SourceReader, ContainerWriter and encryptFile.
#pragma once

#include <cstdint>
#include <vector>

#include "base/secure_buffer.h"
#include "container/pipeline_records.h"
#include "container/session.h"
#include "container/target_file.h"
#include "platform/platform.h"

// The source, read front to back. chunkCount is fixed when the file is opened.
struct SourceReader {
    PlatformFile file;
    bool valid = false;
    uint64_t remaining = 0;
    uint32_t chunkCount = 0;
};

// Opens the source and counts its chunks (size / 2 MiB rounded up). False when it cannot be
// opened or has more chunks than 32 bits count.
[[nodiscard]] bool sourceOpen(SourceReader& reader, const NativePath& path);

// Reads the next min(2 MiB, remaining) bytes into data, which MUST have room for that many, and
// gives their count; false when nothing remains or fewer bytes arrive (the file shrank or a read
// failed).
[[nodiscard]] bool sourceReadNextChunkInto(SourceReader& reader, uint8_t* data, uint32_t& count);

void sourceClose(SourceReader& reader);

// The container being written: created → valid → header written → chunks 0..n-1 → table.
// Each step checks that it comes in that order.
struct ContainerWriter {
    CryptoSession session;
    bool valid = false;
    TargetFile target;
    bool headerWritten = false;
    uint32_t tableOffset = 0;
    uint32_t nextIndex = 0;
    uint32_t chunkCount = 0;
    std::vector<uint32_t> sealedSizes;
};

// Keys the writer's session and creates the target (as a temporary file beside it). A session that
// refuses the key is kept and makes the first seal fail. False when the target cannot be created.
[[nodiscard]] bool openWriter(ContainerWriter& writer, const SecureBuffer& masterKey, const NativePath& targetPath,
                              RandomGenerator* generator, CipherAlgorithm cipher);

// Writes the header size, the header, the table size and a zeroed table area for chunkCount chunks.
[[nodiscard]] bool writeHeader(ContainerWriter& writer, const SecureBuffer& header, uint32_t chunkCount);

// Appends the next chunk, sealed already with its index inside (sealChunks).
[[nodiscard]] bool writeSealedChunk(ContainerWriter& writer, const uint8_t* sealed, uint32_t sealedBytes);

// Seals the table of sealed sizes and writes it into the reserved area. Only once all chunks are in.
[[nodiscard]] bool writeTable(ContainerWriter& writer);

// Makes a complete container visible under the target's name. Only after writeTable.
[[nodiscard]] bool commitWriter(ContainerWriter& writer);

// Releases the session; a target that was not committed is removed.
void closeWriter(ContainerWriter& writer);

// Encrypts the file at sourcePath into a container at targetPath with key.
// With more than one worker (options.workers) one thread reads the chunks and draws their IVs in
// chunk order, the workers compress and seal them side by side, and this thread writes them in
// order; the container is the same, byte for byte, as with one worker from the same generator
// state. At most pipelineSlotCount chunks are in memory at once.
// True: the container is complete under targetPath. False: result holds the first failure and no
// file of this job remains; a file that already had the target's name is unchanged.
// Failures: source unreadable or shrinking, codec failure → RESULT_READ_ERROR; key-file key not 32
// bytes, salt or derivation failure → RESULT_CRYPTO_ERROR; key code malformed → RESULT_WRONG_KEY;
// target not creatable or writable, sealing failure → RESULT_WRITE_ERROR; cancel → RESULT_CANCELLED.
[[nodiscard]] bool encryptJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                              const NativePath& targetPath, JobResult& result);

// encryptJob with the key given as the three key buffers, of which only keyMethod's is read
// (texts include their NUL).
[[nodiscard]] bool encryptFile(const PipelineOptions& options, KeyMethod keyMethod, const SecureBuffer& keyFileKey,
                               const SecureBuffer& passphrase, const SecureBuffer& keyCode,
                               const NativePath& sourcePath, const NativePath& targetPath, JobResult& result);

// The key of keyMethod out of the three key buffers that the spelled-out entry points take.
JobKey jobKeyFromBuffers(KeyMethod keyMethod, const SecureBuffer& keyFileKey, const SecureBuffer& passphrase,
                         const SecureBuffer& keyCode);
