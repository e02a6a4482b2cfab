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

// --- The sealed blob ---
// sealChunks and openChunk are the one implementation of the sealed blob: they work in the
// caller's memory, with the IV drawn apart from the sealing. They read the session's cipher and
// MAC contexts and never its valid flag, so one thread may draw IVs while several others seal or
// open at once. sessionEncryptChunk and sessionDecryptChunk are the same blob on a SecureBuffer.

// Bytes of the sealed blob of a payload of payloadBytes: 16 × (n / 16 + 1) + 48.
// payloadBytes may be beyond 32 bits, for sizes computed from a file.
constexpr uint64_t sealedBlobBytes(uint64_t payloadBytes) {
    return cipherPaddedBytes(payloadBytes) + SEALED_OVERHEAD_BYTES;
}

// Draws the next IV into iv: 16 bytes from the session's generator with the job's cipher, as every
// sealing does, so that IVs drawn in chunk order give the same container however the chunks are
// sealed afterwards. False, with iv zeroed, when the session is not valid or has no generator, or
// the generator cannot give 16 bytes; a generator that is not ready also leaves the session no
// longer valid.
[[nodiscard]] bool sessionDrawIv(CryptoSession& session, uint8_t iv[SEALED_IV_BYTES]);

// One blob to seal in place: the IV in blob[0..16), the payload in blob[16..16 + payloadBytes),
// and room up to sealedBlobBytes(payloadBytes), which sealing fills with the padding and the tag.
struct SealRegion {
    uint8_t* blob;
    uint32_t payloadBytes;
};

// Seals each region in place into its sealed blob with the IV in front of it: the padded CBC
// encryption from that IV, then the tag over IV and ciphertext. The chunks' CBC chains run side by
// side as the cipher's CBC lanes. regions MUST NOT overlap, and each MUST have the room above.
// False when the session's contexts are not keyed, or a payload is too long for a 32-bit blob;
// the regions are then wiped (all but a too-long one).
[[nodiscard]] bool sealChunks(const CryptoSession& session, SealRegion* regions, size_t count);

// Opens the sealed blob of blobBytes bytes at blob in place: the tag first, then the decryption
// and the padding's count byte. On success the payload is at blob + SEALED_IV_BYTES and
// payloadBytes holds its length. On failure (contexts not keyed, fewer than 64 bytes, a length
// that is no whole number of blocks, wrong tag, a count byte above 16) the blob is wiped and
// payloadBytes is 0.
[[nodiscard]] bool openChunk(const CryptoSession& session, uint8_t* blob, uint32_t blobBytes, uint32_t& payloadBytes);

// Replaces the payload in buffer by its sealed blob: a fresh IV (sessionDrawIv) and sealChunks.
// A session that is not valid, a missing generator or a generator failure: false with buffer wiped.
// A generator that is not ready: false, the session no longer valid, and the plaintext left in buffer.
[[nodiscard]] bool sessionEncryptChunk(CryptoSession& session, SecureBuffer& buffer);

// Replaces a sealed blob by its payload (openChunk). Any failure, a session that is not valid
// included, wipes buffer and returns false.
[[nodiscard]] bool sessionDecryptChunk(CryptoSession& session, SecureBuffer& buffer);

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
