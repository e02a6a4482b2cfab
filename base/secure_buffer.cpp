// SecureBuffer and the wipe primitive. Memory is never reallocated in place: growing or
// shrinking copies into a fresh allocation and wipes the old one, so no allocator ever sees data.

#include "base/secure_buffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

void* obtainFromHeap(size_t bytes) { return std::malloc(bytes); }
void releaseToHeap(void* memory, size_t) { std::free(memory); }

SecureBufferAllocator currentAllocator = {obtainFromHeap, releaseToHeap};

[[noreturn]] void fail() { throw 0; }

// Memory for count > 0 bytes as the allocator gives it, after up to
// SECURE_BUFFER_ALLOCATION_ATTEMPTS tries.
uint8_t* obtainUnset(uint32_t count) {
    for (int attempt = 0; attempt < SECURE_BUFFER_ALLOCATION_ATTEMPTS; ++attempt) {
        void* memory = currentAllocator.obtain(count);
        if (memory != nullptr) return static_cast<uint8_t*>(memory);
    }
    fail();
}

void wipeAndRelease(uint8_t* memory, uint32_t count) {
    if (memory == nullptr) return;
    secureWipe(memory, count);
    currentAllocator.release(memory, count);
}

}  // namespace

void secureWipe(void* p, size_t n) {
    if (p == nullptr || n == 0) return;
#if defined(_WIN32)
    SecureZeroMemory(p, n);
#else
    explicit_bzero(p, n);
#endif
}

SecureBufferAllocator setSecureBufferAllocator(SecureBufferAllocator allocator) {
    SecureBufferAllocator previous = currentAllocator;
    currentAllocator = allocator;
    return previous;
}

uint32_t secureBufferGrownSize(uint32_t a, uint32_t b) {
    uint64_t total = static_cast<uint64_t>(a) + b;
    if (total > std::numeric_limits<uint32_t>::max()) fail();
    return static_cast<uint32_t>(total);
}

SecureBuffer::SecureBuffer(const uint8_t* bytes, uint32_t count) { assign(bytes, count); }

SecureBuffer::SecureBuffer(const SecureBuffer& other) { assign(other.bytes_, other.size_); }

SecureBuffer::SecureBuffer(SecureBuffer&& other) noexcept : bytes_(other.bytes_), size_(other.size_) {
    other.bytes_ = nullptr;
    other.size_ = 0;
}

SecureBuffer& SecureBuffer::operator=(const SecureBuffer& other) {
    assign(other);
    return *this;
}

SecureBuffer& SecureBuffer::operator=(SecureBuffer&& other) noexcept {
    if (this != &other) {
        wipe();
        bytes_ = other.bytes_;
        size_ = other.size_;
        other.bytes_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

SecureBuffer::~SecureBuffer() { wipe(); }

SecureBuffer SecureBuffer::copyOf(const SecureBuffer& other) { return SecureBuffer(other); }

SecureBuffer SecureBuffer::zeros(uint32_t count) {
    SecureBuffer result;
    result.allocate(count);
    return result;
}

SecureBuffer SecureBuffer::forOverwrite(uint32_t count) {
    SecureBuffer result;
    result.allocateForOverwrite(count);
    return result;
}

void SecureBuffer::allocate(uint32_t count) {
    allocateForOverwrite(count);
    if (size_ != 0) std::memset(bytes_, 0, size_);
}

void SecureBuffer::allocateForOverwrite(uint32_t count) {
    wipe();
    if (count == 0) return;
    bytes_ = obtainUnset(count);
    size_ = count;
}

void SecureBuffer::wipe() {
    wipeAndRelease(bytes_, size_);
    bytes_ = nullptr;
    size_ = 0;
}

void SecureBuffer::assign(const SecureBuffer& other) {
    if (this == &other) return;
    assign(other.bytes_, other.size_);
}

void SecureBuffer::assign(const uint8_t* bytes, uint32_t count) {
    // Obtain first so that a failed allocation leaves the old contents in place, and so that
    // bytes may point into this buffer.
    uint8_t* fresh = count == 0 ? nullptr : obtainUnset(count);
    if (fresh != nullptr) std::memcpy(fresh, bytes, count);
    wipe();
    bytes_ = fresh;
    size_ = count;
}

void SecureBuffer::reallocate(uint32_t newSize, uint32_t keep, uint32_t destination) {
    uint8_t* fresh = newSize == 0 ? nullptr : obtainUnset(newSize);
    if (fresh != nullptr) {  // the kept bytes, zeros on either side
        std::memset(fresh, 0, destination);
        if (keep != 0) std::memcpy(fresh + destination, bytes_, keep);
        std::memset(fresh + destination + keep, 0, newSize - destination - keep);
    }
    wipeAndRelease(bytes_, size_);
    bytes_ = fresh;
    size_ = newSize;
}

void SecureBuffer::resize(uint32_t count) {
    if (count == size_) return;
    reallocate(count, count < size_ ? count : size_, 0);
}

void SecureBuffer::append(const uint8_t* bytes, uint32_t count) {
    if (count == 0) return;
    uint32_t oldSize = size_;
    uint32_t newSize = secureBufferGrownSize(oldSize, count);
    uint8_t* fresh = obtainUnset(newSize);  // every byte is copied over
    if (oldSize != 0) std::memcpy(fresh, bytes_, oldSize);
    std::memcpy(fresh + oldSize, bytes, count);  // bytes may lie inside the old allocation
    wipeAndRelease(bytes_, size_);
    bytes_ = fresh;
    size_ = newSize;
}

void SecureBuffer::append(const SecureBuffer& other) { append(other.bytes_, other.size_); }

void SecureBuffer::appendZeros(uint32_t count) {
    if (count == 0) return;
    reallocate(secureBufferGrownSize(size_, count), size_, 0);
}

void SecureBuffer::prepend(const uint8_t* bytes, uint32_t count) {
    if (count == 0) return;
    uint32_t oldSize = size_;
    uint8_t* fresh = obtainUnset(secureBufferGrownSize(oldSize, count));  // every byte is copied over
    if (oldSize != 0) std::memcpy(fresh + count, bytes_, oldSize);
    std::memcpy(fresh, bytes, count);
    wipeAndRelease(bytes_, size_);
    bytes_ = fresh;
    size_ = oldSize + count;
}

void SecureBuffer::prependZeros(uint32_t count) {
    if (count == 0) return;
    reallocate(secureBufferGrownSize(size_, count), size_, count);
}

bool SecureBuffer::eraseFront(uint32_t count) {
    if (count == 0) return size_ == 0;
    if (count > size_) return false;
    if (count == size_) {
        wipe();
        return true;
    }
    uint32_t remaining = size_ - count;
    uint8_t* fresh = obtainUnset(remaining);
    std::memcpy(fresh, bytes_ + count, remaining);
    wipeAndRelease(bytes_, size_);
    bytes_ = fresh;
    size_ = remaining;
    return true;
}

SecureBuffer SecureBuffer::slice(uint32_t length, uint32_t index) const {
    SecureBuffer result;
    if (index >= size_) return result;
    uint32_t available = size_ - index;
    uint32_t count = length < available ? length : available;
    if (count != 0) result.assign(bytes_ + index, count);
    return result;
}

uint8_t& SecureBuffer::at(uint32_t i) {
    if (i >= size_) fail();
    return bytes_[i];
}

uint8_t SecureBuffer::at(uint32_t i) const {
    if (i >= size_) fail();
    return bytes_[i];
}

bool SecureBuffer::constantTimeEquals(const SecureBuffer& other) const {
    if (size_ != other.size_) return false;
    uint8_t accumulator = 0;
    for (uint32_t i = 0; i < size_; ++i) accumulator |= static_cast<uint8_t>(bytes_[i] ^ other.bytes_[i]);
    return accumulator == 0;
}
