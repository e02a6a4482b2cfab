// The encryption pipeline.

#include "container/encryption.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "codec/framing.h"
#include "container/chunk_pipeline.h"
#include "container/format.h"

namespace {

// A chunk in a slot is laid out as its sealed blob will be: IV, index, data, then room for the
// padding and the tag, so that it is sealed where it was read.
constexpr uint32_t SLOT_INDEX_OFFSET = SEALED_IV_BYTES;
constexpr uint32_t SLOT_DATA_OFFSET = SEALED_IV_BYTES + CHUNK_INDEX_BYTES;
// Chunks a Serpent sealer takes at once, one CBC lane each: Serpent's CBC encryption runs one
// block at a time per chain, and the SIMD lanes pay only with several chains side by side (about
// 200 MB/s per core with 4, 290 with 6, 360 with 8). Each lane is a 2 MiB chunk in memory, so the
// count is bounded by the memory a job may take.
constexpr uint32_t SERPENT_SEAL_LANES = 6;
// The same for AES: one CBC chain waits out each block's rounds (about 1.2 ns a byte with AES-NI,
// twice the MAC's time), and four chains side by side take that time together. Four is where the
// chains stop being the larger part of a chunk's sealing.
constexpr uint32_t AES_SEAL_LANES = 4;

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
    uint32_t chunks = 0;
    if (!chunkCountFor(size, chunks)) {
        // More chunks than a table can list: said as the system says a file too large.
        platformRecordFileTooLarge(PLATFORM_OPEN);
        sourceClose(reader);
        return false;
    }
    reader.remaining = size;
    reader.chunkCount = chunks;
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

bool sourceReadNextChunkInto(SourceReader& reader, uint8_t* data, uint32_t& count) {
    count = 0;
    if (!reader.valid || reader.remaining == 0 || !reader.file.valid) return false;
    const uint32_t wanted = reader.remaining < CHUNK_SIZE ? static_cast<uint32_t>(reader.remaining) : CHUNK_SIZE;
    uint32_t got = 0;
    if (!platformRead(reader.file, data, wanted, got) || got != wanted) return false;
    reader.remaining -= wanted;
    count = wanted;
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
    if (header.size() > MAX_HEADER_SIZE || chunkCount > MAX_CHUNKS) return false;
    const uint32_t tableBytes = tableAreaSize(chunkCount);
    if (!writeU32(writer.target.file, header.size()) || !targetWrite(writer.target, header.data(), header.size()) ||
        !writeU32(writer.target.file, tableBytes)) {
        return false;
    }
    SecureBuffer reserved = SecureBuffer::zeros(tableBytes);
    if (!targetWrite(writer.target, reserved.data(), reserved.size())) return false;
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
    if (!targetWrite(writer.target, sealed.data(), sealed.size())) return false;
    writer.sealedSizes.push_back(sealed.size());
    ++writer.nextIndex;
    return writer.nextIndex < writer.chunkCount || writeTable(writer);
}

bool writeSealedChunk(ContainerWriter& writer, const uint8_t* sealed, uint32_t sealedBytes) {
    if (!writer.valid || !writer.headerWritten || writer.nextIndex >= writer.chunkCount) return false;
    if (!targetWrite(writer.target, sealed, sealedBytes)) return false;
    writer.sealedSizes.push_back(sealedBytes);
    ++writer.nextIndex;
    return true;
}

bool writeTable(ContainerWriter& writer) {
    if (!writer.valid || !writer.headerWritten || writer.sealedSizes.size() != writer.chunkCount) return false;
    SecureBuffer table;
    if (writer.chunkCount > MAX_CHUNKS) return false;
    table.allocate(static_cast<uint32_t>(4 + 4 * uint64_t{writer.chunkCount}));
    store32Le(table.data(), writer.chunkCount);
    for (uint32_t i = 0; i < writer.chunkCount; ++i) store32Le(table.data() + 4 + 4 * i, writer.sealedSizes[i]);
    if (!sessionEncryptChunk(writer.session, table) || table.size() != tableAreaSize(writer.chunkCount)) {
        return false;
    }
    return platformSeek(writer.target.file, writer.tableOffset) &&
           targetWrite(writer.target, table.data(), table.size());
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

namespace {

// --- The parallel pipeline ---

// Reader thread: each chunk read into its slot behind room for the IV and its index, and its IV
// drawn, in chunk order; this is the only thread that draws from the generator while chunks are in
// flight. Stops after the chunk during which a cancel was seen.
void readAndDrawIvs(ChunkQueue& queue, SourceReader& source, CryptoSession& session, const JobProgress* progress) {
    for (ChunkSlot* slot = chunkQueueTakeFree(queue); slot != nullptr; slot = chunkQueueTakeFree(queue)) {
        try {
            const uint32_t wanted =
                source.remaining < CHUNK_SIZE ? static_cast<uint32_t>(source.remaining) : CHUNK_SIZE;
            chunkSlotReserve(*slot, static_cast<uint32_t>(sealedBlobBytes(CHUNK_INDEX_BYTES + wanted)));
            uint32_t count = 0;
            if (!sourceReadNextChunkInto(source, slot->storage.data() + SLOT_DATA_OFFSET, count)) {
                chunkSlotFail(*slot, RESULT_READ_ERROR);
            } else {
                slot->used = SLOT_DATA_OFFSET + count;
                slot->resultBytes = count;
                store32Be(slot->storage.data() + SLOT_INDEX_OFFSET, slot->index);
                // A refused IV fails the chunk only after its compression, as sealing would.
                slot->ivDrawn = sessionDrawIv(session, slot->storage.data());
            }
        } catch (...) {
            chunkSlotFail(*slot, RESULT_READ_ERROR);
        }
        chunkQueueSubmit(queue, *slot);
        if (isCancelRequested(progress)) break;
    }
    chunkQueueEndInput(queue);
}

// Replaces the slot's data by its compressed form, growing the slot when the codec's output is
// longer; the IV and index in front stay. The plaintext the compressed form does not cover is
// wiped.
[[nodiscard]] bool compressSlot(ChunkSlot& slot) {
    SecureBuffer data(slot.storage.data() + SLOT_DATA_OFFSET, slot.resultBytes);
    if (!compressBlock(data, METHOD_BLOCKSORT)) return false;
    const uint64_t needed = sealedBlobBytes(secureBufferGrownSize(CHUNK_INDEX_BYTES, data.size()));
    if (needed > UINT32_MAX) return false;
    if (slot.storage.size() < needed) {
        SecureBuffer grown = SecureBuffer::zeros(static_cast<uint32_t>(needed));
        std::memcpy(grown.data(), slot.storage.data(), SLOT_DATA_OFFSET);
        slot.storage = std::move(grown);
    }
    if (!data.empty()) std::memcpy(slot.storage.data() + SLOT_DATA_OFFSET, data.data(), data.size());
    if (data.size() < slot.resultBytes) {
        secureWipe(slot.storage.data() + SLOT_DATA_OFFSET + data.size(), slot.resultBytes - data.size());
    }
    slot.resultBytes = data.size();
    return true;
}

// Worker thread: compresses (when asked) and seals the chunks it takes, batch at a time; the
// batch's chunks are sealed together, in CBC lanes side by side. Failures stay with their chunk,
// in the order the one-thread pipeline meets them: compression, then the IV.
void compressAndSeal(ChunkQueue& queue, const CryptoSession& session, bool compress, uint32_t batch) {
    std::vector<ChunkSlot*> taken;
    std::vector<ChunkSlot*> sealing;
    std::vector<SealRegion> regions;
    taken.reserve(batch);
    sealing.reserve(batch);
    regions.reserve(batch);
    while (chunkQueueTakeWork(queue, batch, taken)) {
        sealing.clear();
        regions.clear();
        for (ChunkSlot* slot : taken) {
            try {
                if (compress && !compressSlot(*slot)) chunkSlotFail(*slot, RESULT_READ_ERROR);
            } catch (...) {
                chunkSlotFail(*slot, RESULT_READ_ERROR);
            }
            if (!slot->ivDrawn) chunkSlotFail(*slot, RESULT_WRITE_ERROR);
            if (slot->failed) continue;
            sealing.push_back(slot);
            regions.push_back(SealRegion{slot->storage.data(), CHUNK_INDEX_BYTES + slot->resultBytes});
        }
        JobResult sealFailure = RESULT_WRITE_ERROR;
        bool sealed = false;
        try {
            sealed = sessionSealInPlace(session, regions.data(), regions.size());
        } catch (...) {
            sealFailure = RESULT_READ_ERROR;
        }
        for (ChunkSlot* slot : sealing) {
            if (!sealed) {
                chunkSlotFail(*slot, sealFailure);
                continue;
            }
            slot->resultOffset = 0;
            slot->resultBytes = static_cast<uint32_t>(sealedBlobBytes(CHUNK_INDEX_BYTES + slot->resultBytes));
            if (slot->resultBytes > slot->used) slot->used = slot->resultBytes;
        }
        chunkQueueFinish(queue, taken);
    }
}

// Runs the chunks of a job whose header is written through the threads. PARALLEL_NOT_STARTED when
// the threads could not be started; nothing has been read or drawn then, and the caller goes on
// with one thread. Otherwise ok and result say how the job ended.
ParallelOutcome encryptChunksParallel(const PipelineOptions& options, uint32_t requestedWorkers, SourceReader& source,
                                      ContainerWriter& writer, bool& ok, JobResult& result) {
    const uint32_t chunkCount = writer.chunkCount;
    // Compressed chunks are sealed one at a time: the codec's time dwarfs the cipher's.
    const uint32_t batch = options.compress                   ? 1
                           : options.cipher == CIPHER_SERPENT ? SERPENT_SEAL_LANES
                                                              : AES_SEAL_LANES;
    // A slot holds a sealed chunk, and a compressed one also the codec's output.
    const uint64_t slotBytes = uint64_t{MAX_SEALED_CHUNK_BYTES} * (options.compress ? 2 : 1);
    const uint32_t workers = pipelineWorkersWithinBudget(requestedWorkers, batch, slotBytes);
    ChunkQueue queue;
    chunkQueueInit(queue, pipelineSlotCount(workers, batch), chunkCount);
    ChunkThreads threads(queue);
    const CryptoSession& session = writer.session;
    for (uint32_t w = 0; w < workers; ++w) {
        if (!threads.start(
                [&queue, &session, &options, batch] { compressAndSeal(queue, session, options.compress, batch); })) {
            threads.stopAndJoin();
            return PARALLEL_NOT_STARTED;
        }
    }
    // The reader starts last: until it runs, nothing has been read or drawn.
    if (!threads.start([&queue, &source, &writer, &options] {
            readAndDrawIvs(queue, source, writer.session, options.progress);
        })) {
        threads.stopAndJoin();
        return PARALLEL_NOT_STARTED;
    }

    ok = false;
    for (ChunkSlot* slot = chunkQueueTakeNext(queue); slot != nullptr; slot = chunkQueueTakeNext(queue)) {
        if (slot->failed) {
            result = slot->failure;
            return PARALLEL_RAN;
        }
        if (!writeSealedChunk(writer, slot->storage.data() + slot->resultOffset, slot->resultBytes)) {
            result = RESULT_WRITE_ERROR;
            return PARALLEL_RAN;
        }
        const uint32_t index = slot->index;
        chunkQueueRelease(queue, *slot);
        reportChunkFinished(options.progress, index, chunkCount);
        if (isCancelRequested(options.progress)) {
            result = RESULT_CANCELLED;
            return PARALLEL_RAN;
        }
    }
    if (chunkQueueAborted(queue, result)) return PARALLEL_RAN;
    if (writer.nextIndex != chunkCount) {
        result = RESULT_CANCELLED;
        return PARALLEL_RAN;
    }
    // Every chunk is written, so every thread is ending; the table's IV is drawn after the last
    // chunk's, as with one thread.
    threads.join();
    if (!writeTable(writer)) {
        result = RESULT_WRITE_ERROR;
        return PARALLEL_RAN;
    }
    ok = true;
    return PARALLEL_RAN;
}

}  // namespace

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

    // One chunk has nothing to overlap: threads would only add their start-up to a small file.
    const uint32_t workers = pipelineWorkerCount(options);
    if (workers > 1 && chunkCount > 1) {
        bool ok = false;
        if (encryptChunksParallel(options, workers, source, writer, ok, result) == PARALLEL_RAN) {
            if (!ok) return false;
            if (!commitWriter(writer)) return fail(result, RESULT_WRITE_ERROR);
            return true;
        }
    }
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
    return encryptJob(options, jobKeyFromBuffers(keyMethod, keyFileKey, passphrase, keyCode), sourcePath, targetPath,
                      result);
}
