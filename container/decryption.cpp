// The decryption pipeline.

#include "container/decryption.h"

#include <utility>

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "codec/framing.h"
#include "container/chunk_pipeline.h"
#include "container/encryption.h"
#include "container/target_file.h"

namespace {

// The smallest sealed blob: IV, one padded block, tag.
constexpr uint32_t MIN_SEALED_BYTES = SEALED_OVERHEAD_BYTES + CIPHER_BLOCK_BYTES;
// The table's tag is checked over pieces of at most this size.
constexpr uint32_t TABLE_PIECE_BYTES = 65536;

bool readU32(ContainerReader& reader, uint32_t& value) {
    SecureBuffer bytes;
    if (!readExact(reader, 4, bytes)) return false;
    value = load32Le(bytes.data());
    return true;
}

// Whether a table of tableBytes can be a sealed table of a container with remaining bytes after
// the table size field: a sealed blob's size, within the file, and no larger than the table of as
// many chunks as the bytes behind it could hold.
bool tableSizeFits(uint32_t tableBytes, uint64_t remaining) {
    if (tableBytes < MIN_SEALED_BYTES || (tableBytes - SEALED_OVERHEAD_BYTES) % CIPHER_BLOCK_BYTES != 0 ||
        tableBytes > remaining) {
        return false;
    }
    const uint64_t mostChunks = (remaining - tableBytes) / MIN_SEALED_BYTES;
    // A sealed payload of a count and one size per chunk, in 64 bits.
    const uint64_t largestTable = sealedBlobBytes(4 * mostChunks + 4);
    return tableBytes <= largestTable;
}

// Reads the tableBytes of the sealed table and checks its tag, keeping nothing of it.
bool tableTagHolds(ContainerReader& reader, uint32_t tableBytes) {
    SealedTagStream stream;
    if (!sessionTagStart(reader.session, stream)) return false;
    const uint32_t authenticated = tableBytes - SEALED_TAG_BYTES;
    SecureBuffer piece = SecureBuffer::zeros(authenticated < TABLE_PIECE_BYTES ? authenticated : TABLE_PIECE_BYTES);
    for (uint32_t done = 0; done < authenticated;) {
        const uint32_t count = authenticated - done < piece.size() ? authenticated - done : piece.size();
        if (!readExactInto(reader, piece.data(), count)) return false;
        sessionTagAbsorb(stream, piece.data(), count);
        done += count;
    }
    SecureBuffer tag;
    return readExact(reader, SEALED_TAG_BYTES, tag) && sessionTagMatches(reader.session, stream, tag);
}

}  // namespace

bool openReader(ContainerReader& reader, const NativePath& path) {
    uint64_t size = 0;
    if (!platformOpenRead(path, reader.file) || !platformFileSize(reader.file, size)) {
        (void)platformClose(reader.file);
        return false;
    }
    reader.fileSize = size;
    reader.remaining = size;
    return true;
}

bool readExactInto(ContainerReader& reader, uint8_t* data, uint32_t count) {
    if (count > reader.remaining) return false;
    uint32_t got = 0;
    if (count != 0 && (!platformRead(reader.file, data, count, got) || got != count)) return false;
    reader.remaining -= count;
    return true;
}

bool readExact(ContainerReader& reader, uint32_t count, SecureBuffer& out) {
    out.wipe();
    if (count > reader.remaining) return false;
    SecureBuffer bytes = SecureBuffer::zeros(count);
    if (!readExactInto(reader, bytes.data(), count)) return false;
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
    if (!reader.headerRead || reader.tableRead) return false;
    sessionInit(reader.session, masterKey, generator, cipher);
    uint32_t tableBytes = 0;
    if (!readU32(reader, tableBytes) || !tableSizeFits(tableBytes, reader.remaining)) return false;
    // Checked once in pieces, then read again whole; the second reading is checked again, so a file
    // that changes in between is refused rather than trusted.
    const uint64_t tableStart = reader.fileSize - reader.remaining;
    if (!tableTagHolds(reader, tableBytes) || !platformSeek(reader.file, tableStart)) return false;
    reader.remaining += tableBytes;
    SecureBuffer table;
    if (!readExact(reader, tableBytes, table) || !sessionDecryptChunk(reader.session, table) || table.size() < 4) {
        return false;
    }
    const uint32_t n = load32Le(table.data());
    // Exactly one entry per chunk. Every table the writer makes is exact; accepting trailing bytes
    // would let a sealed chunk of the same file, whose payload starts with index 0, pass for a
    // table of no chunks.
    if (static_cast<uint64_t>(table.size()) != 4 + 4 * static_cast<uint64_t>(n)) return false;
    reader.sealedSizes.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        reader.sealedSizes[i] = load32Le(table.data() + 4 + 4 * i);
        // No writer makes a larger chunk; a slot must never be asked for more.
        if (reader.sealedSizes[i] > MAX_SEALED_CHUNK_BYTES) {
            reader.sealedSizes.clear();
            return false;
        }
    }
    reader.chunkCount = n;
    reader.tableRead = true;
    count = n;
    return true;
}

void closeReader(ContainerReader& reader) {
    (void)platformClose(reader.file);
    sessionRelease(reader.session);
    reader.sealedSizes.clear();
}

namespace {

// --- The chunk stage: the same functions with worker threads or without ---

// Reads the slot's sealed chunk, the next in the file: the reader's part, in chunk order. A
// failure stays with the slot.
void readSealedChunkIntoSlot(ChunkSlot& slot, ContainerReader& reader) {
    try {
        const uint32_t sealedBytes = reader.sealedSizes[slot.index];
        // A size beyond the file would ask for memory the file cannot fill.
        if (sealedBytes > reader.remaining) {
            chunkSlotFail(slot, RESULT_READ_ERROR);
            return;
        }
        chunkSlotReserve(slot, sealedBytes);
        if (!readExactInto(reader, slot.storage.data(), sealedBytes)) {
            chunkSlotFail(slot, RESULT_READ_ERROR);
            return;
        }
        slot.used = sealedBytes;
    } catch (...) {
        chunkSlotFail(slot, RESULT_READ_ERROR);
    }
}

// Opens one chunk in its slot: tag, decryption, its own index, then the codec when the container
// is compressed, with the worker's scratch. False for any of them; the slot's bytes are wiped
// then.
bool openSlot(const CryptoSession& session, bool compressed, CodecScratch& scratch, ChunkSlot& slot) {
    uint32_t payloadBytes = 0;
    if (!openChunk(session, slot.storage.data(), slot.used, payloadBytes)) return false;
    if (!chunkIndexMatches(slot.storage.data() + SEALED_IV_BYTES, payloadBytes, slot.index)) {
        secureWipe(slot.storage.data(), slot.used);
        return false;
    }
    slot.resultOffset = SEALED_IV_BYTES + CHUNK_INDEX_BYTES;
    slot.resultBytes = payloadBytes - CHUNK_INDEX_BYTES;
    if (compressed && slot.resultBytes != 0) {
        // The slot's produced buffer keeps its memory from its last chunk (a full chunk is
        // always 2 MiB), so a long file does not fault in fresh pages for every chunk.
        if (!decompressBlock(slot.storage.data() + slot.resultOffset, slot.resultBytes, slot.produced, scratch)) {
            secureWipe(slot.storage.data(), slot.used);
            return false;
        }
    }
    return true;
}

// The worker's part for one slot that has not failed: a failure to open stays with the slot.
void openSlotOrFail(const CryptoSession& session, bool compressed, CodecScratch& scratch, ChunkSlot& slot) {
    if (slot.failed) return;
    try {
        if (!openSlot(session, compressed, scratch, slot)) chunkSlotFail(slot, RESULT_READ_ERROR);
    } catch (...) {
        chunkSlotFail(slot, RESULT_READ_ERROR);
    }
}

// Writes the slot's plaintext to target (null: nothing is written), or gives the failure that
// stays with the slot.
bool writeOpenedSlot(TargetFile* target, bool compressed, const ChunkSlot& slot, JobResult& result) {
    if (slot.failed) return failJob(result, slot.failure);
    if (target == nullptr) return true;
    const bool fromCodec = compressed && slot.resultBytes != 0;
    const uint8_t* data = fromCodec ? slot.produced.data() : slot.storage.data() + slot.resultOffset;
    const uint32_t bytes = fromCodec ? slot.produced.size() : slot.resultBytes;
    if (!targetWrite(*target, data, bytes)) return failJob(result, RESULT_WRITE_ERROR);
    return true;
}

// Every chunk through the stage on this thread, one after the other.
bool decryptChunksInOrder(const PipelineOptions& options, ContainerReader& reader, bool compressed, TargetFile* target,
                          JobResult& result) {
    // The codec's working memory and output stay from chunk to chunk (wiped, not released).
    CodecScratch scratch;
    return runChunksInOrder(
        reader.chunkCount, options.progress,
        [&](ChunkSlot& slot, JobResult& failure) {
            readSealedChunkIntoSlot(slot, reader);
            openSlotOrFail(reader.session, compressed, scratch, slot);
            return writeOpenedSlot(target, compressed, slot, failure);
        },
        result);
}

// --- The same stage on threads ---

// Reader thread: the sealed chunks in file order, each into a slot, as long as the file holds them.
// Stops after the chunk during which a cancel was seen.
void readSealedChunks(ChunkQueue& queue, ContainerReader& reader, const JobProgress* progress) {
    for (ChunkSlot* slot = chunkQueueTakeFree(queue); slot != nullptr; slot = chunkQueueTakeFree(queue)) {
        readSealedChunkIntoSlot(*slot, reader);
        chunkQueueSubmit(queue, *slot);
        if (isCancelRequested(progress)) break;
    }
    chunkQueueEndInput(queue);
}

// Worker thread: opens the chunks it takes, one at a time (CBC decryption runs many blocks at
// once within a chunk).
void openChunks(ChunkQueue& queue, const CryptoSession& session, bool compressed) {
    std::vector<ChunkSlot*> taken;
    taken.reserve(1);
    // The codec's working memory stays with the thread from chunk to chunk, wiped after each.
    CodecScratch scratch;
    while (chunkQueueTakeWork(queue, 1, taken)) {
        for (ChunkSlot* slot : taken) openSlotOrFail(session, compressed, scratch, *slot);
        chunkQueueFinish(queue, taken);
    }
}

// Runs the chunks of a container whose table is read through the threads; target is null when
// nothing is written. PARALLEL_NOT_STARTED when the threads could not be started; nothing has been
// read then. Otherwise ok and result say how the job ended.
ParallelOutcome decryptChunksParallel(const PipelineOptions& options, uint32_t requestedWorkers,
                                      ContainerReader& reader, bool compressed, TargetFile* target, bool& ok,
                                      JobResult& result) {
    const uint32_t chunkCount = reader.chunkCount;
    // A slot holds a sealed chunk, and a compressed one also the codec's output.
    const uint64_t slotBytes = uint64_t{MAX_SEALED_CHUNK_BYTES} + (compressed ? CHUNK_SIZE : 0);
    const uint32_t workers = pipelineWorkersWithinBudget(requestedWorkers, 1, slotBytes);
    ChunkQueue queue;
    // One slot per worker. A second one, to let the reader run a chunk ahead, halved AES decryption
    // in side-by-side runs on two cores (450 MB/s against 1.1 GB/s) and gained nothing on Serpent or
    // compressed chunks.
    chunkQueueInit(queue, pipelineSlotCount(workers, 1), chunkCount);
    ChunkThreads threads(queue);
    const CryptoSession& session = reader.session;
    for (uint32_t w = 0; w < workers; ++w) {
        if (!threads.start([&queue, &session, compressed] { openChunks(queue, session, compressed); })) {
            threads.stopAndJoin();
            return PARALLEL_NOT_STARTED;
        }
    }
    if (!threads.start([&queue, &reader, &options] { readSealedChunks(queue, reader, options.progress); })) {
        threads.stopAndJoin();
        return PARALLEL_NOT_STARTED;
    }

    ok = chunkQueueWriteInOrder(
        queue, options.progress,
        [&](ChunkSlot& slot, JobResult& failure) { return writeOpenedSlot(target, compressed, slot, failure); },
        result);
    if (!ok) return PARALLEL_RAN;
    threads.join();
    return PARALLEL_RAN;
}

// Where a decryption's plaintext goes.
enum DecryptOutput { OUTPUT_NOTHING, OUTPUT_FILE, OUTPUT_STANDARD };

// The decryption itself; with OUTPUT_NOTHING it checks everything and writes nothing, with
// OUTPUT_FILE it writes to targetPath.
bool decryptInto(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath, DecryptOutput output,
                 const NativePath* targetPath, JobResult& result) {
    ContainerReader reader;
    ScopeExit releaseReader([&] { closeReader(reader); });
    SecureBuffer header;
    if (!openReader(reader, sourcePath) || !readHeaderBytes(reader, header)) return failJob(result, RESULT_READ_ERROR);

    SecureBuffer masterKey;
    KeyMode keyMode = KEY_MODE_RAW;
    if (!masterKeyFromJobKey(key, DIRECTION_DECRYPT, masterKey, keyMode, result)) return false;
    bool compressed = false;
    CipherAlgorithm cipher = CIPHER_AES256;
    if (!parseHeader(header, keyMode, key.material, masterKey, compressed, cipher, result)) return false;
    header.wipe();

    uint32_t chunkCount = 0;
    if (!openTable(reader, masterKey, options.generator, cipher, chunkCount)) return failJob(result, RESULT_READ_ERROR);
    masterKey.wipe();

    // The target is checked as soon as it is made, so that even a container with no chunks
    // reports a target that cannot be written.
    TargetFile target;
    if (output == OUTPUT_FILE && !targetCreate(target, *targetPath)) return failJob(result, RESULT_WRITE_ERROR);
    if (output == OUTPUT_STANDARD && !targetOpenStandardOutput(target)) return failJob(result, RESULT_WRITE_ERROR);
    const bool writes = output != OUTPUT_NOTHING;

    // One chunk has nothing to overlap: threads would only add their start-up to a small file.
    const uint32_t workers = pipelineWorkerCount(options);
    TargetFile* written = writes ? &target : nullptr;
    bool ok = false;
    if (workers <= 1 || chunkCount <= 1 ||
        decryptChunksParallel(options, workers, reader, compressed, written, ok, result) == PARALLEL_NOT_STARTED) {
        ok = decryptChunksInOrder(options, reader, compressed, written, result);
    }
    if (!ok) return false;
    if (writes && !targetCommit(target)) return failJob(result, RESULT_WRITE_ERROR);
    return true;
}

}  // namespace

bool decryptJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                const NativePath& targetPath, JobResult& result) {
    return decryptInto(options, key, sourcePath, OUTPUT_FILE, &targetPath, result);
}

bool decryptToStandardOutput(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath,
                             JobResult& result) {
    return decryptInto(options, key, sourcePath, OUTPUT_STANDARD, nullptr, result);
}

bool verifyJob(const PipelineOptions& options, const JobKey& key, const NativePath& sourcePath, JobResult& result) {
    return decryptInto(options, key, sourcePath, OUTPUT_NOTHING, nullptr, result);
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
