// HMAC-SHA256 with the RFC 2104 structure over this system's SHA-256: the inner digest enters the
// outer hash, and the tag leaves, in that hash's digest byte order. Keys must be 16 to 64 bytes;
// a longer key is refused, never hashed down. Constant-time, verification included.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"
#include "crypto/sha256.h"

constexpr uint32_t HMAC_MIN_KEY_BYTES = 16;
constexpr uint32_t HMAC_MAX_KEY_BYTES = 64;
constexpr uint32_t HMAC_TAG_BYTES = 32;
constexpr uint32_t HMAC_MIDSTATE_BYTES = 32;

// A keyed context. It keeps the two padded key blocks and the SHA-256 state after each of them
// alone (the midstates), never the key; a tag then costs only the message's compressions and two
// to finish. A midstate holds the eight state words, each least-significant byte first (an
// in-memory choice; no format depends on it). Every buffer is empty when the context is not valid
// (never keyed, refused or released).
struct HmacSha256 {
    SecureBuffer innerKeyBlock;  // 64 bytes of K0 ^ 0x36
    SecureBuffer outerKeyBlock;  // 64 bytes of K0 ^ 0x5c
    SecureBuffer innerMidstate;  // the inner key block compressed from the initial hash value
    SecureBuffer outerMidstate;  // the outer key block compressed from the initial hash value
    Sha256Engine engine = SHA256_ENGINE_PORTABLE;
    bool valid = false;  // set once a key has been taken
};

// Keys ctx, computing with the preferred SHA-256 engine or with the one given, which MUST be
// available (sha256EngineAvailable). A key outside 16..64 bytes leaves every buffer empty and the
// context not valid, and every later operation fails. May throw 0 when memory runs out.
void hmacInit(HmacSha256& ctx, const SecureBuffer& key);
void hmacInit(HmacSha256& ctx, const SecureBuffer& key, Sha256Engine engine);

// The 32-byte tag of length bytes at message; empty when ctx is not valid. message may
// be null only when length is 0.
SecureBuffer hmacCompute(const HmacSha256& ctx, const uint8_t* message, uint32_t length);
SecureBuffer hmacCompute(const HmacSha256& ctx, const SecureBuffer& message);

// Whether tag is the tag of message, compared over every byte with no early exit. False when
// ctx is not valid or tag has another length.
[[nodiscard]] bool hmacVerify(const HmacSha256& ctx, const SecureBuffer& message, const SecureBuffer& tag);
[[nodiscard]] bool hmacVerify(const HmacSha256& ctx, const uint8_t* message, uint32_t length, const SecureBuffer& tag);

// Reads a midstate of ctx (innerMidstate or outerMidstate) into eight state words.
// midstate MUST hold HMAC_MIDSTATE_BYTES bytes.
void hmacLoadMidstate(const SecureBuffer& midstate, uint32_t state[8]);

// Wipes and frees both key blocks and both midstates.
void hmacRelease(HmacSha256& ctx);
