// The decryption pipeline.

#include "container/decryption.h"

#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "codec/framing.h"
#include "container/encryption.h"
#include "container/target_file.h"

namespace {

constexpr uint32_t CHUNK_INDEX_BYTES = 4;

bool fail(JobResult& result, JobResult code) {
    result = code;
    return false;
}

bool readU32(ContainerReader& reader, uint32_t& value) {
    SecureBuffer bytes;
    if (!readExact(reader, 4, bytes)) return false;
    value = load32Le(bytes.data());
    return true;
}

}  // namespace

bool openReader(ContainerReader& reader, const NativePath& path) {
    uint64_t size = 0;
    if (!platformOpenRead(path, reader.file) || !platformFileSize(reader.file, size)) {
        (void)platformClose(reader.file);
        return false;
    }
    reader.remaining = size;
    return true;
}

bool readExact(ContainerReader& reader, uint32_t count, SecureBuffer& out) {
    out.wipe();
    if (count > reader.remaining) return false;
    SecureBuffer bytes = SecureBuffer::zeros(count);
    uint32_t got = 0;
    if (count != 0 && (!platformRead(reader.file, bytes.data(), count, got) || got != count)) return false;
    reader.remaining -= count;
    out = std::move(bytes);
    return true;
}

bool readHeaderBytes(ContainerReader& reader, SecureBuffer& header) {
    uint32_t headerBytes = 0;
    if (reader.headerRead || !readU32(reader, headerBytes) || headerBytes > MAX_HEADER_SIZE ||
        !readExact(reader, headerBytes, header)) {
        return false;
    }
    reader.headerRead = true;
    return true;
}

bool openTable(ContainerReader& reader, const SecureBuffer& masterKey, RandomGenerator* generator,
               CipherAlgorithm cipher, uint32_t& count) {
    if (!reader.headerRead || reader.tableRead || reader.nextIndex != 0) return false;
    sessionInit(reader.session, masterKey, generator, cipher);
    uint32_t tableBytes = 0;
    SecureBuffer table;
    if (!readU32(reader, tableBytes) || !readExact(reader, tableBytes, table) ||
        !sessionDecryptChunk(reader.session, table) || table.size() < 4) {
        return false;
    }
    const uint32_t n = load32Le(table.data());
    // Exactly one entry per chunk. Every table the writer makes is exact; accepting trailing bytes
    // would let a sealed chunk of the same file, whose payload starts with index 0, pass for a
    // table of no chunks.
    if (static_cast<uint64_t>(table.size()) != 4 + 4 * static_cast<uint64_t>(n)) return false;
    reader.sealedSizes.resize(n);
    for (uint32_t i = 0; i < n; ++i) reader.sealedSizes[i] = load32Le(table.data() + 4 + 4 * i);
    reader.chunkCount = n;
    reader.tableRead = true;
    count = n;
    return true;
}

bool readChunk(ContainerReader& reader, SecureBuffer& out) {
    out.wipe();
    if (!reader.tableRead || reader.nextIndex >= reader.chunkCount) return false;
    SecureBuffer chunk;
    if (!readExact(reader, reader.sealedSizes[reader.nextIndex], chunk) || !sessionDecryptChunk(reader.session, chunk) ||
        chunk.size() < CHUNK_INDEX_BYTES || load32Be(chunk.data()) != reader.nextIndex) {
        return false;
    }
    if (!chunk.eraseFront(CHUNK_INDEX_BYTES)) return false;
    ++reader.nextIndex;
    out = std::move(chunk);
    return true;
}

void closeReader(ContainerReader& reader) {
    (void)platformClose(reader.file);
    sessionRelease(reader.session);
    reader.sealedSizes.clear();
}

namespace {

// The decryption itself; with no target path it checks everything and writes nothing.
bool decryptInto(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                 const NativePath* targetPath, JobResult& result) {
    ContainerReader reader;
    ScopeExit releaseReader([&] { closeReader(reader); });
    SecureBuffer header;
    if (!openReader(reader, sourcePath) || !readHeaderBytes(reader, header)) return fail(result, RESULT_READ_ERROR);

    SecureBuffer masterKey;
    KeyMode keyMode = KEY_MODE_RAW;
    if (!masterKeyFromJobKey(key, DIRECTION_DECRYPT, masterKey, keyMode, result)) return false;
    bool compressed = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    if (!parseHeader(header, keyMode, key.material, masterKey, compressed, cipher, result)) return false;
    header.wipe();

    uint32_t chunkCount = 0;
    if (!openTable(reader, masterKey, options.generator, cipher, chunkCount)) return fail(result, RESULT_READ_ERROR);
    masterKey.wipe();

    // The target is checked as soon as it is made, so that even a container with no chunks
    // reports a target that cannot be written.
    TargetFile target;
    if (targetPath != nullptr && !targetCreate(target, *targetPath)) return fail(result, RESULT_WRITE_ERROR);

    for (uint32_t i = 0; i < chunkCount; ++i) {
        SecureBuffer chunk;
        if (!readChunk(reader, chunk)) return fail(result, RESULT_READ_ERROR);
        if (compressed && !chunk.empty() && !decompressBlock(chunk)) return fail(result, RESULT_READ_ERROR);
        if (targetPath != nullptr && !platformWrite(target.file, chunk.data(), chunk.size())) {
            return fail(result, RESULT_WRITE_ERROR);
        }
        reportChunkFinished(options.progress, i, chunkCount);
        if (isCancelRequested(options.progress)) return fail(result, RESULT_CANCELLED);
    }
    if (targetPath != nullptr && !targetCommit(target)) return fail(result, RESULT_WRITE_ERROR);
    return true;
}

}  // namespace

bool decryptJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                const NativePath& targetPath, JobResult& result) {
    return decryptInto(options, key, sourcePath, &targetPath, result);
}

bool verifyJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath, JobResult& result) {
    return decryptInto(options, key, sourcePath, nullptr, result);
}

bool decryptFile(const PipelineOptions& options, KeyMethod keyMethod, const SecureBuffer& keyFileKey,
                 const SecureBuffer& passphrase, const SecureBuffer& keyCode, const NativePath& sourcePath,
                 const NativePath& targetPath, JobResult& result) {
    return decryptJob(options, jobKeyFromBuffers(keyMethod, keyFileKey, passphrase, keyCode), sourcePath, targetPath,
                      result);
}

bool describeContainer(const NativePath& path, ContainerDescription& description) {
    ContainerReader reader;
    ScopeExit releaseReader([&] { closeReader(reader); });
    SecureBuffer header;
    if (!openReader(reader, path)) return false;
    description.fileSize = reader.remaining;
    if (!readHeaderBytes(reader, header) || !readU32(reader, description.tableSize)) return false;
    description.headerSize = header.size();
    return describeHeader(header, description.fields);
}
