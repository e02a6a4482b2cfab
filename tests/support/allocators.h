// Allocators that tests install under SecureBuffer: one records the largest request, one refuses
// large requests as an exhausted heap would, one audits that every region comes back wiped. Both pass the rest on to malloc and free, which is
// what SecureBuffer uses otherwise, so buffers made before or after one is installed are released
// correctly either way.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/secure_buffer.h"

namespace testsupport {

// Records the largest single request made while it is installed.
class LargestRequestRecorder {
public:
    LargestRequestRecorder() {
        largest() = 0;
        previous_ = setSecureBufferAllocator({obtain, release});
    }
    ~LargestRequestRecorder() { setSecureBufferAllocator(previous_); }
    LargestRequestRecorder(const LargestRequestRecorder&) = delete;
    LargestRequestRecorder& operator=(const LargestRequestRecorder&) = delete;

    // Stays readable after the recorder has ended.
    static size_t largestRequest() { return largest(); }

private:
    // Worker threads of the pipelines allocate too.
    static std::atomic<size_t>& largest() {
        static std::atomic<size_t> bytes{0};
        return bytes;
    }
    static void* obtain(size_t bytes) {
        size_t seen = largest().load();
        while (bytes > seen && !largest().compare_exchange_weak(seen, bytes)) {}
        return std::malloc(bytes);
    }
    static void release(void* memory, size_t) { std::free(memory); }

    SecureBufferAllocator previous_;
};

// Refuses every request of more than limitBytes while it is installed.
template <size_t limitBytes>
class RefusingLargeRequests {
public:
    RefusingLargeRequests() { previous_ = setSecureBufferAllocator({obtain, release}); }
    ~RefusingLargeRequests() { setSecureBufferAllocator(previous_); }
    RefusingLargeRequests(const RefusingLargeRequests&) = delete;
    RefusingLargeRequests& operator=(const RefusingLargeRequests&) = delete;

private:
    static void* obtain(size_t bytes) { return bytes > limitBytes ? nullptr : std::malloc(bytes); }
    static void release(void* memory, size_t) { std::free(memory); }

    SecureBufferAllocator previous_;
};

// Routes SecureBuffer's memory through a counting allocator for its lifetime and records any
// region given back with a non-zero byte in it. SecureBuffer requires that allocators change
// only while no buffer lives: construct it before the test's first buffer and let it end after
// the last one.
class AllocationAudit {
public:
    AllocationAudit() {
        counters().obtained = 0;
        counters().released = 0;
        counters().releasedWithData = 0;
        previous_ = setSecureBufferAllocator({obtain, release});
    }
    ~AllocationAudit() { setSecureBufferAllocator(previous_); }
    AllocationAudit(const AllocationAudit&) = delete;
    AllocationAudit& operator=(const AllocationAudit&) = delete;

    static int64_t outstanding() { return counters().obtained.load() - counters().released.load(); }
    static int64_t releasedWithData() { return counters().releasedWithData.load(); }
    static int64_t released() { return counters().released.load(); }

private:
    struct Counters {
        std::atomic<int64_t> obtained{0};
        std::atomic<int64_t> released{0};
        std::atomic<int64_t> releasedWithData{0};
    };
    static Counters& counters() {
        static Counters state;
        return state;
    }
    static void* obtain(size_t bytes) {
        ++counters().obtained;
        return std::malloc(bytes);
    }
    static void release(void* memory, size_t bytes) {
        const auto* p = static_cast<const uint8_t*>(memory);
        for (size_t i = 0; i < bytes; ++i) {
            if (p[i] != 0) {
                ++counters().releasedWithData;
                break;
            }
        }
        ++counters().released;
        std::free(memory);
    }

    SecureBufferAllocator previous_{};
};

}  // namespace testsupport
