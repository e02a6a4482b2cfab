// Allocators that tests install under SecureBuffer: one records the largest request, one refuses
// large requests as an exhausted heap would. Both pass the rest on to malloc and free, which is
// what SecureBuffer uses otherwise, so buffers made before or after one is installed are released
// correctly either way.
#pragma once

#include <cstddef>
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
    static size_t& largest() {
        static size_t bytes = 0;
        return bytes;
    }
    static void* obtain(size_t bytes) {
        if (bytes > largest()) largest() = bytes;
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

}  // namespace testsupport
