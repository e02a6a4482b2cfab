// Progress reporting and the cancel request between a running pipeline and its watcher.

#include "container/pipeline_records.h"

void reportChunkFinished(JobProgress* progress, uint32_t index, uint32_t total) {
    if (progress == nullptr) return;
    progress->lastFinishedChunk.store(index, std::memory_order_relaxed);
    progress->total.store(total, std::memory_order_relaxed);
}

bool isCancelRequested(const JobProgress* progress) {
    return progress != nullptr && progress->cancelRequested.load(std::memory_order_relaxed);
}
