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
#include "crypto/sha256.h"

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

// --- Sealing and opening in place, for the parallel pipelines ---
// The same blobs as sessionEncryptChunk and sessionDecryptChunk, worked on in the caller's memory,
// with the IV drawn apart from the sealing. These read the session's cipher and MAC contexts and
// never its valid flag, so one thread may draw IVs while several others seal or open at once.

// Bytes of the sealed blob of a payload of payloadBytes: 16 × (n / 16 + 1) + 48.
constexpr uint64_t sealedBlobBytes(uint32_t payloadBytes) {
    return uint64_t{CIPHER_BLOCK_BYTES} * (payloadBytes / CIPHER_BLOCK_BYTES + 1) + SEALED_OVERHEAD_BYTES;
}

// Draws the next IV into iv exactly as sessionEncryptChunk draws one, so that IVs drawn here in
// chunk order give the same container as sealing the chunks one by one. False, with iv zeroed,
// when the session is not valid or has no generator, or the generator cannot give 16 bytes; a
// generator that is not ready also leaves the session no longer valid.
[[nodiscard]] bool sessionDrawIv(CryptoSession& session, uint8_t iv[SEALED_IV_BYTES]);

// One blob to seal in place: the IV in blob[0..16), the payload in blob[16..16 + payloadBytes),
// and room up to sealedBlobBytes(payloadBytes), which sealing fills with the padding and the tag.
struct SealRegion {
    uint8_t* blob;
    uint32_t payloadBytes;
};

// Seals each region in place into the blob that sessionEncryptChunk would make with that IV.
// The chunks' CBC chains run side by side as crypto's CBC lanes. regions MUST NOT overlap, and
// each MUST have the room above. False when the session's contexts are not keyed, or the payload
// is too long for a 32-bit blob; the regions are then wiped.
[[nodiscard]] bool sessionSealInPlace(const CryptoSession& session, SealRegion* regions, size_t count);

// Opens the sealed blob of blobBytes bytes at blob in place, with sessionDecryptChunk's checks:
// the tag first, then the decryption and the padding. On success the payload is at
// blob + SEALED_IV_BYTES and payloadBytes holds its length. On failure (contexts not keyed, fewer
// than 64 bytes, a length that is no whole number of blocks, wrong tag, bad padding) the blob is
// wiped and payloadBytes is 0.
[[nodiscard]] bool sessionOpenInPlace(const CryptoSession& session, uint8_t* blob, uint32_t blobBytes,
                                      uint32_t& payloadBytes);

// A tag computed over bytes that arrive in pieces: sessionTagStart, sessionTagAbsorb for each
// piece of IV and ciphertext in order, then sessionTagMatches with the blob's last 32 bytes. The
// running hash is wiped when the stream ends or is destroyed.
struct SealedTagStream {
    SealedTagStream() = default;
    SealedTagStream(const SealedTagStream&) = delete;
    SealedTagStream& operator=(const SealedTagStream&) = delete;
    ~SealedTagStream();

    Sha256Context inner;
    bool started = false;
};

// Starts the tag of a new blob. False when the session's MAC context is not keyed.
[[nodiscard]] bool sessionTagStart(const CryptoSession& session, SealedTagStream& stream);

void sessionTagAbsorb(SealedTagStream& stream, const uint8_t* data, uint32_t length);

// Whether tag is the tag of everything absorbed, compared over every byte. Ends the stream.
[[nodiscard]] bool sessionTagMatches(const CryptoSession& session, SealedTagStream& stream, const SecureBuffer& tag);

// Wipes and frees the cipher and MAC contexts and forgets the generator.
void sessionRelease(CryptoSession& session);

// The first 8 bytes of the HMAC of "PPTestValue" under key; empty when key cannot key an HMAC.
SecureBuffer keyCheckValue(const SecureBuffer& key);
