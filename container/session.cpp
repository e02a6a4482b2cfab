// Key splitting, sealed chunks and key check values.

#include "container/session.h"

#include <cstring>
#include <utility>

#include <vector>

#include "base/scope_exit.h"
#include "base/text.h"
#include "crypto/serpent_simd.h"
#include "random/generator.h"

namespace {

constexpr uint32_t KEY_TABLE_COUNT = 2;
constexpr char CHECK_VALUE_MESSAGE[] = "PPTestValue";

bool isAllZero(const SecureBuffer& bytes) {
    uint8_t accumulator = 0;
    for (uint32_t i = 0; i < bytes.size(); ++i) accumulator |= bytes.data()[i];
    return accumulator == 0;
}

// Whether the contexts that seal and open are keyed. The session's valid flag is left alone: the
// thread that draws IVs may clear it while others seal.
bool contextsKeyed(const CryptoSession& session) {
    return session.cipher && session.cipher->valid && session.mac && session.mac->valid;
}

// The padding of a payload of payloadBytes: p − 1 zero bytes and the byte p, p = 16 − (n mod 16),
// written behind the payload. Returns the padded length.
uint32_t padInPlace(uint8_t* payload, uint32_t payloadBytes) {
    const uint32_t pad = CIPHER_BLOCK_BYTES - payloadBytes % CIPHER_BLOCK_BYTES;
    std::memset(payload + payloadBytes, 0, pad - 1);
    payload[payloadBytes + pad - 1] = static_cast<uint8_t>(pad);
    return payloadBytes + pad;
}

void wipeRegions(SealRegion* regions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint64_t bytes = sealedBlobBytes(regions[i].payloadBytes);
        if (bytes <= UINT32_MAX) secureWipe(regions[i].blob, static_cast<size_t>(bytes));
    }
}

// CBC encryption of every region's padded payload from the IV in front of it.
bool cbcEncryptRegions(const CipherContext& cipher, SealRegion* regions, const uint32_t* paddedBytes, size_t count) {
    switch (cipher.algorithm) {
    case CIPHER_AES256: {
        // One CBC chain waits for each block's rounds before the next block can start; AES-NI
        // runs the blocks of several chains side by side in that time.
        std::vector<CbcLane> lanes(count);
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(lanes[i].chainingBlock, regions[i].blob, SEALED_IV_BYTES);
            lanes[i].data = regions[i].blob + SEALED_IV_BYTES;
            lanes[i].blockCount = paddedBytes[i] / CIPHER_BLOCK_BYTES;
        }
        const bool encrypted = aesCbcEncryptLanes(cipher.aes, lanes.data(), lanes.size());
        for (CbcLane& lane : lanes) secureWipe(lane.chainingBlock, sizeof lane.chainingBlock);
        return encrypted;
    }
    case CIPHER_SERPENT: {
        // A Serpent chain goes one block at a time; several chains go through the SIMD lanes
        // side by side.
        std::vector<CbcLane> lanes(count);
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(lanes[i].chainingBlock, regions[i].blob, SEALED_IV_BYTES);
            lanes[i].data = regions[i].blob + SEALED_IV_BYTES;
            lanes[i].blockCount = paddedBytes[i] / CIPHER_BLOCK_BYTES;
        }
        const bool encrypted = serpentCbcEncryptLanes(cipher.serpent, lanes.data(), lanes.size());
        for (CbcLane& lane : lanes) secureWipe(lane.chainingBlock, sizeof lane.chainingBlock);
        return encrypted;
    }
    }
    return false;
}

// A SHA-256 that starts after the key block whose midstate is given.
void startAfterKeyBlock(Sha256Context& hash, const SecureBuffer& midstate, Sha256Engine engine) {
    uint32_t state[8];
    hmacLoadMidstate(midstate, state);
    sha256InitFromMidstate(hash, state, 1, engine);
    secureWipe(state, sizeof state);
}

}  // namespace

void sessionInit(CryptoSession& session, const SecureBuffer& key, RandomGenerator* generator,
                 CipherAlgorithm algorithm) {
    sessionRelease(session);
    session.generator = generator;
    session.algorithm = algorithm;
    session.valid = false;
    if (key.size() != MASTER_KEY_BYTES || isAllZero(key)) return;
    if (algorithm != CIPHER_AES256 && algorithm != CIPHER_SERPENT) return;

    // The master key never touches data: its counter-mode key stream gives the two sub-keys.
    SecureBuffer stream;
    {
        CipherContext splitter;
        ScopeExit releaseSplitter([&] { cipherRelease(splitter); });
        cipherInit(splitter, algorithm, key);
        if (!cipherKeystream(splitter, stream, KEY_TABLE_COUNT * SUBKEY_BYTES)) return;
    }
    if (stream.size() != KEY_TABLE_COUNT * SUBKEY_BYTES) return;
    SecureBuffer cipherKey = stream.slice(SUBKEY_BYTES, SUBKEY_CIPHER * SUBKEY_BYTES);
    SecureBuffer macKey = stream.slice(SUBKEY_BYTES, SUBKEY_MAC * SUBKEY_BYTES);

    session.cipher = std::make_unique<CipherContext>();
    cipherInit(*session.cipher, algorithm, cipherKey);
    session.mac = std::make_unique<HmacSha256>();
    hmacInit(*session.mac, macKey);
    session.valid = session.cipher->valid && session.mac->valid;
}

bool sessionEncryptChunk(CryptoSession& session, SecureBuffer& buffer) {
    if (!session.valid || !session.cipher || !session.mac || session.generator == nullptr) {
        buffer.wipe();
        return false;
    }
    if (session.generator->entropy.load() < ENTROPY_THRESHOLD) {
        session.valid = false;
        return false;
    }
    SecureBuffer iv;
    if (!generate(*session.generator, iv, SEALED_IV_BYTES, session.algorithm) || iv.size() != SEALED_IV_BYTES) {
        buffer.wipe();
        return false;
    }
    cipherSetChainingBlock(*session.cipher, iv.data());
    if (!cipherEncryptPadded(*session.cipher, buffer)) {
        buffer.wipe();
        return false;
    }
    // IV, ciphertext and tag are laid out in one allocation: a chunk is 2 MiB, and growing the
    // buffer at both ends would copy it twice more.
    const uint32_t ciphertextBytes = buffer.size();
    SecureBuffer sealed;
    sealed.allocate(secureBufferGrownSize(ciphertextBytes, SEALED_OVERHEAD_BYTES));
    std::memcpy(sealed.data(), iv.data(), SEALED_IV_BYTES);
    std::memcpy(sealed.data() + SEALED_IV_BYTES, buffer.data(), ciphertextBytes);
    buffer.wipe();
    SecureBuffer tag = hmacCompute(*session.mac, sealed.data(), SEALED_IV_BYTES + ciphertextBytes);
    if (tag.size() != SEALED_TAG_BYTES) return false;
    std::memcpy(sealed.data() + SEALED_IV_BYTES + ciphertextBytes, tag.data(), SEALED_TAG_BYTES);
    buffer = std::move(sealed);
    return true;
}

bool sessionDecryptChunk(CryptoSession& session, SecureBuffer& buffer) {
    // Smallest sealed blob: IV, one ciphertext block, tag. A shorter one can still carry a valid
    // tag (IV and tag alone), but it holds no padded plaintext to decrypt.
    if (!session.valid || !session.cipher || !session.mac ||
        buffer.size() < SEALED_OVERHEAD_BYTES + CIPHER_BLOCK_BYTES) {
        buffer.wipe();
        return false;
    }
    const uint32_t authenticated = buffer.size() - SEALED_TAG_BYTES;
    SecureBuffer tag = buffer.slice(SEALED_TAG_BYTES, authenticated);
    if (!hmacVerify(*session.mac, buffer.data(), authenticated, tag)) {
        buffer.wipe();
        return false;
    }
    SecureBuffer ciphertext = buffer.slice(authenticated - SEALED_IV_BYTES, SEALED_IV_BYTES);
    cipherSetChainingBlock(*session.cipher, buffer.data());
    buffer.wipe();
    if (ciphertext.empty() || !cipherDecryptPadded(*session.cipher, ciphertext)) return false;
    buffer = std::move(ciphertext);
    return true;
}

bool sessionDrawIv(CryptoSession& session, uint8_t iv[SEALED_IV_BYTES]) {
    secureWipe(iv, SEALED_IV_BYTES);
    if (!session.valid || !session.cipher || !session.mac || session.generator == nullptr) return false;
    if (session.generator->entropy.load() < ENTROPY_THRESHOLD) {
        session.valid = false;
        return false;
    }
    SecureBuffer drawn;
    if (!generate(*session.generator, drawn, SEALED_IV_BYTES, session.algorithm) || drawn.size() != SEALED_IV_BYTES) {
        return false;
    }
    std::memcpy(iv, drawn.data(), SEALED_IV_BYTES);
    return true;
}

bool sessionSealInPlace(const CryptoSession& session, SealRegion* regions, size_t count) {
    bool fits = true;
    for (size_t i = 0; i < count; ++i) fits = fits && sealedBlobBytes(regions[i].payloadBytes) <= UINT32_MAX;
    if (!fits || !contextsKeyed(session)) {
        if (fits) wipeRegions(regions, count);
        return false;
    }
    std::vector<uint32_t> paddedBytes(count);
    for (size_t i = 0; i < count; ++i) {
        paddedBytes[i] = padInPlace(regions[i].blob + SEALED_IV_BYTES, regions[i].payloadBytes);
    }
    if (!cbcEncryptRegions(*session.cipher, regions, paddedBytes.data(), count)) {
        wipeRegions(regions, count);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint32_t authenticated = SEALED_IV_BYTES + paddedBytes[i];
        const SecureBuffer tag = hmacCompute(*session.mac, regions[i].blob, authenticated);
        if (tag.size() != SEALED_TAG_BYTES) {
            wipeRegions(regions, count);
            return false;
        }
        std::memcpy(regions[i].blob + authenticated, tag.data(), SEALED_TAG_BYTES);
    }
    return true;
}

bool sessionOpenInPlace(const CryptoSession& session, uint8_t* blob, uint32_t blobBytes, uint32_t& payloadBytes) {
    payloadBytes = 0;
    // As in sessionDecryptChunk: IV, at least one ciphertext block, tag.
    const bool shaped = blobBytes >= SEALED_OVERHEAD_BYTES + CIPHER_BLOCK_BYTES &&
                        (blobBytes - SEALED_OVERHEAD_BYTES) % CIPHER_BLOCK_BYTES == 0;
    const uint32_t authenticated = blobBytes - SEALED_TAG_BYTES;
    if (!contextsKeyed(session) || blobBytes < SEALED_OVERHEAD_BYTES + CIPHER_BLOCK_BYTES ||
        !hmacVerify(*session.mac, blob, authenticated, SecureBuffer(blob + authenticated, SEALED_TAG_BYTES)) ||
        !shaped) {
        secureWipe(blob, blobBytes);
        return false;
    }
    uint8_t* ciphertext = blob + SEALED_IV_BYTES;
    const uint32_t ciphertextBytes = authenticated - SEALED_IV_BYTES;
    uint8_t iv[SEALED_IV_BYTES];
    std::memcpy(iv, blob, SEALED_IV_BYTES);
    bool decrypted = false;
    switch (session.cipher->algorithm) {
    case CIPHER_AES256:
        decrypted =
            aesCbcDecrypt(session.cipher->aes, iv, ciphertext, ciphertext, ciphertextBytes / CIPHER_BLOCK_BYTES);
        break;
    case CIPHER_SERPENT: decrypted = serpentCbcDecrypt(session.cipher->serpent, iv, ciphertext, ciphertextBytes); break;
    }
    secureWipe(iv, sizeof iv);
    // The count byte c: above 16 is refused; c at or above the length (one block ending in 16)
    // leaves nothing; c = 0 drops nothing. The bytes in front of it are not checked.
    const uint8_t count = ciphertext[ciphertextBytes - 1];
    if (!decrypted || count > CIPHER_BLOCK_BYTES) {
        secureWipe(blob, blobBytes);
        return false;
    }
    payloadBytes = count >= ciphertextBytes ? 0 : ciphertextBytes - count;
    secureWipe(ciphertext + payloadBytes, ciphertextBytes - payloadBytes);
    return true;
}

SealedTagStream::~SealedTagStream() { sha256Wipe(inner); }

bool sessionTagStart(const CryptoSession& session, SealedTagStream& stream) {
    stream.started = false;
    if (!session.mac || !session.mac->valid || session.mac->innerMidstate.size() != HMAC_MIDSTATE_BYTES) return false;
    startAfterKeyBlock(stream.inner, session.mac->innerMidstate, session.mac->engine);
    stream.started = true;
    return true;
}

void sessionTagAbsorb(SealedTagStream& stream, const uint8_t* data, uint32_t length) {
    if (stream.started) sha256Update(stream.inner, data, length);
}

bool sessionTagMatches(const CryptoSession& session, SealedTagStream& stream, const SecureBuffer& tag) {
    if (!stream.started || !session.mac || !session.mac->valid ||
        session.mac->outerMidstate.size() != HMAC_MIDSTATE_BYTES) {
        sha256Wipe(stream.inner);
        stream.started = false;
        return false;
    }
    stream.started = false;
    const SecureBuffer innerDigest = sha256Final(stream.inner);
    sha256Wipe(stream.inner);
    Sha256Context outer;
    ScopeExit wipeOuter([&] { sha256Wipe(outer); });
    startAfterKeyBlock(outer, session.mac->outerMidstate, session.mac->engine);
    sha256Update(outer, innerDigest);
    const SecureBuffer computed = sha256Final(outer);
    return computed.size() == SEALED_TAG_BYTES && computed.constantTimeEquals(tag);
}

void sessionRelease(CryptoSession& session) {
    if (session.cipher) {
        cipherRelease(*session.cipher);
        session.cipher.reset();
    }
    if (session.mac) {
        hmacRelease(*session.mac);
        session.mac.reset();
    }
    session.generator = nullptr;
}

SecureBuffer keyCheckValue(const SecureBuffer& key) {
    HmacSha256 ctx;
    ScopeExit releaseContext([&] { hmacRelease(ctx); });
    hmacInit(ctx, key);
    SecureBuffer tag =
        hmacCompute(ctx, reinterpret_cast<const uint8_t*>(CHECK_VALUE_MESSAGE), sizeof CHECK_VALUE_MESSAGE - 1);
    if (tag.size() < CHECK_VALUE_BYTES) return SecureBuffer();
    tag.resize(CHECK_VALUE_BYTES);
    return tag;
}
