// Working arrays of 32-bit words for the codec stages (sort keys, indexes, ranks). The storage is
// a SecureBuffer, so the words are wiped on release and a failed allocation throws 0.
#pragma once

#include <cstdint>
#include <new>

#include "base/secure_buffer.h"

// Asks CodecWordArray for words that are not set first, for a caller that writes each word
// before it reads it.
struct CodecWordsForOverwrite {};

// A fixed number of zero-initialised words. The words are native-order working memory that is
// never stored or sent anywhere, so no byte-order helper is involved.
class CodecWordArray {
public:
    // Throws 0 when count words do not fit in a buffer or memory runs out.
    explicit CodecWordArray(uint32_t count) : CodecWordArray(count, false) {}
    // The same without zeroing the words.
    CodecWordArray(uint32_t count, CodecWordsForOverwrite) : CodecWordArray(count, true) {}

    CodecWordArray(const CodecWordArray&) = delete;
    CodecWordArray& operator=(const CodecWordArray&) = delete;

    uint32_t* data() { return words_; }
    uint32_t& operator[](uint32_t i) { return words_[i]; }
    uint32_t operator[](uint32_t i) const { return words_[i]; }

private:
    CodecWordArray(uint32_t count, bool forOverwrite) {
        if (count > UINT32_MAX / sizeof(uint32_t)) throw 0;
        const uint32_t bytes = count * static_cast<uint32_t>(sizeof(uint32_t));
        if (forOverwrite) {
            storage_.allocateForOverwrite(bytes);
        } else {
            storage_.allocate(bytes);
        }
        // The allocator hands out malloc-aligned memory; refuse anything a word cannot live in.
        if (reinterpret_cast<uintptr_t>(storage_.data()) % alignof(uint32_t) != 0) throw 0;
        words_ = std::launder(reinterpret_cast<uint32_t*>(storage_.data()));
    }

    SecureBuffer storage_;
    uint32_t* words_ = nullptr;
};

// The first count words of storage, grown (its old contents dropped, zeroed) when it holds fewer:
// working words that a caller keeps from one use to the next. The caller wipes what it used.
// Throws 0 when count words do not fit in a buffer or memory runs out.
inline uint32_t* codecWordsIn(SecureBuffer& storage, uint32_t count) {
    if (count > UINT32_MAX / sizeof(uint32_t)) throw 0;
    const uint32_t bytes = count * static_cast<uint32_t>(sizeof(uint32_t));
    if (storage.size() < bytes) storage.allocate(bytes);
    if (reinterpret_cast<uintptr_t>(storage.data()) % alignof(uint32_t) != 0) throw 0;
    return std::launder(reinterpret_cast<uint32_t*>(storage.data()));
}
