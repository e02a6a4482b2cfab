// Cipher context operations. Working copies are SecureBuffers and the result is moved into the
// caller's buffer only at the end, so a failure never leaves a half-processed buffer behind.

#include "crypto/cipher.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "crypto/serpent_simd.h"

namespace {

// Each block encrypted on its own, in place. Whole runs go to the cipher modules, so that their
// fast paths can keep several blocks in flight.
bool encryptBlocks(const CipherContext& ctx, uint8_t* blocks, size_t blockCount) {
    switch (ctx.algorithm) {
    case CIPHER_AES256: return aesEncryptBlocks(ctx.aes, blocks, blockCount);
    case CIPHER_SERPENT: return serpentEncryptBlocks(ctx.serpent, blocks, blockCount);
    }
    return false;
}

void wipeLanes(CbcLane* lanes, size_t laneCount) {
    for (size_t i = 0; i < laneCount; ++i) {
        secureWipe(lanes[i].chainingBlock, CIPHER_BLOCK_BYTES);
        secureWipe(lanes[i].data, CIPHER_BLOCK_BYTES * lanes[i].blockCount);
    }
}

void zeroChainingBlock(CipherContext& ctx) { secureWipe(ctx.chainingBlock.data(), ctx.chainingBlock.size()); }

}  // namespace

uint32_t cipherPad(uint8_t* data, uint32_t n) {
    const uint32_t pad = CIPHER_BLOCK_BYTES - n % CIPHER_BLOCK_BYTES;
    std::memset(data + n, 0, pad - 1);
    data[n + pad - 1] = static_cast<uint8_t>(pad);
    return n + pad;
}

bool cipherUnpaddedBytes(const uint8_t* plaintext, uint32_t length, uint32_t& unpaddedBytes) {
    unpaddedBytes = 0;
    const uint32_t count = plaintext[length - 1];
    if (count > CIPHER_BLOCK_BYTES) return false;
    unpaddedBytes = count >= length ? 0 : length - count;
    return true;
}

uint32_t cipherLanesWanted(CipherAlgorithm algorithm) { return algorithm == CIPHER_SERPENT ? 6 : 4; }

bool cipherCbcEncryptLanes(const CipherContext& ctx, CbcLane* lanes, size_t laneCount) {
    bool encrypted = false;
    if (ctx.valid) {
        switch (ctx.algorithm) {
        case CIPHER_AES256: encrypted = aesCbcEncryptLanes(ctx.aes, lanes, laneCount); break;
        case CIPHER_SERPENT: encrypted = serpentCbcEncryptLanes(ctx.serpent, lanes, laneCount); break;
        }
    }
    if (!encrypted) wipeLanes(lanes, laneCount);
    return encrypted;
}

bool cipherCbcDecrypt(const CipherContext& ctx, const uint8_t iv[16], const uint8_t* input, uint8_t* output,
                      size_t blockCount) {
    if (!ctx.valid) return false;
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
    SecureBuffer working;
    working.allocate(secureBufferGrownSize(length, CIPHER_BLOCK_BYTES - length % CIPHER_BLOCK_BYTES));
    if (length != 0) std::memcpy(working.data(), buffer.data(), length);
    CbcLane lane{};
    std::memcpy(lane.chainingBlock, ctx.chainingBlock.data(), CIPHER_BLOCK_BYTES);
    lane.data = working.data();
    lane.blockCount = cipherPad(working.data(), length) / CIPHER_BLOCK_BYTES;
    const bool encrypted = cipherCbcEncryptLanes(ctx, &lane, 1);
    secureWipe(lane.chainingBlock, sizeof lane.chainingBlock);
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
    if (!cipherCbcDecrypt(ctx, lastChainingValue, ciphertext + lastOffset, lastBlock, 1)) return false;
    // The count byte c ends the last block as it ends the plaintext, and c <= 16 drops nothing in
    // front of the last block: what the rule leaves of that block is what follows lastOffset.
    uint32_t lastBlockKept = 0;
    if (!cipherUnpaddedBytes(lastBlock, CIPHER_BLOCK_BYTES, lastBlockKept)) return false;
    const uint32_t plaintextLength = lastOffset + lastBlockKept;

    SecureBuffer plaintext;
    plaintext.allocate(plaintextLength);
    if (lastOffset != 0 && !cipherCbcDecrypt(ctx, ctx.chainingBlock.data(), ciphertext, plaintext.data(),
                                             lastOffset / CIPHER_BLOCK_BYTES)) {
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
