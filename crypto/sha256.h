// SHA-256 (FIPS 180-4) with this system's digest byte order: each state word is handed out
// least-significant byte first. Constant-time: no branch or index depends on the data.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

constexpr uint32_t SHA256_DIGEST_BYTES = 32;
constexpr uint32_t SHA256_BLOCK_BYTES = 64;

// One running hash. Holds message material: every owner calls sha256Wipe on every exit path
// unless sha256Final consumed it on the normal path.
// Invariant: block bytes at and after position byteCount mod 64 are zero.
struct Sha256Context {
    uint32_t byteCountLow = 0;
    uint32_t byteCountHigh = 0;
    uint32_t state[8] = {};
    uint8_t block[SHA256_BLOCK_BYTES] = {};
    bool finished = false;
};

// Starts a new message.
void sha256Init(Sha256Context& ctx);

// Absorbs length bytes. On a finished context it first starts a new message, so the result is
// the hash of the new bytes alone. data may be null only when length is 0.
void sha256Update(Sha256Context& ctx, const uint8_t* data, uint32_t length);
void sha256Update(Sha256Context& ctx, const SecureBuffer& data);

// Pads (unless already finished) and returns the 32-byte digest, each state word stored
// least-significant byte first. Calling it again returns the same digest.
SecureBuffer sha256Final(Sha256Context& ctx);

// Zeroes the state, the block and the byte count; the finished flag keeps its value.
void sha256Wipe(Sha256Context& ctx);

// Digest of a text buffer including its terminating zero byte. A buffer of at most one byte
// (an empty text) gives an empty buffer.
SecureBuffer sha256OfText(const SecureBuffer& text);
