// The container's fixed bytes: the header with its key check value (and salt for passphrases),
// and the size of the reserved chunk-table area. Owns buildHeader, parseHeader, tableAreaSize.
#pragma once

#include <cstdint>

#include "base/chunk.h"
#include "base/secure_buffer.h"
#include "container/pipeline_records.h"
#include "crypto/cipher.h"

// "EncryptedFile", stored without a terminating zero.
constexpr char CONTAINER_MAGIC[] = "EncryptedFile";
constexpr uint32_t CONTAINER_MAGIC_BYTES = sizeof CONTAINER_MAGIC - 1;
constexpr uint16_t CONTAINER_VERSION = 0;
// Largest header size the reader accepts.
constexpr uint32_t MAX_HEADER_SIZE = 10240;
// Header sizes as written for each key mode.
constexpr uint32_t HEADER_SIZE_RAW = 34;
constexpr uint32_t HEADER_SIZE_PASSPHRASE = 46;

enum KeyMode : uint8_t { KEY_MODE_RAW = 0, KEY_MODE_PASSPHRASE = 1 };

// Which way a pipeline runs, where the two differ in how they report a key.
enum PipelineDirection : uint8_t { DIRECTION_ENCRYPT, DIRECTION_DECRYPT };

// Turns the user's key into what the header needs, the same way in both directions: a key-file
// key must be 32 bytes and becomes masterKey; a key code must be well formed (else
// RESULT_WRONG_KEY) and masterKey receives the key it spells; a passphrase gives
// KEY_MODE_PASSPHRASE and an empty masterKey, which buildHeader or parseHeader derive later.
// A key-file key of another length cannot make a container (RESULT_CRYPTO_ERROR when encrypting)
// and is no container's key (RESULT_WRONG_KEY when decrypting).
[[nodiscard]] bool masterKeyFromJobKey(const JobKey& key, PipelineDirection direction, SecureBuffer& masterKey,
                                       KeyMode& keyMode, JobResult& result);

// Builds the header bytes (without the leading size). With KEY_MODE_RAW masterKey holds the
// 32-byte key; with KEY_MODE_PASSPHRASE it receives the key derived from the passphrase text (with
// its NUL) and an 8-byte salt drawn from options.generator with AES-256.
// Fails with RESULT_CRYPTO_ERROR when the salt cannot be drawn, the derivation fails, the key
// gives no 8-byte check value or options.cipher is not a known algorithm; header is then empty.
[[nodiscard]] bool buildHeader(SecureBuffer& masterKey, const PipelineOptions& options, KeyMode keyMode,
                               const SecureBuffer& passphrase, SecureBuffer& header, JobResult& result);

// Reads a header and checks the key against it. keyMode is the mode the user's key method implies.
// With KEY_MODE_RAW masterKey holds the key; with KEY_MODE_PASSPHRASE it receives the derived key.
// Failures, first one wins: bad magic, version, cipher or compressed byte → RESULT_READ_ERROR;
// another key mode than expected, or a check value that is not the key's (a stored or computed
// value of other than 8 bytes never matches) → RESULT_WRONG_KEY; a derivation that fails (a salt
// field of other than 8 bytes) → RESULT_CRYPTO_ERROR. Bytes after the check value are ignored.
[[nodiscard]] bool parseHeader(const SecureBuffer& header, KeyMode keyMode, const SecureBuffer& passphrase,
                               SecureBuffer& masterKey, bool& compressed, CipherAlgorithm& cipher, JobResult& result);

// What a header says about itself, read without a key.
struct HeaderFields {
    CipherAlgorithm cipher = CIPHER_AES256;
    bool compressed = false;
    KeyMode keyMode = KEY_MODE_RAW;
};

// Reads magic, version, cipher, compressed flag and key mode; false when any of them is not valid
// (an unknown key mode included).
[[nodiscard]] bool describeHeader(const SecureBuffer& header, HeaderFields& fields);

// Size of the sealed chunk table for chunkCount chunks: ((4n + 4) rounded down to 16) + 64.
// chunkCount MUST be below 2^30 - 16 (a file of 2 PiB), or the size does not fit 32 bits.
uint32_t tableAreaSize(uint32_t chunkCount);
