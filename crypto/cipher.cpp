// Cipher context operations. Working copies are SecureBuffers and the result is moved into the
// caller's buffer only at the end, so a failure never leaves a half-processed buffer behind.

#include "crypto/cipher.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "crypto/cbc_lanes.h"
#include "crypto/serpent_simd.h"

namespace {

// The three ways of running the block cipher over blockCount blocks. Whole runs go to the cipher
// modules, so that their fast paths can keep several blocks in flight; only Serpent's CBC
// encryption goes block by block here.

// Each block encrypted on its own, in place.
bool encryptBlocks(const CipherContext& ctx, uint8_t* blocks, size_t blockCount) {
    switch (ctx.algorithm) {
    case CIPHER_AES256: return aesEncryptBlocks(ctx.aes, blocks, blockCount);
    case CIPHER_SERPENT: return serpentEncryptBlocks(ctx.serpent, blocks, blockCount);
    }
    return false;
}

// CBC encryption in place from the 16 bytes at iv, which lie outside blocks.
bool cbcEncrypt(const CipherContext& ctx, const uint8_t* iv, uint8_t* blocks, size_t blockCount) {
    switch (ctx.algorithm) {
    case CIPHER_AES256: return aesCbcEncrypt(ctx.aes, iv, blocks, blockCount);
    case CIPHER_SERPENT: {
        // The chaining value is read where it lies, the IV and then each previous ciphertext
        // block, instead of being copied after every block.
        const uint8_t* previous = iv;
        for (size_t n = 0; n < blockCount; ++n) {
            uint8_t* block = blocks + CIPHER_BLOCK_BYTES * n;
            xorBlock(block, previous);
            if (!serpentEncryptBlock(ctx.serpent, block)) return false;
            previous = block;
        }
        return true;
    }
    }
    return false;
}

// CBC decryption from input to output, which do not overlap, chaining from the 16 bytes at iv.
bool cbcDecrypt(const CipherContext& ctx, const uint8_t* iv, const uint8_t* input, uint8_t* output, size_t blockCount) {
    switch (ctx.algorithm) {
    case CIPHER_AES256: return aesCbcDecrypt(ctx.aes, iv, input, output, blockCount);
    case CIPHER_SERPENT: {
        // The Serpent function advances its chaining block; the caller's IV stays as it is.
        uint8_t chaining[CIPHER_BLOCK_BYTES];
        std::memcpy(chaining, iv, CIPHER_BLOCK_BYTES);
        const bool decrypted =
            serpentCbcDecryptInto(ctx.serpent, chaining, input, output, CIPHER_BLOCK_BYTES * blockCount);
        secureWipe(chaining, sizeof chaining);
        return decrypted;
    }
    }
    return false;
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

    const bool encrypted =
        cbcEncrypt(ctx, ctx.chainingBlock.data(), working.data(), working.size() / CIPHER_BLOCK_BYTES);
    zeroChainingBlock(ctx);
    if (!encrypted) {
        buffer.wipe();
        return false;
    }
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
    uint8_t lastBlock[CIPHER_BLOCK_BYTES];
    const ScopeExit wipeLastBlock([&] {
        secureWipe(lastBlock, sizeof lastBlock);
        zeroChainingBlock(ctx);
    });

    // The last block goes first: its count byte c fixes the plaintext's length, so the plaintext
    // is allocated once at its final size and the dropped bytes are never copied.
    const uint32_t lastOffset = length - CIPHER_BLOCK_BYTES;
    const uint8_t* lastChainingValue =
        lastOffset == 0 ? ctx.chainingBlock.data() : ciphertext + lastOffset - CIPHER_BLOCK_BYTES;
    if (!cbcDecrypt(ctx, lastChainingValue, ciphertext + lastOffset, lastBlock, 1)) return false;
    const uint32_t count = lastBlock[CIPHER_BLOCK_BYTES - 1];
    if (count > CIPHER_BLOCK_BYTES) return false;
    // c <= 16, so every block but the last lies wholly inside the plaintext.
    const uint32_t plaintextLength = count >= length ? 0 : length - count;

    SecureBuffer plaintext;
    plaintext.allocate(plaintextLength);
    if (lastOffset != 0 &&
        !cbcDecrypt(ctx, ctx.chainingBlock.data(), ciphertext, plaintext.data(), lastOffset / CIPHER_BLOCK_BYTES)) {
        return false;
    }
    if (plaintextLength > lastOffset) {
        std::memcpy(plaintext.data() + lastOffset, lastBlock, plaintextLength - lastOffset);
    }
    buffer = std::move(plaintext);
    return true;
}

bool cipherEncryptPool(CipherContext& ctx, uint8_t* region) {
    if (!ctx.valid) return false;
    return encryptBlocks(ctx, region, CIPHER_POOL_BYTES / CIPHER_BLOCK_BYTES);
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
    }
    if (!encryptBlocks(ctx, stream.data(), wholeBlocks)) return false;
    const uint32_t tailBytes = length % CIPHER_BLOCK_BYTES;
    if (tailBytes != 0) {
        uint8_t block[CIPHER_BLOCK_BYTES];
        for (uint32_t word = 0; word < 4; ++word) store32Le(block + 4 * word, wholeBlocks);
        const bool encrypted = encryptBlocks(ctx, block, 1);
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
