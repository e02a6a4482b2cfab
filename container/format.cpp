// Container header building and parsing.

#include "container/format.h"

#include "base/byte_fields.h"
#include "base/byte_order.h"
#include "container/key_code.h"
#include "container/session.h"
#include "crypto/pbkdf2.h"
#include "crypto/sha256.h"
#include "random/generator.h"

namespace {

SecureBuffer magicBytes() {
    return SecureBuffer(reinterpret_cast<const uint8_t*>(CONTAINER_MAGIC), CONTAINER_MAGIC_BYTES);
}

// The master key of a passphrase container: PBKDF2 of the hashed passphrase text and the salt.
bool derivePassphraseKey(const SecureBuffer& passphrase, const SecureBuffer& salt, SecureBuffer& masterKey) {
    SecureBuffer hashed = sha256OfText(passphrase);
    return pbkdf2Sha256(hashed, salt, masterKey);
}

// One byte, or 0 past the end, like the reader's other integers.
uint8_t readU8(ByteReader& reader) {
    uint8_t value = reader.position < reader.input.size() ? reader.input.data()[reader.position] : 0;
    if (reader.position < UINT32_MAX) ++reader.position;
    return value;
}

}  // namespace

bool masterKeyFromJobKey(const JobKey& key, PipelineDirection direction, SecureBuffer& masterKey, KeyMode& keyMode,
                         JobResult& result) {
    masterKey.wipe();
    keyMode = KEY_MODE_RAW;
    switch (key.method) {
    case KEY_FILE:
        if (key.material.size() != MASTER_KEY_BYTES) {
            return failJob(result, direction == DIRECTION_ENCRYPT ? RESULT_CRYPTO_ERROR : RESULT_WRONG_KEY);
        }
        masterKey = key.material;
        return true;
    case KEY_CODE:
        if (!keyFromKeyCode(key.material, masterKey)) return failJob(result, RESULT_WRONG_KEY);
        return true;
    case PASSPHRASE: keyMode = KEY_MODE_PASSPHRASE; return true;
    }
    return failJob(result, RESULT_WRONG_KEY);
}

bool buildHeader(SecureBuffer& masterKey, const PipelineOptions& options, KeyMode keyMode,
                 const SecureBuffer& passphrase, SecureBuffer& header, JobResult& result) {
    header.wipe();
    SecureBuffer salt;
    if (keyMode == KEY_MODE_PASSPHRASE) {
        // Salts are always drawn with AES-256, whatever the job's cipher.
        if (options.generator == nullptr || !generate(*options.generator, salt, PBKDF2_SALT_BYTES, CIPHER_AES256) ||
            !derivePassphraseKey(passphrase, salt, masterKey)) {
            return failJob(result, RESULT_CRYPTO_ERROR);
        }
    }
    SecureBuffer checkValue = keyCheckValue(masterKey);
    if (checkValue.size() != CHECK_VALUE_BYTES) return failJob(result, RESULT_CRYPTO_ERROR);
    if (options.cipher != CIPHER_AES256 && options.cipher != CIPHER_SERPENT) {
        return failJob(result, RESULT_CRYPTO_ERROR);
    }

    SecureBuffer built;
    appendField(built, magicBytes());
    appendU16(built, CONTAINER_VERSION);
    const uint8_t fixed[] = {static_cast<uint8_t>(options.cipher), static_cast<uint8_t>(options.compress ? 1 : 0),
                             static_cast<uint8_t>(keyMode)};
    built.append(fixed, sizeof fixed);
    if (keyMode == KEY_MODE_PASSPHRASE) appendField(built, salt);
    appendField(built, checkValue);
    header = std::move(built);
    return true;
}

bool parseHeader(const SecureBuffer& header, KeyMode keyMode, const SecureBuffer& passphrase, SecureBuffer& masterKey,
                 bool& compressed, CipherAlgorithm& cipher, JobResult& result) {
    ByteReader reader{header, 0};
    if (!readField(reader).constantTimeEquals(magicBytes())) return failJob(result, RESULT_READ_ERROR);
    if (readU16(reader) != CONTAINER_VERSION) return failJob(result, RESULT_READ_ERROR);

    const uint8_t cipherByte = readU8(reader);
    const uint8_t compressedByte = readU8(reader);
    const uint8_t keyModeByte = readU8(reader);
    if (cipherByte > CIPHER_SERPENT || compressedByte > 1) return failJob(result, RESULT_READ_ERROR);
    if (keyModeByte != keyMode) return failJob(result, RESULT_WRONG_KEY);

    if (keyMode == KEY_MODE_PASSPHRASE) {
        SecureBuffer salt = readField(reader);
        if (!derivePassphraseKey(passphrase, salt, masterKey)) return failJob(result, RESULT_CRYPTO_ERROR);
    }
    SecureBuffer stored = readField(reader);
    SecureBuffer computed = keyCheckValue(masterKey);
    // An empty computed value (a key of the wrong length) must not match an empty stored field.
    if (stored.size() != CHECK_VALUE_BYTES || !computed.constantTimeEquals(stored)) {
        return failJob(result, RESULT_WRONG_KEY);
    }
    cipher = static_cast<CipherAlgorithm>(cipherByte);
    compressed = compressedByte == 1;
    return true;
}

bool describeHeader(const SecureBuffer& header, HeaderFields& fields) {
    ByteReader reader{header, 0};
    if (!readField(reader).constantTimeEquals(magicBytes()) || readU16(reader) != CONTAINER_VERSION) return false;
    const uint8_t cipherByte = readU8(reader);
    const uint8_t compressedByte = readU8(reader);
    const uint8_t keyModeByte = readU8(reader);
    if (cipherByte > CIPHER_SERPENT || compressedByte > 1 || keyModeByte > KEY_MODE_PASSPHRASE) return false;
    fields.cipher = static_cast<CipherAlgorithm>(cipherByte);
    fields.compressed = compressedByte == 1;
    fields.keyMode = static_cast<KeyMode>(keyModeByte);
    return true;
}

uint32_t tableAreaSize(uint32_t chunkCount) {
    return static_cast<uint32_t>(sealedBlobBytes(4 + 4 * uint64_t{chunkCount}));
}

void chunkIndexStore(uint8_t* payload, uint32_t index) { store32Be(payload, index); }

bool chunkIndexMatches(const uint8_t* payload, uint32_t payloadBytes, uint32_t index) {
    return payloadBytes >= CHUNK_INDEX_BYTES && load32Be(payload) == index;
}

bool chunkCountFor(uint64_t sourceBytes, uint32_t& chunkCount) {
    chunkCount = 0;
    const uint64_t chunks = (sourceBytes >> CHUNK_SHIFT) + ((sourceBytes & (CHUNK_SIZE - 1)) != 0 ? 1 : 0);
    if (chunks > MAX_CHUNKS) return false;
    chunkCount = static_cast<uint32_t>(chunks);
    return true;
}
