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

bool writeU32(PlatformFile& file, uint32_t value) {
    uint8_t bytes[4];
    store32Le(bytes, value);
    return platformWrite(file, bytes, sizeof bytes);
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

// --- The chunk stage: the same functions with worker threads or without ---

// Reads the next chunk into the slot behind room for its IV and index, and draws its IV: the
// reader's part, in chunk order, and the only one that draws from the generator while chunks are
// in flight. A failure stays with the slot.
void readChunkIntoSlot(ChunkSlot& slot, SourceReader& source, CryptoSession& session) {
    try {
        const uint32_t wanted = source.remaining < CHUNK_SIZE ? static_cast<uint32_t>(source.remaining) : CHUNK_SIZE;
        chunkSlotReserve(slot, static_cast<uint32_t>(sealedBlobBytes(CHUNK_INDEX_BYTES + wanted)));
        uint32_t count = 0;
        if (!sourceReadNextChunkInto(source, slot.storage.data() + SLOT_DATA_OFFSET, count)) {
            chunkSlotFail(slot, RESULT_READ_ERROR);
            return;
        }
        slot.used = SLOT_DATA_OFFSET + count;
        slot.resultBytes = count;
        chunkIndexStore(slot.storage.data() + SLOT_INDEX_OFFSET, slot.index);
        // A refused IV fails the chunk only after its compression, in the order of the steps.
        slot.ivDrawn = sessionDrawIv(session, slot.storage.data());
    } catch (...) {
        chunkSlotFail(slot, RESULT_READ_ERROR);
    }
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

// The memory a sealer keeps from batch to batch.
struct SealBatch {
    std::vector<ChunkSlot*> sealing;
    std::vector<SealRegion> regions;
};

// Compresses (when asked) and seals the slots that have not failed; the batch's chunks are sealed
// together, in CBC lanes side by side. Failures stay with their chunk, in the order of the steps:
// compression, then the IV, then the sealing.
void compressAndSealSlots(const CryptoSession& session, bool compress, const std::vector<ChunkSlot*>& slots,
                          SealBatch& batch) {
    batch.sealing.clear();
    batch.regions.clear();
    for (ChunkSlot* slot : slots) {
        if (slot->failed) continue;
        try {
            if (compress && !compressSlot(*slot)) chunkSlotFail(*slot, RESULT_READ_ERROR);
        } catch (...) {
            chunkSlotFail(*slot, RESULT_READ_ERROR);
        }
        if (!slot->ivDrawn) chunkSlotFail(*slot, RESULT_WRITE_ERROR);
        if (slot->failed) continue;
        batch.sealing.push_back(slot);
        batch.regions.push_back(SealRegion{slot->storage.data(), CHUNK_INDEX_BYTES + slot->resultBytes});
    }
    if (batch.sealing.empty()) return;
    JobResult sealFailure = RESULT_WRITE_ERROR;
    bool sealed = false;
    try {
        sealed = sealChunks(session, batch.regions.data(), batch.regions.size());
    } catch (...) {
        sealFailure = RESULT_READ_ERROR;
    }
    for (ChunkSlot* slot : batch.sealing) {
        if (!sealed) {
            chunkSlotFail(*slot, sealFailure);
            continue;
        }
        slot->resultOffset = 0;
        slot->resultBytes = static_cast<uint32_t>(sealedBlobBytes(CHUNK_INDEX_BYTES + slot->resultBytes));
        if (slot->resultBytes > slot->used) slot->used = slot->resultBytes;
    }
}

// Appends the slot's sealed chunk to the container, or gives the failure that stays with it.
bool writeSlot(ContainerWriter& writer, const ChunkSlot& slot, JobResult& result) {
    if (slot.failed) return failJob(result, slot.failure);
    if (!writeSealedChunk(writer, slot.storage.data() + slot.resultOffset, slot.resultBytes)) {
        return failJob(result, RESULT_WRITE_ERROR);
    }
    return true;
}

// Every chunk through the stage on this thread, one after the other.
bool encryptChunksInOrder(const PipelineOptions& options, SourceReader& source, ContainerWriter& writer,
                          JobResult& result) {
    SealBatch batch;
    return runChunksInOrder(
        writer.chunkCount, options.progress,
        [&](ChunkSlot& slot, JobResult& failure) {
            readChunkIntoSlot(slot, source, writer.session);
            compressAndSealSlots(writer.session, options.compress, {&slot}, batch);
            return writeSlot(writer, slot, failure);
        },
        result);
}

// --- The same stage on threads ---

// Reader thread: the chunks in order, each into a free slot. Stops after the chunk during which a
// cancel was seen.
void readAndDrawIvs(ChunkQueue& queue, SourceReader& source, CryptoSession& session, const JobProgress* progress) {
    for (ChunkSlot* slot = chunkQueueTakeFree(queue); slot != nullptr; slot = chunkQueueTakeFree(queue)) {
        readChunkIntoSlot(*slot, source, session);
        chunkQueueSubmit(queue, *slot);
        if (isCancelRequested(progress)) break;
    }
    chunkQueueEndInput(queue);
}

// Worker thread: compresses and seals the chunks it takes, batch at a time.
void compressAndSeal(ChunkQueue& queue, const CryptoSession& session, bool compress, uint32_t batchSize) {
    std::vector<ChunkSlot*> taken;
    taken.reserve(batchSize);
    SealBatch batch;
    while (chunkQueueTakeWork(queue, batchSize, taken)) {
        compressAndSealSlots(session, compress, taken, batch);
        chunkQueueFinish(queue, taken);
    }
}

// Runs the chunks of a job whose header is written through the threads. PARALLEL_NOT_STARTED when
// the threads could not be started; nothing has been read or drawn then, and the caller goes on
// with one thread. Otherwise ok and result say how the chunks went; every thread has ended when
// they all went well.
ParallelOutcome encryptChunksParallel(const PipelineOptions& options, uint32_t requestedWorkers, SourceReader& source,
                                      ContainerWriter& writer, bool& ok, JobResult& result) {
    const uint32_t chunkCount = writer.chunkCount;
    // Compressed chunks are sealed one at a time: the codec's time dwarfs the cipher's. Stored ones
    // go to a sealer as many at once as the cipher wants CBC lanes, one lane each.
    const uint32_t batch = options.compress ? 1 : cipherLanesWanted(options.cipher);
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

    ok = chunkQueueWriteInOrder(
        queue, options.progress, [&](ChunkSlot& slot, JobResult& failure) { return writeSlot(writer, slot, failure); },
        result);
    if (!ok) return PARALLEL_RAN;
    // Every chunk is written, so every thread is ending; the table's IV is drawn after them.
    threads.join();
    return PARALLEL_RAN;
}

}  // namespace

bool encryptJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                const NativePath& targetPath, JobResult& result) {
    SourceReader source;
    ScopeExit closeSource([&] { sourceClose(source); });
    if (!sourceOpen(source, sourcePath)) return failJob(result, RESULT_READ_ERROR);
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
        return failJob(result, RESULT_WRITE_ERROR);
    }
    masterKey.wipe();
    header.wipe();

    // One chunk has nothing to overlap: threads would only add their start-up to a small file.
    const uint32_t workers = pipelineWorkerCount(options);
    bool ok = false;
    if (workers <= 1 || chunkCount <= 1 ||
        encryptChunksParallel(options, workers, source, writer, ok, result) == PARALLEL_NOT_STARTED) {
        ok = encryptChunksInOrder(options, source, writer, result);
    }
    if (!ok) return false;
    // The table's IV is drawn after every chunk's.
    if (!writeTable(writer) || !commitWriter(writer)) return failJob(result, RESULT_WRITE_ERROR);
    return true;
}

bool encryptFile(const PipelineOptions& options, KeyMethod keyMethod, const SecureBuffer& keyFileKey,
                 const SecureBuffer& passphrase, const SecureBuffer& keyCode, const NativePath& sourcePath,
                 const NativePath& targetPath, JobResult& result) {
    return encryptJob(options, jobKeyFromBuffers(keyMethod, keyFileKey, passphrase, keyCode), sourcePath, targetPath,
                      result);
}
