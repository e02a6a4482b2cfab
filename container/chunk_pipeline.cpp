// The ordered chunk queue and its threads.

#include "container/chunk_pipeline.h"

#include <new>
#include <system_error>
#include <utility>

#include "base/scope_exit.h"

namespace {

uint32_t countSlots(const ChunkQueue& queue, ChunkSlotState state) {
    uint32_t count = 0;
    for (const ChunkSlot& slot : queue.slots) count += slot.state == state ? 1 : 0;
    return count;
}

// The pending slot with the lowest index, or null.
ChunkSlot* lowestPending(ChunkQueue& queue) {
    ChunkSlot* lowest = nullptr;
    for (ChunkSlot& slot : queue.slots) {
        if (slot.state == SLOT_PENDING && (lowest == nullptr || slot.index < lowest->index)) lowest = &slot;
    }
    return lowest;
}

void noteFailure(ChunkQueue& queue, const ChunkSlot& slot) {
    if (slot.failed && slot.index < queue.firstFailed) queue.firstFailed = slot.index;
}

}  // namespace

uint32_t pipelineWorkerCount(const PipelineOptions& options) {
    uint32_t workers = options.workers;
    if (workers == 0) {
        const unsigned processors = std::thread::hardware_concurrency();
        workers = processors == 0
                      ? 1
                      : static_cast<uint32_t>(processors < PIPELINE_MAX_WORKERS ? processors : PIPELINE_MAX_WORKERS);
    }
    return workers < PIPELINE_MAX_WORKERS ? workers : PIPELINE_MAX_WORKERS;
}

uint32_t pipelineSlotCount(uint32_t workerCount, uint32_t batch) { return workerCount * batch + 2; }

uint32_t pipelineWorkersWithinBudget(uint32_t workerCount, uint32_t batch, uint64_t slotBytes, uint64_t budgetBytes) {
    uint32_t workers = workerCount;
    while (workers > 1 && uint64_t{pipelineSlotCount(workers, batch)} * slotBytes > budgetBytes) --workers;
    return workers;
}

void chunkSlotStart(ChunkSlot& slot, uint32_t index) {
    slot.index = index;
    slot.used = 0;
    slot.resultOffset = 0;
    slot.resultBytes = 0;
    slot.ivDrawn = false;
    slot.failed = false;
    slot.failure = RESULT_READ_ERROR;
}

void chunkSlotClear(ChunkSlot& slot) {
    secureWipe(slot.storage.data(), slot.used);
    slot.used = 0;
    if (!slot.produced.empty()) secureWipe(slot.produced.data(), slot.produced.size());
}

void chunkSlotReserve(ChunkSlot& slot, uint32_t bytes) {
    if (slot.storage.size() >= bytes) return;
    slot.storage.allocate(bytes);
}

void chunkSlotFail(ChunkSlot& slot, JobResult result) {
    if (slot.failed) return;
    slot.failed = true;
    slot.failure = result;
}

void chunkQueueInit(ChunkQueue& queue, uint32_t slotCount, uint32_t chunkCount) {
    queue.slots = std::vector<ChunkSlot>(slotCount);
    queue.chunkCount = chunkCount;
    queue.submitted = 0;
    queue.nextToWrite = 0;
    queue.firstFailed = UINT32_MAX;
    queue.inputEnded = false;
    queue.stopped = false;
    queue.aborted = false;
}

ChunkSlot* chunkQueueTakeFree(ChunkQueue& queue) {
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        if (queue.stopped || queue.inputEnded || queue.submitted >= queue.chunkCount ||
            queue.firstFailed < queue.submitted) {
            return nullptr;
        }
        for (ChunkSlot& slot : queue.slots) {
            if (slot.state != SLOT_FREE) continue;
            slot.state = SLOT_FILLING;
            chunkSlotStart(slot, queue.submitted);
            return &slot;
        }
        queue.changed.wait(lock);
    }
}

void chunkQueueSubmit(ChunkQueue& queue, ChunkSlot& slot) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        slot.state = slot.failed ? SLOT_DONE : SLOT_PENDING;
        ++queue.submitted;
        noteFailure(queue, slot);
        if (slot.failed) queue.inputEnded = true;
    }
    queue.changed.notify_all();
}

void chunkQueueEndInput(ChunkQueue& queue) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.inputEnded = true;
    }
    queue.changed.notify_all();
}

bool chunkQueueTakeWork(ChunkQueue& queue, uint32_t most, std::vector<ChunkSlot*>& taken) {
    taken.clear();
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        if (queue.stopped) return false;
        const uint32_t pending = countSlots(queue, SLOT_PENDING);
        if (pending == 0 && queue.inputEnded) return false;
        // A batch smaller than most only when no more can come: the input has ended, or every
        // slot is taken and the reader waits for one.
        const bool noMoreSoon =
            queue.inputEnded || (countSlots(queue, SLOT_FREE) == 0 && countSlots(queue, SLOT_FILLING) == 0);
        if (pending >= most || (pending > 0 && noMoreSoon)) break;
        queue.changed.wait(lock);
    }
    while (taken.size() < most) {
        ChunkSlot* slot = lowestPending(queue);
        if (slot == nullptr) break;
        slot->state = SLOT_WORKING;
        taken.push_back(slot);
    }
    return true;
}

void chunkQueueFinish(ChunkQueue& queue, const std::vector<ChunkSlot*>& finished) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        for (ChunkSlot* slot : finished) {
            slot->state = SLOT_DONE;
            noteFailure(queue, *slot);
        }
    }
    queue.changed.notify_all();
}

ChunkSlot* chunkQueueTakeNext(ChunkQueue& queue) {
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        // Chunks finished before a stop still come out in order, so that an abort is reported
        // after the chunks before it, as the one-thread pipeline would.
        for (ChunkSlot& slot : queue.slots) {
            if (slot.state == SLOT_DONE && slot.index == queue.nextToWrite) return &slot;
        }
        if (queue.stopped) return nullptr;
        if (queue.inputEnded && queue.nextToWrite >= queue.submitted) return nullptr;
        queue.changed.wait(lock);
    }
}

void chunkQueueRelease(ChunkQueue& queue, ChunkSlot& slot) {
    // The wipe runs outside the lock; the slot is still the writer's.
    chunkSlotClear(slot);
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        slot.state = SLOT_FREE;
        ++queue.nextToWrite;
    }
    queue.changed.notify_all();
}

bool chunkQueueAborted(ChunkQueue& queue, JobResult& result) {
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (queue.aborted) result = queue.abortResult;
    return queue.aborted;
}

void chunkQueueStop(ChunkQueue& queue) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.stopped = true;
    }
    queue.changed.notify_all();
}

void chunkQueueAbort(ChunkQueue& queue, JobResult result) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (!queue.aborted) {
            queue.aborted = true;
            queue.abortResult = result;
        }
        queue.stopped = true;
    }
    queue.changed.notify_all();
}

bool chunkQueueWriteInOrder(ChunkQueue& queue, JobProgress* progress,
                            const std::function<bool(ChunkSlot&, JobResult&)>& write, JobResult& result) {
    uint32_t written = 0;
    for (ChunkSlot* slot = chunkQueueTakeNext(queue); slot != nullptr; slot = chunkQueueTakeNext(queue)) {
        if (!write(*slot, result)) return false;
        const uint32_t index = slot->index;
        chunkQueueRelease(queue, *slot);
        ++written;
        reportChunkFinished(progress, index, queue.chunkCount);
        if (isCancelRequested(progress)) return failJob(result, RESULT_CANCELLED);
    }
    if (chunkQueueAborted(queue, result)) return false;
    // The input ended early: the reader stops so only on a cancel.
    if (written != queue.chunkCount) return failJob(result, RESULT_CANCELLED);
    return true;
}

bool runChunksInOrder(uint32_t chunkCount, JobProgress* progress,
                      const std::function<bool(ChunkSlot&, JobResult&)>& stage, JobResult& result) {
    ChunkSlot slot;
    const ScopeExit clearSlot([&] { chunkSlotClear(slot); });
    for (uint32_t i = 0; i < chunkCount; ++i) {
        chunkSlotStart(slot, i);
        if (!stage(slot, result)) return false;
        chunkSlotClear(slot);
        reportChunkFinished(progress, i, chunkCount);
        if (isCancelRequested(progress)) return failJob(result, RESULT_CANCELLED);
    }
    return true;
}

bool ChunkThreads::start(std::function<void()> body) {
    ChunkQueue* queue = &queue_;
    try {
        threads_.emplace_back([queue, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // The buffer layer's 0, std::bad_alloc, or a system error from a lock: the job
                // fails, as it would had memory run out on the job's own thread.
                chunkQueueAbort(*queue, RESULT_READ_ERROR);
            }
        });
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void ChunkThreads::stopAndJoin() {
    chunkQueueStop(queue_);
    join();
}

void ChunkThreads::join() {
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
    threads_.clear();
}
