// The decryption pipeline: header, key check and authenticated chunk table first, and only then
// the target; then every chunk read, its tag and index checked, decompressed when the container
// says so, and written. Owns ContainerReader and decryptFile.
#pragma once

#include <cstdint>
#include <vector>

#include "base/secure_buffer.h"
#include "container/format.h"
#include "container/pipeline_records.h"
#include "container/session.h"
#include "platform/platform.h"

// The container being read, strictly front to back: header → table → chunks 0..n-1.
// remaining counts the bytes not yet read, so that no size from the file can ask for more memory
// than the file still holds.
struct ContainerReader {
    CryptoSession session;
    PlatformFile file;
    uint64_t fileSize = 0;
    uint64_t remaining = 0;
    bool headerRead = false;
    bool tableRead = false;
    uint32_t chunkCount = 0;
    std::vector<uint32_t> sealedSizes;
};

// Opens the container for reading.
[[nodiscard]] bool openReader(ContainerReader& reader, const NativePath& path);

// Exactly count bytes from the current position into out (count 0 gives an empty buffer). False
// on a read error, a short count, or a count larger than what is left of the file.
[[nodiscard]] bool readExact(ContainerReader& reader, uint32_t count, SecureBuffer& out);

// As readExact, into count bytes at data that the caller provides.
[[nodiscard]] bool readExactInto(ContainerReader& reader, uint8_t* data, uint32_t count);

// Reads the header size and the header bytes, the container's opening; header receives the bytes.
// False on a read error or a size above MAX_HEADER_SIZE or what is left of the file. Only once,
// first thing.
[[nodiscard]] bool readHeaderBytes(ContainerReader& reader, SecureBuffer& header);

// Keys the session and reads, authenticates and decodes the chunk table; count receives the chunk
// count. The table payload must be exactly 4 + 4n bytes. Only after the header, only once.
// The table's size is refused unless it is a sealed blob's size and the rest of the file could
// hold as many chunks as such a table lists (every sealed chunk has at least 64 bytes). Its tag
// is then checked over the table read in pieces, keeping nothing; only an authentic table is read
// again whole and decrypted. So a forged size costs at most reading what the file holds, never
// memory of that size.
[[nodiscard]] bool openTable(ContainerReader& reader, const SecureBuffer& masterKey, RandomGenerator* generator,
                             CipherAlgorithm cipher, uint32_t& count);

// Closes the file and releases the session.
void closeReader(ContainerReader& reader);

// Decrypts the container at sourcePath into targetPath with key; the cipher and compression come
// from the container. options.cipher and options.compress are unused.
// With more than one worker (options.workers) one thread reads the chunks in order, the workers
// check, decrypt and decompress them side by side, and this thread writes them in order; the first
// bad chunk in file order decides the result, as with one worker.
// True: the whole plaintext is under targetPath. False: result holds the first failure and no file
// of this job remains; a file that already had the target's name is unchanged, and nothing is
// created before the key and the table have been checked.
// Failures: unreadable, damaged or truncated container (header, table or chunk), codec refusal →
// RESULT_READ_ERROR; container of another key mode, wrong key, key-file key not 32 bytes,
// malformed key code → RESULT_WRONG_KEY; passphrase derivation failure → RESULT_CRYPTO_ERROR;
// target not creatable or writable → RESULT_WRITE_ERROR; cancel → RESULT_CANCELLED.
[[nodiscard]] bool decryptJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                              const NativePath& targetPath, JobResult& result);

// As decryptJob, with the process's standard output as the target. Each chunk is written as soon
// as its tag and index are checked, after the key and the whole table; what was written stays
// written when a later chunk fails. Failures as decryptJob.
[[nodiscard]] bool decryptToStandardOutput(const PipelineOptions& options, const JobKey& key,
                                           const NativePath& sourcePath, JobResult& result);

// Runs the whole decryption (key, table, every chunk's tag and index, decompression) and writes
// nothing. Results as decryptJob, without RESULT_WRITE_ERROR.
[[nodiscard]] bool verifyJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                             JobResult& result);

// decryptJob with the key given as the three key buffers, of which only keyMethod's is read.
[[nodiscard]] bool decryptFile(const PipelineOptions& options, KeyMethod keyMethod, const SecureBuffer& keyFileKey,
                               const SecureBuffer& passphrase, const SecureBuffer& keyCode,
                               const NativePath& sourcePath, const NativePath& targetPath, JobResult& result);

// What a container says about itself without a key: its header's fields, the header and table
// sizes as stored, and the file size.
struct ContainerDescription {
    HeaderFields fields;
    uint32_t headerSize = 0;
    uint32_t tableSize = 0;
    uint64_t fileSize = 0;
};

// Reads the opening of the container at path into description. False when the file cannot be
// read or its header is not valid.
[[nodiscard]] bool describeContainer(const NativePath& path, ContainerDescription& description);
