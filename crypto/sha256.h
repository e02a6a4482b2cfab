// SHA-256 (FIPS 180-4) with this system's digest byte order: each state word is handed out
// least-significant byte first. The compression function has a portable engine and one on the
// x86 SHA extensions, chosen once per process. Constant-time: no branch or index depends on the
// data, in either engine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/secure_buffer.h"

constexpr uint32_t SHA256_DIGEST_BYTES = 32;
constexpr uint32_t SHA256_BLOCK_BYTES = 64;

// Which compression function runs. Both give the same bytes; the portable one is the reference.
enum Sha256Engine : uint32_t { SHA256_ENGINE_PORTABLE = 0, SHA256_ENGINE_SHA_NI = 1 };

// Whether engine can run in this process: the portable engine always, SHA_NI when cpuFeatures()
// reports sha (so never under FERROLYN_PORTABLE).
bool sha256EngineAvailable(Sha256Engine engine);

// The fastest available engine, decided on the first call and the same ever after.
// crypto/engines.h records it beside the other primitives' choices and names it.
Sha256Engine sha256PreferredEngine();

// Compresses blockCount consecutive 64-byte blocks at blocks into state, the FIPS 180-4 words
// H0..H7 (no digest byte order here). blocks may be unaligned and may be null when blockCount is
// 0. engine MUST be available (sha256EngineAvailable), or the process may die on an illegal
// instruction. The state stays in spilled registers below the caller's frame: a caller whose state
// derives from a key runs stackScrub (base/stack_scrub.h) once its run of compressions is done,
// as sha256Final, HMAC and PBKDF2 do.
void sha256Compress(uint32_t state[8], const uint8_t* blocks, size_t blockCount, Sha256Engine engine);
void sha256Compress(uint32_t state[8], const uint8_t* blocks, size_t blockCount);

// One running hash. Holds message material: every owner calls sha256Wipe on every exit path
// unless sha256Final consumed it on the normal path.
// Invariant: block bytes at and after position byteCount mod 64 are zero.
struct Sha256Context {
    uint32_t byteCountLow = 0;
    uint32_t byteCountHigh = 0;
    uint32_t state[8] = {};
    uint8_t block[SHA256_BLOCK_BYTES] = {};
    bool finished = false;
    Sha256Engine engine = SHA256_ENGINE_PORTABLE;
};

// Starts a new message, compressed by the preferred engine or by the one given, which MUST be
// available. A restart after the digest keeps the engine.
void sha256Init(Sha256Context& ctx);
void sha256Init(Sha256Context& ctx, Sha256Engine engine);

// Starts a message whose first blockCount × 64 bytes are already compressed into midstate (as
// sha256Compress left it), so that only the bytes after them are fed in; the byte count starts at
// blockCount × 64. blockCount MUST be below 2^26. engine MUST be available.
void sha256InitFromMidstate(Sha256Context& ctx, const uint32_t midstate[8], uint32_t blockCount, Sha256Engine engine);

// Absorbs length bytes. On a finished context it first starts a new message, so the result is
// the hash of the new bytes alone. data may be null only when length is 0.
void sha256Update(Sha256Context& ctx, const uint8_t* data, uint32_t length);
void sha256Update(Sha256Context& ctx, const SecureBuffer& data);

// Pads (unless already finished) and returns the 32-byte digest, each state word stored
// least-significant byte first. The padding's compressions are followed by a stackScrub.
// Calling it again returns the same digest.
SecureBuffer sha256Final(Sha256Context& ctx);

// Zeroes the state, the block and the byte count; the finished flag and the engine keep their
// values.
void sha256Wipe(Sha256Context& ctx);

// Digest of a text buffer including its terminating zero byte. A buffer of at most one byte
// (an empty text) gives an empty buffer.
SecureBuffer sha256OfText(const SecureBuffer& text);
