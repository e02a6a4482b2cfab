// The cipher context: hides whether AES-256 or Serpent is in use and offers padded CBC over a
// whole buffer, the deterministic counter-mode key stream and the encryption of a 4096-byte pool
// as independent blocks. Constant-time only as far as the selected block cipher is (AES on its
// portable engine is not). AES runs on aesPreferredEngine().
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/secure_buffer.h"
#include "crypto/aes.h"
#include "crypto/cbc_lanes.h"
#include "crypto/serpent.h"

// Stored in settings, container headers and the generator's arguments, so values never change.
// Values other than these two can reach cipherInit from a file and are refused there.
enum CipherAlgorithm : uint32_t { CIPHER_AES256 = 0, CIPHER_SERPENT = 1 };

// The only mode there is: cipher block chaining.
constexpr uint32_t CIPHER_MODE_CBC = 1;
constexpr uint32_t CIPHER_BLOCK_BYTES = 16;
constexpr uint32_t CIPHER_POOL_BYTES = 4096;

// The system's block padding: n bytes are followed by p − 1 zero bytes and one byte p,
// p = 16 − (n mod 16) in 1..16, so a whole block is added when n is a multiple of 16.
constexpr uint64_t cipherPaddedBytes(uint64_t n) { return uint64_t{CIPHER_BLOCK_BYTES} * (n / CIPHER_BLOCK_BYTES + 1); }

// Writes the padding behind the n bytes at data, which MUST have room up to cipherPaddedBytes(n)
// (that length MUST fit 32 bits), and returns the padded length.
uint32_t cipherPad(uint8_t* data, uint32_t n);

// The length that remains of a decrypted padded plaintext of length bytes (length ≥ 16) by its
// last byte c: c above 16 is refused (false); c at or above the length (one block ending in 16)
// leaves nothing; c = 0 drops nothing. The bytes in front of c are not checked.
[[nodiscard]] bool cipherUnpaddedBytes(const uint8_t* plaintext, uint32_t length, uint32_t& unpaddedBytes);

// Both schedules are owned by value; the one matching algorithm is keyed when the context is
// valid, the other stays empty. chainingBlock is the CBC register: the IV before a padded
// operation, the last ciphertext block during it, all zero after it (16 bytes once initialised).
// Everything secret lives in SecureBuffers, so destroying a context wipes it even without
// cipherRelease.
struct CipherContext {
    CipherAlgorithm algorithm = CIPHER_AES256;
    uint32_t mode = 0;
    AesKeySchedule aes;
    SerpentKeySchedule serpent;
    bool valid = false;
    SecureBuffer chainingBlock;
};

// Sets mode to CIPHER_MODE_CBC, the algorithm as given and the chaining block to 16 zero bytes,
// and wipes any schedule the context held. With a 16-, 24- or 32-byte key and CIPHER_AES256 or
// CIPHER_SERPENT it keys that cipher and marks the context valid; any other key length or
// algorithm leaves the context not valid (every later operation then fails). May throw 0 when
// memory runs out.
void cipherInit(CipherContext& ctx, CipherAlgorithm algorithm, const SecureBuffer& key);

// Writes the 16 bytes at iv into the chaining block; the next padded operation starts from them.
void cipherSetChainingBlock(CipherContext& ctx, const uint8_t iv[16]);

// Replaces the plaintext in buffer by its CBC encryption from the current chaining block, after
// padding it with p − 1 zero bytes and one byte p, p = 16 − (length mod 16) in 1..16; the result
// is 16 × (length / 16 + 1) bytes. The chaining block is zero afterwards.
// On failure (context not valid) the buffer is wiped and left empty and the result is false.
[[nodiscard]] bool cipherEncryptPadded(CipherContext& ctx, SecureBuffer& buffer);

// Replaces a CBC ciphertext in buffer by its plaintext, decrypting from the current chaining
// block and then dropping as many final bytes as the last byte c says: c = 0 drops nothing, and
// c equal to or above the length (one block ending in 16) leaves an empty plaintext. The bytes in
// front of c are not checked.
// Fails, leaving buffer unchanged, when the context is not valid or the length is not a multiple
// of 16 (chaining block unchanged too), or when c is above 16 (chaining block zero). On success
// the chaining block is zero. An empty buffer has no byte c: it throws 0 and stays empty.
// Callers decrypt only ciphertexts whose tag they checked, which hold at least one block.
[[nodiscard]] bool cipherDecryptPadded(CipherContext& ctx, SecureBuffer& buffer);

// Encrypts the 256 consecutive 16-byte blocks at region in place, each on its own (no chaining).
// region MUST hold CIPHER_POOL_BYTES writable bytes. Returns false at once when the context is
// not valid (region unchanged), or when the block cipher refuses its schedule, which a context
// keyed by cipherInit never does (the blocks it refused are then zeroed).
[[nodiscard]] bool cipherEncryptPool(CipherContext& ctx, uint8_t* region);

// Fills out with the first length bytes of E(counter 0) ‖ E(counter 1) ‖ …, where counter i is
// four copies of i as a 32-bit little-endian number and each counter block is encrypted on its
// own. The chaining block is neither used nor changed. length 0 gives an empty out.
// On failure (context not valid) out is left unchanged and the result is false.
[[nodiscard]] bool cipherKeystream(CipherContext& ctx, SecureBuffer& out, uint32_t length);

// --- CBC over memory the caller owns, for the sealed chunks ---
// No padding and no chaining block of the context: these only run the selected cipher, on its
// fastest available path, and read nothing of the context but its schedule. Several threads may
// run them on one keyed context at once.

// How many chains cipherCbcEncryptLanes wants at once for algorithm's fast path to pay; a caller
// whose lanes are 2 MiB chunks bounds its memory by it. Serpent's CBC encryption runs one block
// at a time per chain, and the SIMD lanes pay only with several chains side by side (about
// 200 MB/s per core with 4, 290 with 6, 360 with 8). One AES chain waits out each block's rounds
// (about 1.2 ns a byte with AES-NI, twice the MAC's time), and four chains side by side take that
// time together: four is where the chains stop being the larger part of a chunk's sealing.
uint32_t cipherLanesWanted(CipherAlgorithm algorithm);

// CBC encryption of laneCount independent chains (crypto/cbc_lanes.h: each lane's chainingBlock
// holds its IV on entry and its last ciphertext block on return), as encrypting them one after
// the other would give; the fast paths run blocks of several lanes side by side. False when the
// context is not valid; every lane's data and chaining block are then zeroed.
[[nodiscard]] bool cipherCbcEncryptLanes(const CipherContext& ctx, CbcLane* lanes, size_t laneCount);

// CBC decryption of blockCount blocks from input to output, chaining from the 16 bytes at iv
// (left unchanged). output is input itself or does not overlap it; iv lies in neither. False,
// with nothing written, when the context is not valid.
[[nodiscard]] bool cipherCbcDecrypt(const CipherContext& ctx, const uint8_t iv[16], const uint8_t* input,
                                    uint8_t* output, size_t blockCount);

// Wipes and frees both schedules and the chaining block and leaves the context not valid.
void cipherRelease(CipherContext& ctx);
