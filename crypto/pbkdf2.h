// PBKDF2 with this system's HMAC-SHA256 as the pseudo-random function, one 32-byte output block
// and a fixed 75,000 iterations. The salt is extended by the iteration count (F8 24 01 00), not by
// the block index of RFC 2898; stored containers depend on this. Constant-time.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"
#include "crypto/sha256.h"

constexpr uint32_t PBKDF2_ITERATIONS = 75000;
constexpr uint32_t PBKDF2_PASSWORD_BYTES = 32;
constexpr uint32_t PBKDF2_SALT_BYTES = 8;
constexpr uint32_t PBKDF2_OUTPUT_BYTES = 32;

// Derives 32 bytes from a 32-byte password and an 8-byte salt into out (old contents wiped), with
// the preferred SHA-256 engine or with the one given, which MUST be available
// (sha256EngineAvailable). Any other password or salt length: false with out wiped and empty.
[[nodiscard]] bool pbkdf2Sha256(const SecureBuffer& password, const SecureBuffer& salt, SecureBuffer& out);
[[nodiscard]] bool pbkdf2Sha256(const SecureBuffer& password, const SecureBuffer& salt, SecureBuffer& out,
                                Sha256Engine engine);
