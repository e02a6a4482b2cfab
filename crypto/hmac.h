// HMAC-SHA256 with the RFC 2104 structure over this system's SHA-256: the inner digest enters the
// outer hash, and the tag leaves, in that hash's digest byte order. Keys must be 16 to 64 bytes;
// a longer key is refused, never hashed down. Constant-time, verification included.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

constexpr uint32_t HMAC_MIN_KEY_BYTES = 16;
constexpr uint32_t HMAC_MAX_KEY_BYTES = 64;
constexpr uint32_t HMAC_TAG_BYTES = 32;

// A keyed context. It keeps only the two padded key blocks, never the key.
struct HmacSha256 {
    SecureBuffer innerKeyBlock;  // 64 bytes of K0 ^ 0x36, empty when invalid
    SecureBuffer outerKeyBlock;  // 64 bytes of K0 ^ 0x5c, empty when invalid
    bool invalid = false;
};

// Keys ctx. A key outside 16..64 bytes leaves both blocks empty and sets invalid, and every later
// operation fails.
void hmacInit(HmacSha256& ctx, const SecureBuffer& key);

// The 32-byte tag of length bytes at message; empty when ctx is invalid.
SecureBuffer hmacCompute(const HmacSha256& ctx, const uint8_t* message, uint32_t length);
SecureBuffer hmacCompute(const HmacSha256& ctx, const SecureBuffer& message);

// Whether tag is the tag of message, compared over every byte with no early exit. False when
// ctx is invalid or tag has another length.
bool hmacVerify(const HmacSha256& ctx, const SecureBuffer& message, const SecureBuffer& tag);
bool hmacVerify(const HmacSha256& ctx, const uint8_t* message, uint32_t length, const SecureBuffer& tag);

// Wipes and frees both key blocks.
void hmacRelease(HmacSha256& ctx);
