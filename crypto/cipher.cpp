// Cipher context operations. Working copies are SecureBuffers and the result is moved into the
// caller's buffer only at the end, so a failure never leaves a half-processed buffer behind.

#include "crypto/cipher.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"

namespace {

bool encryptBlock(const CipherContext& ctx, uint8_t* block) {
    switch (ctx.algorithm) {
    case CIPHER_AES256: return aesEncryptBlock(ctx.aes, block);
    case CIPHER_SERPENT: return serpentEncryptBlock(ctx.serpent, block);
    }
    return false;
}

bool decryptBlock(const CipherContext& ctx, uint8_t* block) {
    switch (ctx.algorithm) {
    case CIPHER_AES256: return aesDecryptBlock(ctx.aes, block);
    case CIPHER_SERPENT: return serpentDecryptBlock(ctx.serpent, block);
    }
    return false;
}

// Word by word: the block ciphers store their output as four 32-bit words, and reading those back
// in the same widths lets the processor forward the stores instead of waiting for them.
void xorBlock(uint8_t* target, const uint8_t* source) {
    for (uint32_t i = 0; i < CIPHER_BLOCK_BYTES; i += 4)
        store32Le(target + i, load32Le(target + i) ^ load32Le(source + i));
}

void zeroChainingBlock(CipherContext& ctx) { secureWipe(ctx.chainingBlock.data(), ctx.chainingBlock.size()); }

}  // namespace

void cipherInit(CipherContext& ctx, CipherAlgorithm algorithm, const SecureBuffer& key) {
    ctx.valid = false;
    ctx.mode = CIPHER_MODE_CBC;
    ctx.algorithm = algorithm;
    aesWipe(ctx.aes);
    serpentWipe(ctx.serpent);
    ctx.chainingBlock.allocate(CIPHER_BLOCK_BYTES);
    // The set-key functions refuse key lengths other than 16, 24 and 32 bytes; an algorithm
    // outside the enumeration matches no case and the context stays not valid.
    switch (algorithm) {
    case CIPHER_AES256: ctx.valid = aesSetKey(ctx.aes, key); break;
    case CIPHER_SERPENT: ctx.valid = serpentSetKey(ctx.serpent, key); break;
    }
}

void cipherSetChainingBlock(CipherContext& ctx, const uint8_t iv[16]) {
    if (ctx.chainingBlock.size() != CIPHER_BLOCK_BYTES) ctx.chainingBlock.allocate(CIPHER_BLOCK_BYTES);
    std::memcpy(ctx.chainingBlock.data(), iv, CIPHER_BLOCK_BYTES);
}

bool cipherEncryptPadded(CipherContext& ctx, SecureBuffer& buffer) {
    if (!ctx.valid) {
        buffer.wipe();
        return false;
    }
    const uint32_t length = buffer.size();
    const uint32_t padding = CIPHER_BLOCK_BYTES - length % CIPHER_BLOCK_BYTES;
    SecureBuffer working;
    working.allocate(secureBufferGrownSize(length, padding));
    if (length != 0) std::memcpy(working.data(), buffer.data(), length);
    // The p − 1 padding bytes in front of the count are already zero from the allocation.
    working.data()[working.size() - 1] = static_cast<uint8_t>(padding);

    // The chaining value is read where it lies, the IV in the context and then each previous
    // ciphertext block, instead of being copied after every block.
    const uint8_t* previous = ctx.chainingBlock.data();
    for (uint32_t offset = 0; offset < working.size(); offset += CIPHER_BLOCK_BYTES) {
        uint8_t* block = working.data() + offset;
        xorBlock(block, previous);
        if (!encryptBlock(ctx, block)) {
            zeroChainingBlock(ctx);
            buffer.wipe();
            return false;
        }
        previous = block;
    }
    zeroChainingBlock(ctx);
    buffer = std::move(working);
    return true;
}

bool cipherDecryptPadded(CipherContext& ctx, SecureBuffer& buffer) {
    if (!ctx.valid || buffer.size() % CIPHER_BLOCK_BYTES != 0) return false;
    const uint32_t length = buffer.size();
    if (length == 0) {
        // No count byte to read: the buffer layer's failure for an index outside a buffer.
        zeroChainingBlock(ctx);
        throw 0;
    }
    // The caller's ciphertext is only read; the plaintext is built beside it, so a failure
    // leaves the caller's buffer as it was.
    const uint8_t* ciphertext = buffer.data();
    auto chainingValueFor = [&](uint32_t offset) {
        return offset == 0 ? ctx.chainingBlock.data() : ciphertext + offset - CIPHER_BLOCK_BYTES;
    };
    uint8_t lastBlock[CIPHER_BLOCK_BYTES];
    const ScopeExit wipeLastBlock([&] {
        secureWipe(lastBlock, sizeof lastBlock);
        zeroChainingBlock(ctx);
    });

    // The last block goes first: its count byte c fixes the plaintext's length, so the plaintext
    // is allocated once at its final size and the dropped bytes are never copied.
    const uint32_t lastOffset = length - CIPHER_BLOCK_BYTES;
    std::memcpy(lastBlock, ciphertext + lastOffset, CIPHER_BLOCK_BYTES);
    if (!decryptBlock(ctx, lastBlock)) return false;
    xorBlock(lastBlock, chainingValueFor(lastOffset));
    const uint32_t count = lastBlock[CIPHER_BLOCK_BYTES - 1];
    if (count > CIPHER_BLOCK_BYTES) return false;
    // c <= 16, so every block but the last lies wholly inside the plaintext.
    const uint32_t plaintextLength = count >= length ? 0 : length - count;

    SecureBuffer plaintext;
    plaintext.allocate(plaintextLength);
    for (uint32_t offset = 0; offset < lastOffset; offset += CIPHER_BLOCK_BYTES) {
        uint8_t* block = plaintext.data() + offset;
        std::memcpy(block, ciphertext + offset, CIPHER_BLOCK_BYTES);
        if (!decryptBlock(ctx, block)) return false;
        xorBlock(block, chainingValueFor(offset));
    }
    if (plaintextLength > lastOffset) {
        std::memcpy(plaintext.data() + lastOffset, lastBlock, plaintextLength - lastOffset);
    }
    buffer = std::move(plaintext);
    return true;
}

bool cipherEncryptPool(CipherContext& ctx, uint8_t* region) {
    if (!ctx.valid) return false;
    for (uint32_t offset = 0; offset < CIPHER_POOL_BYTES; offset += CIPHER_BLOCK_BYTES) {
        if (!encryptBlock(ctx, region + offset)) return false;
    }
    return true;
}

bool cipherKeystream(CipherContext& ctx, SecureBuffer& out, uint32_t length) {
    if (!ctx.valid) return false;
    SecureBuffer stream;
    stream.allocate(length);
    // Whole blocks are encrypted in place; only a partial last block goes through a temporary,
    // so the stream never needs room beyond length (no n × 16 that could pass 32 bits).
    const uint32_t wholeBlocks = length / CIPHER_BLOCK_BYTES;
    for (uint32_t i = 0; i < wholeBlocks; ++i) {
        uint8_t* block = stream.data() + CIPHER_BLOCK_BYTES * i;
        for (uint32_t word = 0; word < 4; ++word) store32Le(block + 4 * word, i);
        if (!encryptBlock(ctx, block)) return false;
    }
    const uint32_t tailBytes = length % CIPHER_BLOCK_BYTES;
    if (tailBytes != 0) {
        uint8_t block[CIPHER_BLOCK_BYTES];
        for (uint32_t word = 0; word < 4; ++word) store32Le(block + 4 * word, wholeBlocks);
        const bool encrypted = encryptBlock(ctx, block);
        if (encrypted) std::memcpy(stream.data() + CIPHER_BLOCK_BYTES * wholeBlocks, block, tailBytes);
        secureWipe(block, sizeof block);
        if (!encrypted) return false;
    }
    out = std::move(stream);
    return true;
}

void cipherRelease(CipherContext& ctx) {
    ctx.valid = false;
    aesWipe(ctx.aes);
    serpentWipe(ctx.serpent);
    ctx.chainingBlock.wipe();
}
