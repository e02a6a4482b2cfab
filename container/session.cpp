// Key splitting, sealed chunks and key check values.

#include "container/session.h"

#include <cstring>
#include <utility>

#include <vector>

#include "base/scope_exit.h"
#include "base/text.h"
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

void wipeRegions(SealRegion* regions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint64_t bytes = sealedBlobBytes(regions[i].payloadBytes);
        if (bytes <= UINT32_MAX) secureWipe(regions[i].blob, static_cast<size_t>(bytes));
    }
}

// Draws 16 IV bytes, as every sealing does: from the session's generator with the job's cipher.
enum IvDraw { IV_DRAWN, IV_NOT_READY, IV_FAILED };

IvDraw drawIv(CryptoSession& session, uint8_t iv[SEALED_IV_BYTES]) {
    secureWipe(iv, SEALED_IV_BYTES);
    if (!session.valid || !contextsKeyed(session) || session.generator == nullptr) return IV_FAILED;
    if (session.generator->entropy.load() < ENTROPY_THRESHOLD) {
        session.valid = false;
        return IV_NOT_READY;
    }
    SecureBuffer drawn;
    if (!generate(*session.generator, drawn, SEALED_IV_BYTES, session.algorithm) || drawn.size() != SEALED_IV_BYTES) {
        return IV_FAILED;
    }
    std::memcpy(iv, drawn.data(), SEALED_IV_BYTES);
    return IV_DRAWN;
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
    uint8_t iv[SEALED_IV_BYTES];
    const ScopeExit wipeIv([&] { secureWipe(iv, sizeof iv); });
    const IvDraw draw = drawIv(session, iv);
    if (draw == IV_NOT_READY) return false;
    const uint32_t payloadBytes = buffer.size();
    if (draw != IV_DRAWN || sealedBlobBytes(payloadBytes) > UINT32_MAX) {
        buffer.wipe();
        return false;
    }
    // IV, payload, padding and tag in one allocation, sealed where they lie.
    SecureBuffer sealed;
    sealed.allocate(static_cast<uint32_t>(sealedBlobBytes(payloadBytes)));
    std::memcpy(sealed.data(), iv, SEALED_IV_BYTES);
    if (payloadBytes != 0) std::memcpy(sealed.data() + SEALED_IV_BYTES, buffer.data(), payloadBytes);
    buffer.wipe();
    SealRegion region{sealed.data(), payloadBytes};
    if (!sealChunks(session, &region, 1)) return false;
    buffer = std::move(sealed);
    return true;
}

bool sessionDecryptChunk(CryptoSession& session, SecureBuffer& buffer) {
    uint32_t payloadBytes = 0;
    if (!session.valid || !openChunk(session, buffer.data(), buffer.size(), payloadBytes)) {
        buffer.wipe();
        return false;
    }
    SecureBuffer payload(buffer.data() + SEALED_IV_BYTES, payloadBytes);
    buffer = std::move(payload);
    return true;
}

bool sessionDrawIv(CryptoSession& session, uint8_t iv[SEALED_IV_BYTES]) { return drawIv(session, iv) == IV_DRAWN; }

bool sealChunks(const CryptoSession& session, SealRegion* regions, size_t count) {
    bool fits = true;
    for (size_t i = 0; i < count; ++i) fits = fits && sealedBlobBytes(regions[i].payloadBytes) <= UINT32_MAX;
    if (!fits || !contextsKeyed(session)) {
        if (fits) wipeRegions(regions, count);
        return false;
    }
    // Each chunk's CBC chain waits for every block's rounds before the next can start; the
    // cipher's fast paths run the blocks of several chains side by side in that time.
    std::vector<CbcLane> lanes(count);
    for (size_t i = 0; i < count; ++i) {
        uint8_t* payload = regions[i].blob + SEALED_IV_BYTES;
        std::memcpy(lanes[i].chainingBlock, regions[i].blob, SEALED_IV_BYTES);
        lanes[i].data = payload;
        lanes[i].blockCount = cipherPad(payload, regions[i].payloadBytes) / CIPHER_BLOCK_BYTES;
    }
    const bool encrypted = cipherCbcEncryptLanes(*session.cipher, lanes.data(), lanes.size());
    for (CbcLane& lane : lanes) secureWipe(lane.chainingBlock, sizeof lane.chainingBlock);
    if (!encrypted) {
        wipeRegions(regions, count);
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint32_t authenticated =
            SEALED_IV_BYTES + static_cast<uint32_t>(CIPHER_BLOCK_BYTES * lanes[i].blockCount);
        const SecureBuffer tag = hmacCompute(*session.mac, regions[i].blob, authenticated);
        if (tag.size() != SEALED_TAG_BYTES) {
            wipeRegions(regions, count);
            return false;
        }
        std::memcpy(regions[i].blob + authenticated, tag.data(), SEALED_TAG_BYTES);
    }
    return true;
}

bool openChunk(const CryptoSession& session, uint8_t* blob, uint32_t blobBytes, uint32_t& payloadBytes) {
    payloadBytes = 0;
    // IV, at least one ciphertext block, tag. A shorter blob can still carry a valid tag (IV and
    // tag alone), but it holds no padded plaintext to decrypt.
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
    // The IV lies in front of the ciphertext, outside what is decrypted in place.
    uint32_t kept = 0;
    if (!cipherCbcDecrypt(*session.cipher, blob, ciphertext, ciphertext, ciphertextBytes / CIPHER_BLOCK_BYTES) ||
        !cipherUnpaddedBytes(ciphertext, ciphertextBytes, kept)) {
        secureWipe(blob, blobBytes);
        return false;
    }
    payloadBytes = kept;
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
