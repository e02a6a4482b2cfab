// Key files, key codes and generated passphrases.

#include "job/key_material.h"

#include <utility>

#include "platform/blob_file.h"
#include "base/byte_fields.h"
#include "base/text.h"
#include "container/key_code.h"
#include "job/texts.h"
#include "random/generator.h"

namespace {

SecureBuffer magicBytes() {
    return SecureBuffer(reinterpret_cast<const uint8_t*>(KEY_FILE_MAGIC), sizeof KEY_FILE_MAGIC - 1);
}

// The key file payload for keyId and key.
SecureBuffer keyFilePayload(const SecureBuffer& keyId, const SecureBuffer& key) {
    SecureBuffer payload;
    appendField(payload, magicBytes());
    appendU16(payload, KEY_FILE_VERSION);
    appendField(payload, keyId);
    appendField(payload, key);
    return payload;
}

// Draws a key and stores its key file at path with store (writeBlobFile or createBlobFile).
KeyMaterialStatus storeNewKey(RandomGenerator& generator, const NativePath& path, const SecureBuffer& keyId,
                              bool (*store)(const NativePath&, const SecureBuffer&)) {
    if (generator.entropy.load() < ENTROPY_THRESHOLD) return GENERATOR_NOT_READY;
    SecureBuffer key;
    if (!generate(generator, key, KEY_FILE_KEY_BYTES, CIPHER_AES256)) return GENERATOR_FAILED;
    return store(path, keyFilePayload(keyId, key)) ? KEY_MATERIAL_OK : KEY_FILE_NOT_WRITTEN;
}

}  // namespace

const char* keyMaterialMessage(KeyMaterialStatus status) {
    switch (status) {
    case KEY_MATERIAL_OK: return nullptr;
    case KEY_FILE_UNREADABLE: return TEXT_KEY_FILE_UNREADABLE;
    case KEY_FILE_BAD_FORMAT: return TEXT_KEY_FILE_BAD_FORMAT;
    case KEY_FILE_BAD_VERSION: return TEXT_KEY_FILE_BAD_VERSION;
    case KEY_FILE_NOT_WRITTEN: return TEXT_KEY_FILE_NOT_WRITTEN;
    case GENERATOR_NOT_READY: return TEXT_GENERATOR_NOT_READY;
    case GENERATOR_FAILED: return TEXT_GENERATOR_FAILED;
    }
    return nullptr;
}

KeyMaterialStatus readKeyFile(const NativePath& path, SecureBuffer& key) {
    ByteReader reader;
    // A key file is 71 bytes: a longer one is no key file, refused before more than its length
    // is read.
    switch (readBoundedBlobFile(path, reader, KEY_FILE_BYTES - 4)) {
    case BLOB_READ: break;
    case BLOB_UNREADABLE: return KEY_FILE_UNREADABLE;
    case BLOB_TOO_LARGE: return KEY_FILE_BAD_FORMAT;
    }
    if (!readFieldDeclared(reader).constantTimeEquals(magicBytes())) return KEY_FILE_BAD_FORMAT;
    if (readU16(reader) != KEY_FILE_VERSION) return KEY_FILE_BAD_VERSION;
    skipField(reader);
    key = readFieldDeclared(reader);
    return KEY_MATERIAL_OK;
}

KeyMaterialStatus writeKeyFile(RandomGenerator& generator, const NativePath& path, const SecureBuffer& keyId) {
    return storeNewKey(generator, path, keyId, writeBlobFile);
}

KeyMaterialStatus createKeyFile(RandomGenerator& generator, const NativePath& path, const SecureBuffer& keyId) {
    return storeNewKey(generator, path, keyId, createBlobFile);
}

KeyMaterialStatus generateKeyCode(RandomGenerator& generator, SecureBuffer& out) {
    if (generator.entropy.load() < ENTROPY_THRESHOLD) return GENERATOR_NOT_READY;
    SecureBuffer bytes;
    if (!generate(generator, bytes, KEY_FILE_KEY_BYTES, CIPHER_AES256) || !formatKeyCode(bytes, out)) {
        return GENERATOR_FAILED;
    }
    return KEY_MATERIAL_OK;
}

KeyMaterialStatus generatePassphrase(RandomGenerator& generator, SecureBuffer& out) {
    constexpr uint32_t ALPHABET_CHARS = sizeof PASSPHRASE_ALPHABET - 1;
    static_assert(ALPHABET_CHARS == 72, "generated passphrases index a 72-character alphabet");
    if (generator.entropy.load() < ENTROPY_THRESHOLD) return GENERATOR_NOT_READY;
    SecureBuffer text = SecureBuffer::zeros(GENERATED_PASSPHRASE_CHARS + 1);
    for (uint32_t i = 0; i < GENERATED_PASSPHRASE_CHARS; ++i) {
        uint32_t index = ALPHABET_CHARS;
        while (index >= ALPHABET_CHARS) {
            uint32_t draw = 0;
            if (!generateUint32(generator, draw)) return GENERATOR_FAILED;
            index = draw & 0x7F;
        }
        text.data()[i] = static_cast<uint8_t>(PASSPHRASE_ALPHABET[index]);
    }
    out = std::move(text);
    return KEY_MATERIAL_OK;
}
