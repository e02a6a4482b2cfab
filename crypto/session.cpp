// Key splitting, sealed chunks, key check values and key codes.

#include "crypto/session.h"

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

// Value of a hexadecimal digit, or -1.
int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void sessionInit(CryptoSession& session, const SecureBuffer& key, RandomGenerator* generator,
                 CipherAlgorithm algorithm) {
    sessionRelease(session);
    session.generator = generator;
    session.algorithm = algorithm;
    session.failed = true;
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
    session.failed = !session.cipher->valid || session.mac->invalid;
}

bool sessionEncryptChunk(CryptoSession& session, SecureBuffer& buffer) {
    if (session.failed || !session.cipher || !session.mac || session.generator == nullptr) {
        buffer.wipe();
        return false;
    }
    if (session.generator->entropy.load() < ENTROPY_THRESHOLD) {
        session.failed = true;
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
    if (session.failed || !session.cipher || !session.mac ||
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

bool isKeyCodeWellFormed(const SecureBuffer& text) {
    SecureBuffer trimmed(text);
    trimRight(trimmed);
    trimLeft(trimmed);
    if (textLength(trimmed) != KEY_CODE_CHARS) return false;
    const uint8_t* chars = trimmed.data();
    if (chars[0] != '<' || chars[KEY_CODE_CHARS - 1] != '>') return false;
    bool digits = true;
    for (uint32_t i = 1; i + 1 < KEY_CODE_CHARS; ++i) digits &= hexValue(chars[i]) >= 0;
    return digits;
}

bool keyFromKeyCode(const SecureBuffer& text, SecureBuffer& out) {
    if (!isKeyCodeWellFormed(text)) return false;
    SecureBuffer key = SecureBuffer::zeros(MASTER_KEY_BYTES);
    uint32_t stored = 0;
    int high = -1;
    for (uint32_t i = 0; i < text.size(); ++i) {
        int value = hexValue(text.data()[i]);
        if (value < 0) continue;
        if (high < 0) {
            high = value;
            continue;
        }
        // A well-formed code holds exactly 64 digits, but the walk covers the untrimmed text:
        // count past the end instead of writing there.
        if (stored < MASTER_KEY_BYTES) key.data()[stored] = static_cast<uint8_t>(high * 16 + value);
        ++stored;
        high = -1;
    }
    if (stored != MASTER_KEY_BYTES || high >= 0) {
        out.wipe();
        return false;
    }
    out = std::move(key);
    return true;
}
