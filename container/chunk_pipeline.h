// How the pipelines run their chunk stage: a reader's part in chunk order, a worker's part in any
// order, a writer's part strictly in chunk order. With threads, a fixed set of chunk slots that the
// reader fills, workers process and the writer takes back, so that a failure, a progress report or
// a cancel is seen where it would be without them; without threads, the same parts one chunk after
// the other in one slot. Owns ChunkSlot, ChunkQueue and ChunkThreads; knows nothing of what the
// parts do to a chunk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/secure_buffer.h"
#include "container/pipeline_records.h"

// At most this many workers, whatever is asked or however many processors there are: each one
// keeps a few chunks in memory.
constexpr uint32_t PIPELINE_MAX_WORKERS = 64;

// The worker threads a job runs with: options.workers, or one per processor when that is 0;
// never fewer than 1 nor more than PIPELINE_MAX_WORKERS.
uint32_t pipelineWorkerCount(const PipelineOptions& options);

// The memory a job's chunk slots may take. A 32-bit process has 2 GiB of address space for
// everything (64 Serpent workers' slots alone would take about 780 MiB), so its workers are fewer
// when their slots would exceed 256 MiB; a 64-bit process is not limited.
constexpr uint64_t PIPELINE_SLOT_BUDGET_BYTES = sizeof(void*) < 8 ? uint64_t{256} << 20 : UINT64_MAX;

// workerCount, lowered until the slots of that many workers (pipelineSlotCount(workers, batch)
// slots of slotBytes each) fit budgetBytes; never below 1.
uint32_t pipelineWorkersWithinBudget(uint32_t workerCount, uint32_t batch, uint64_t slotBytes,
                                     uint64_t budgetBytes = PIPELINE_SLOT_BUDGET_BYTES);

// Slots for workerCount workers that each take up to batch chunks at once: every worker busy with
// a full batch, one chunk being read and one being written. Memory is this many chunks, whatever
// the file's size.
uint32_t pipelineSlotCount(uint32_t workerCount, uint32_t batch);

// How a pipeline's attempt to run its chunks on threads went: it ran (and decided the job), or the
// threads could not be started before anything was read, and the one-thread loop takes over.
enum ParallelOutcome : uint8_t { PARALLEL_RAN, PARALLEL_NOT_STARTED };

enum ChunkSlotState : uint8_t { SLOT_FREE, SLOT_FILLING, SLOT_PENDING, SLOT_WORKING, SLOT_DONE };

// One chunk in flight. Whoever took the slot from the queue owns its fields until it hands it on.
// storage is kept from chunk to chunk, so a job obtains its chunk memory once per slot; the bytes
// a chunk used are wiped when the slot is released, and all of it when the queue ends.
struct ChunkSlot {
    ChunkSlotState state = SLOT_FREE;
    uint32_t index = 0;
    SecureBuffer storage;
    uint32_t used = 0;          // bytes of storage the chunk occupies
    SecureBuffer produced;      // the codec's output; keeps its memory from chunk to chunk
    uint32_t resultOffset = 0;  // what the writer takes from storage when the codec made nothing
    uint32_t resultBytes = 0;
    bool ivDrawn = false;  // encryption: the reader drew this chunk's IV into storage
    bool failed = false;
    JobResult failure = RESULT_READ_ERROR;
};

// Readies the slot for chunk index: nothing used, no result, not failed. Its memory is kept.
void chunkSlotStart(ChunkSlot& slot, uint32_t index);

// Wipes what the slot's chunk used (storage up to used, and what the codec produced), keeping the
// memory for the next chunk.
void chunkSlotClear(ChunkSlot& slot);

// Makes sure slot.storage holds at least bytes bytes, keeping nothing of what it held. A larger
// buffer replaces it (the old one is wiped); a smaller need keeps the buffer.
void chunkSlotReserve(ChunkSlot& slot, uint32_t bytes);

// Marks the slot's chunk as failed with result, unless it has failed already: the first failure of
// a chunk decides.
void chunkSlotFail(ChunkSlot& slot, JobResult result);

// The queue. Every field is guarded by mutex; the slots' contents belong to their owner of the
// moment (reader while FILLING, a worker while WORKING, the writer after takeNext).
struct ChunkQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ChunkSlot> slots;
    uint32_t chunkCount = 0;  // chunks the job has
    uint32_t submitted = 0;   // chunks handed in by the reader, so the index of the next one
    uint32_t nextToWrite = 0;
    uint32_t firstFailed = UINT32_MAX;  // lowest index known to have failed
    bool inputEnded = false;
    bool stopped = false;
    bool aborted = false;  // a thread failed outside any chunk; abortResult says how
    JobResult abortResult = RESULT_READ_ERROR;
};

// Sets up slotCount empty slots for a job of chunkCount chunks. Only before any thread uses it.
void chunkQueueInit(ChunkQueue& queue, uint32_t slotCount, uint32_t chunkCount);

// Reader: a free slot for the next chunk (its index set), or null when the queue has stopped, every
// chunk has been handed in, or a chunk before the next one has failed (the job's result is then
// decided). Waits while every slot is in use.
ChunkSlot* chunkQueueTakeFree(ChunkQueue& queue);

// Reader: hands in the slot from chunkQueueTakeFree. A failed slot goes straight to the writer and
// ends the input: no chunk after a failed one is read.
void chunkQueueSubmit(ChunkQueue& queue, ChunkSlot& slot);

// Reader: no more chunks will come (all were read, or the reader stopped early).
void chunkQueueEndInput(ChunkQueue& queue);

// Worker: takes up to most handed-in chunks, lowest index first, into taken. Waits for most of
// them while more can come; takes fewer when the input has ended or every slot is full. False
// when there is no more work: the queue stopped, or the input ended and nothing is pending.
[[nodiscard]] bool chunkQueueTakeWork(ChunkQueue& queue, uint32_t most, std::vector<ChunkSlot*>& taken);

// Worker: the taken slots are processed (or failed); the writer may take them.
void chunkQueueFinish(ChunkQueue& queue, const std::vector<ChunkSlot*>& finished);

// Writer: the next chunk in order once it is finished, or null when the queue has stopped and it
// is not finished, or the input ended before it (queue.nextToWrite then tells how many came).
ChunkSlot* chunkQueueTakeNext(ChunkQueue& queue);

// Writer: the slot from chunkQueueTakeNext is written; wipes what the chunk used and frees it.
void chunkQueueRelease(ChunkQueue& queue, ChunkSlot& slot);

// Writer, after chunkQueueTakeNext gave null: true when a thread aborted the queue, with its
// result in result. Otherwise the input ended early, which the reader does only on a cancel.
[[nodiscard]] bool chunkQueueAborted(ChunkQueue& queue, JobResult& result);

// Stops the queue: every wait returns and every later call gets nothing.
void chunkQueueStop(ChunkQueue& queue);

// Stops the queue because a thread failed outside any one chunk (memory ran out in the reader,
// say); the writer reports result unless an earlier chunk's failure comes first.
void chunkQueueAbort(ChunkQueue& queue, JobResult result);

// Writer: takes every chunk back in order and hands it to write, which writes it or gives false
// with result set (a failed chunk's failure, say); releases it, reports it to progress and honours
// a cancel after it. True when all of the queue's chunks were written; otherwise result says why
// not: write's failure, a thread's abort, or RESULT_CANCELLED.
[[nodiscard]] bool chunkQueueWriteInOrder(ChunkQueue& queue, JobProgress* progress,
                                          const std::function<bool(ChunkSlot&, JobResult&)>& write, JobResult& result);

// The same stage without threads: chunkCount chunks one after the other in one slot. For each,
// the slot is started for its index and handed to stage, which reads, works and writes it or gives
// false with result set; then the slot is cleared, the chunk reported to progress and a cancel
// honoured (RESULT_CANCELLED). True when every chunk went through.
[[nodiscard]] bool runChunksInOrder(uint32_t chunkCount, JobProgress* progress,
                                    const std::function<bool(ChunkSlot&, JobResult&)>& stage, JobResult& result);

// The threads that serve one queue. Each body runs under a guard that turns anything thrown (the
// buffer layer's integer 0, std::bad_alloc) into chunkQueueAbort with RESULT_READ_ERROR, so no
// exception ends the process. The destructor stops the queue and joins every thread.
class ChunkThreads {
public:
    explicit ChunkThreads(ChunkQueue& queue) : queue_(queue) {}
    ChunkThreads(const ChunkThreads&) = delete;
    ChunkThreads& operator=(const ChunkThreads&) = delete;
    ~ChunkThreads() { stopAndJoin(); }

    // Starts body on a new thread. False when the system cannot start one.
    [[nodiscard]] bool start(std::function<void()> body);

    // Stops the queue and waits for every thread.
    void stopAndJoin();

    // Waits for every thread without stopping the queue: for when all of them will end by
    // themselves (the input has ended and every chunk has been written).
    void join();

private:
    ChunkQueue& queue_;
    std::vector<std::thread> threads_;
};
