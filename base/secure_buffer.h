// SecureBuffer, the one owner of bytes in the system: zero-filled when obtained (unless the
// caller asks for memory it overwrites at once), zeroed before release. Also the one wipe
// primitive (secureWipe). Every failure throws the plain integer 0.
#pragma once

#include <cstddef>
#include <cstdint>

// Overwrites n bytes at p with zeros in a way the optimiser cannot remove.
void secureWipe(void* p, size_t n);

// Where SecureBuffer obtains and returns memory. release receives the byte count so that a test
// allocator can check that the memory it gets back is all zero.
struct SecureBufferAllocator {
    void* (*obtain)(size_t bytes);
    void (*release)(void* memory, size_t bytes);
};

// Installs an allocator for every later allocation and returns the previous one. Memory must be
// released through the allocator that obtained it, so tests switch only while no buffer lives.
SecureBufferAllocator setSecureBufferAllocator(SecureBufferAllocator allocator);

// Number of attempts made to obtain memory before an allocation throws.
constexpr int SECURE_BUFFER_ALLOCATION_ATTEMPTS = 6;

// Invariant: size() == 0 exactly when data() is null; the allocation is always exactly size()
// bytes. Copies are deep; a move leaves the source empty. Sizes and indexes are 32-bit.
// Any operation that would need more memory than can be had, index outside the buffer or make
// the size exceed 32 bits throws 0 and leaves the buffer with its old contents.
class SecureBuffer {
public:
    SecureBuffer() = default;
    SecureBuffer(const uint8_t* bytes, uint32_t count);
    SecureBuffer(const SecureBuffer& other);
    SecureBuffer(SecureBuffer&& other) noexcept;
    SecureBuffer& operator=(const SecureBuffer& other);
    SecureBuffer& operator=(SecureBuffer&& other) noexcept;
    ~SecureBuffer();

    static SecureBuffer copyOf(const SecureBuffer& other);
    static SecureBuffer zeros(uint32_t count);
    // count bytes whose contents are not set, for a caller that writes every byte before it
    // reads any. They never hold another buffer's data, since every buffer is wiped before its
    // memory is released; the memory is wiped on release as always.
    static SecureBuffer forOverwrite(uint32_t count);

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    uint32_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Wipes any old contents, then holds count zero bytes.
    void allocate(uint32_t count);
    // Wipes any old contents, then holds count bytes as forOverwrite gives them.
    void allocateForOverwrite(uint32_t count);
    // Zeroes every byte, releases the memory and leaves the buffer empty.
    void wipe();
    // Wipes, then copies. Assigning a buffer to itself keeps its contents.
    void assign(const SecureBuffer& other);
    void assign(const uint8_t* bytes, uint32_t count);
    // Shrinking zeroes the removed tail before it is released; growing adds zero bytes.
    void resize(uint32_t count);
    void append(const uint8_t* bytes, uint32_t count);
    void append(const SecureBuffer& other);
    void appendZeros(uint32_t count);
    void prepend(const uint8_t* bytes, uint32_t count);
    void prependZeros(uint32_t count);
    // Removes the first count bytes. count == size() wipes the buffer; count == 0 succeeds only
    // on an empty buffer; count > size() fails. On failure nothing changes.
    [[nodiscard]] bool eraseFront(uint32_t count);
    // The bytes from index on, at most length of them; empty when index >= size().
    SecureBuffer slice(uint32_t length, uint32_t index) const;
    // Byte i; throws when i >= size().
    uint8_t& at(uint32_t i);
    uint8_t at(uint32_t i) const;
    // False at once for different sizes; otherwise compares every byte with no early exit.
    [[nodiscard]] bool constantTimeEquals(const SecureBuffer& other) const;

private:
    // Replaces the allocation with a fresh one of newSize bytes holding keep bytes of the old
    // contents at offset destination; the old memory is wiped and released.
    void reallocate(uint32_t newSize, uint32_t keep, uint32_t destination);

    uint8_t* bytes_ = nullptr;
    uint32_t size_ = 0;
};

// Size of a + b, or throws 0 when it does not fit in 32 bits.
uint32_t secureBufferGrownSize(uint32_t a, uint32_t b);
