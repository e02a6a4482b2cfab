// Key splitting, sealed chunks and key check values.

#include "container/session.h"

#include <cstring>
#include <utility>

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
    SecureBuffer tag = hmacCompute(ctx, reinterpret_cast<const uint8_t*>(CHECK_VALUE_MESSAGE),
                                   sizeof CHECK_VALUE_MESSAGE - 1);
    if (tag.size() < CHECK_VALUE_BYTES) return SecureBuffer();
    tag.resize(CHECK_VALUE_BYTES);
    return tag;
}
