// The encryption pipeline.

#include "container/encryption.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "codec/framing.h"
#include "container/format.h"

namespace {

bool writeU32(PlatformFile& file, uint32_t value) {
    uint8_t bytes[4];
    store32Le(bytes, value);
    return platformWrite(file, bytes, sizeof bytes);
}

bool fail(JobResult& result, JobResult code) {
    result = code;
    return false;
}

}  // namespace

bool sourceOpen(SourceReader& reader, const NativePath& path) {
    reader = SourceReader();
    uint64_t size = 0;
    if (!platformOpenRead(path, reader.file) || !platformFileSize(reader.file, size)) {
        sourceClose(reader);
        return false;
    }
    const uint64_t chunks = (size >> CHUNK_SHIFT) + ((size & (CHUNK_SIZE - 1)) != 0 ? 1 : 0);
    if (chunks > UINT32_MAX) {
        sourceClose(reader);
        return false;
    }
    reader.remaining = size;
    reader.chunkCount = static_cast<uint32_t>(chunks);
    reader.valid = true;
    return true;
}

bool sourceReadNextChunk(SourceReader& reader, SecureBuffer& out) {
    out.wipe();
    if (!reader.valid || reader.remaining == 0 || !reader.file.valid) return false;
    const uint32_t count = reader.remaining < CHUNK_SIZE ? static_cast<uint32_t>(reader.remaining) : CHUNK_SIZE;
    SecureBuffer chunk = SecureBuffer::zeros(count);
    uint32_t got = 0;
    if (!platformRead(reader.file, chunk.data(), count, got) || got != count) return false;
    reader.remaining -= count;
    out = std::move(chunk);
    return true;
}

void sourceClose(SourceReader& reader) {
    (void)platformClose(reader.file);
    reader.valid = false;
}

bool openWriter(ContainerWriter& writer, const SecureBuffer& masterKey, const NativePath& targetPath,
                RandomGenerator* generator, CipherAlgorithm cipher) {
    sessionInit(writer.session, masterKey, generator, cipher);
    if (!targetCreate(writer.target, targetPath)) return false;
    writer.valid = true;
    return true;
}

bool writeHeader(ContainerWriter& writer, const SecureBuffer& header, uint32_t chunkCount) {
    if (!writer.valid || !writer.target.file.valid || writer.headerWritten) return false;
    if (header.size() > MAX_HEADER_SIZE) return false;
    const uint32_t tableBytes = tableAreaSize(chunkCount);
    if (!writeU32(writer.target.file, header.size()) ||
        !platformWrite(writer.target.file, header.data(), header.size()) ||
        !writeU32(writer.target.file, tableBytes)) {
        return false;
    }
    SecureBuffer reserved = SecureBuffer::zeros(tableBytes);
    if (!platformWrite(writer.target.file, reserved.data(), reserved.size())) return false;
    writer.tableOffset = header.size() + 8;
    writer.chunkCount = chunkCount;
    writer.sealedSizes.clear();
    writer.sealedSizes.reserve(chunkCount);
    writer.headerWritten = true;
    return true;
}

bool writeChunk(ContainerWriter& writer, const SecureBuffer& data) {
    if (!writer.valid || !writer.headerWritten || writer.nextIndex >= writer.chunkCount) return false;
    // Each chunk carries its own index, most significant byte first, so chunks cannot be reordered.
    SecureBuffer sealed;
    sealed.allocate(secureBufferGrownSize(data.size(), 4));
    store32Be(sealed.data(), writer.nextIndex);
    if (!data.empty()) std::memcpy(sealed.data() + 4, data.data(), data.size());
    if (!sessionEncryptChunk(writer.session, sealed)) return false;
    if (!platformWrite(writer.target.file, sealed.data(), sealed.size())) return false;
    writer.sealedSizes.push_back(sealed.size());
    ++writer.nextIndex;
    return writer.nextIndex < writer.chunkCount || writeTable(writer);
}

bool writeTable(ContainerWriter& writer) {
    if (!writer.valid || !writer.headerWritten || writer.sealedSizes.size() != writer.chunkCount) return false;
    SecureBuffer table;
    table.allocate(secureBufferGrownSize(4, 4 * writer.chunkCount));
    store32Le(table.data(), writer.chunkCount);
    for (uint32_t i = 0; i < writer.chunkCount; ++i) store32Le(table.data() + 4 + 4 * i, writer.sealedSizes[i]);
    if (!sessionEncryptChunk(writer.session, table) || table.size() != tableAreaSize(writer.chunkCount)) {
        return false;
    }
    return platformSeek(writer.target.file, writer.tableOffset) &&
           platformWrite(writer.target.file, table.data(), table.size());
}

bool commitWriter(ContainerWriter& writer) {
    if (!writer.valid || !writer.headerWritten || writer.sealedSizes.size() != writer.chunkCount) return false;
    return targetCommit(writer.target);
}

void closeWriter(ContainerWriter& writer) {
    targetDiscard(writer.target);
    sessionRelease(writer.session);
    writer.sealedSizes.clear();
    writer.valid = false;
}

JobKey jobKeyFromBuffers(KeyMethod keyMethod, const SecureBuffer& keyFileKey, const SecureBuffer& passphrase,
                         const SecureBuffer& keyCode) {
    JobKey key;
    key.method = keyMethod;
    switch (keyMethod) {
    case KEY_FILE: key.material = keyFileKey; break;
    case KEY_CODE: key.material = keyCode; break;
    case PASSPHRASE: key.material = passphrase; break;
    }
    return key;
}

bool encryptJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                const NativePath& targetPath, JobResult& result) {
    SourceReader source;
    ScopeExit closeSource([&] { sourceClose(source); });
    if (!sourceOpen(source, sourcePath)) return fail(result, RESULT_READ_ERROR);
    const uint32_t chunkCount = source.chunkCount;

    SecureBuffer masterKey;
    KeyMode keyMode = KEY_MODE_RAW;
    if (!masterKeyFromJobKey(key, DIRECTION_ENCRYPT, masterKey, keyMode, result)) return false;
    SecureBuffer header;
    if (!buildHeader(masterKey, options, keyMode, key.material, header, result)) return false;

    ContainerWriter writer;
    ScopeExit releaseWriter([&] { closeWriter(writer); });
    if (!openWriter(writer, masterKey, targetPath, options.generator, options.cipher) ||
        !writeHeader(writer, header, chunkCount)) {
        return fail(result, RESULT_WRITE_ERROR);
    }
    masterKey.wipe();
    header.wipe();
    if (chunkCount == 0 && !writeTable(writer)) return fail(result, RESULT_WRITE_ERROR);

    for (uint32_t i = 0; i < chunkCount; ++i) {
        SecureBuffer chunk;
        if (!sourceReadNextChunk(source, chunk)) return fail(result, RESULT_READ_ERROR);
        if (options.compress && !compressBlock(chunk, METHOD_BLOCKSORT)) return fail(result, RESULT_READ_ERROR);
        if (!writeChunk(writer, chunk)) return fail(result, RESULT_WRITE_ERROR);
        reportChunkFinished(options.progress, i, chunkCount);
        if (isCancelRequested(options.progress)) return fail(result, RESULT_CANCELLED);
    }
    if (!commitWriter(writer)) return fail(result, RESULT_WRITE_ERROR);
    return true;
}

bool encryptFile(const PipelineOptions& options, KeyMethod keyMethod, const SecureBuffer& keyFileKey,
                 const SecureBuffer& passphrase, const SecureBuffer& keyCode, const NativePath& sourcePath,
                 const NativePath& targetPath, JobResult& result) {
    return encryptJob(options, jobKeyFromBuffers(keyMethod, keyFileKey, passphrase, keyCode), sourcePath,
                      targetPath, result);
}
