// The container's fixed bytes: the header with its key check value (and salt for passphrases),
// and the size of the reserved chunk-table area. Owns buildHeader, parseHeader, tableAreaSize.
#pragma once

#include <cstdint>

#include "base/chunk.h"
#include "base/secure_buffer.h"
#include "codec/framing.h"
#include "container/pipeline_records.h"
#include "container/session.h"
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
// chunkCount MUST be at most MAX_CHUNKS, or the size does not fit 32 bits.
uint32_t tableAreaSize(uint32_t chunkCount);

// Each chunk's payload starts with the chunk's index, 4 bytes, most significant first, so that
// chunks cannot be reordered.
constexpr uint32_t CHUNK_INDEX_BYTES = 4;

// Writes index in front of a chunk's data; payload MUST have CHUNK_INDEX_BYTES of room.
void chunkIndexStore(uint8_t* payload, uint32_t index);

// Whether the opened payload of payloadBytes bytes starts with index.
[[nodiscard]] bool chunkIndexMatches(const uint8_t* payload, uint32_t payloadBytes, uint32_t index);

// The largest sealed chunk a container holds: the index and the largest codec block (an
// uncompressed chunk is smaller still), padded and sealed; 2 MiB + 64 bytes. A table entry above
// it names no chunk a writer can make: the container is damaged, and its reader refuses it before
// it allocates anything of that size.
constexpr uint32_t MAX_SEALED_CHUNK_BYTES =
    static_cast<uint32_t>(sealedBlobBytes(CHUNK_INDEX_BYTES + CODEC_BLOCK_MAX_BYTES));
static_assert(MAX_SEALED_CHUNK_BYTES == CHUNK_SIZE + 64);

// The most chunks a container can have: its sealed table, 4 + 4n bytes padded and sealed, has a
// 32-bit size. Sources of more chunks (about 2 PiB) are refused.
// The largest payload whose sealed blob has a 32-bit size: the last byte before the padding
// would add a block too many.
constexpr uint32_t MAX_TABLE_PAYLOAD_BYTES =
    ((UINT32_MAX - SEALED_OVERHEAD_BYTES) / CIPHER_BLOCK_BYTES - 1) * CIPHER_BLOCK_BYTES + CIPHER_BLOCK_BYTES - 1;
constexpr uint32_t MAX_CHUNKS = (MAX_TABLE_PAYLOAD_BYTES - 4) / 4;
static_assert(sealedBlobBytes(4 + 4 * MAX_CHUNKS) <= UINT32_MAX && MAX_CHUNKS == 1073741806);
static_assert(sealedBlobBytes(4 + 4 * (MAX_CHUNKS + 1)) > UINT32_MAX);

// The chunks of a source of sourceBytes bytes into chunkCount. False, with chunkCount 0, when
// there would be more than MAX_CHUNKS.
[[nodiscard]] bool chunkCountFor(uint64_t sourceBytes, uint32_t& chunkCount);
