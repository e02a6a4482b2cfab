// Everything between a job's 32-byte master key and the protected bytes of a container: key
// splitting into a cipher key and a MAC key, sealing and opening chunks (fresh random IV, padded
// CBC, HMAC-SHA256 over IV and ciphertext) and the key check value.
// Tags and check values are compared in constant time; the cipher is as constant-time as its
// block cipher (AES is not).
#pragma once

#include <cstdint>
#include <memory>

#include "base/secure_buffer.h"
#include "crypto/cipher.h"
#include "crypto/hmac.h"

struct RandomGenerator;

constexpr uint32_t MASTER_KEY_BYTES = 32;
constexpr uint32_t SUBKEY_BYTES = 32;
constexpr uint32_t SUBKEY_CIPHER = 0;
constexpr uint32_t SUBKEY_MAC = 1;
constexpr uint32_t SEALED_IV_BYTES = 16;
constexpr uint32_t SEALED_TAG_BYTES = 32;
// IV and tag around the ciphertext.
constexpr uint32_t SEALED_OVERHEAD_BYTES = SEALED_IV_BYTES + SEALED_TAG_BYTES;
constexpr uint32_t CHECK_VALUE_BYTES = 8;

// One job's keys. valid only ever goes from true to false after set-up; once cleared, every chunk
// operation fails. The generator is not owned and is needed only to encrypt.
struct CryptoSession {
    bool valid = false;
    CipherAlgorithm algorithm = CIPHER_AES256;
    RandomGenerator* generator = nullptr;
    std::unique_ptr<CipherContext> cipher;
    std::unique_ptr<HmacSha256> mac;
};

// Splits key (32 bytes, not all zero) under algorithm into a cipher key (key stream bytes 0..31)
// and a MAC key (bytes 32..63) and keys the session with them. Any other key or algorithm leaves
// the session not valid; the caller inspects it.
void sessionInit(CryptoSession& session, const SecureBuffer& key, RandomGenerator* generator,
                 CipherAlgorithm algorithm);

// Replaces the payload in buffer by its sealed blob: 16-byte IV from the generator, the padded
// CBC ciphertext, and the 32-byte tag over both; n bytes become 16 × (n / 16 + 1) + 48.
// A session that is not valid, a missing generator or a generator failure: false with buffer wiped.
// A generator that is not ready: false, the session no longer valid, and the plaintext left in buffer.
[[nodiscard]] bool sessionEncryptChunk(CryptoSession& session, SecureBuffer& buffer);

// Replaces a sealed blob by its payload. The tag is checked before anything is decrypted. Any
// failure (session not valid, fewer than 64 bytes, wrong tag, bad padding) wipes buffer and returns
// false.
[[nodiscard]] bool sessionDecryptChunk(CryptoSession& session, SecureBuffer& buffer);

// Wipes and frees the cipher and MAC contexts and forgets the generator.
void sessionRelease(CryptoSession& session);

// The first 8 bytes of the HMAC of "PPTestValue" under key; empty when key cannot key an HMAC.
SecureBuffer keyCheckValue(const SecureBuffer& key);
