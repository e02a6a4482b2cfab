// PBKDF2-HMAC-SHA256 with the system's salt suffix. The two key blocks are hashed once and the
// resulting midstates are copied for every iteration, which halves the compressions of a plain
// HMAC call; the values are those of hmacCompute.

#include "crypto/pbkdf2.h"

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "crypto/hmac.h"
#include "crypto/sha256.h"

bool pbkdf2Sha256(const SecureBuffer& password, const SecureBuffer& salt, SecureBuffer& out) {
    if (password.size() != PBKDF2_PASSWORD_BYTES || salt.size() != PBKDF2_SALT_BYTES) {
        out.wipe();
        return false;
    }
    HmacSha256 prf;
    ScopeExit releasePrf([&] { hmacRelease(prf); });
    hmacInit(prf, password);

    // The salt is followed by the iteration count as a little-endian word, where RFC 2898 puts
    // the block index 00 00 00 01; existing containers depend on this suffix.
    uint8_t suffix[4];
    store32Le(suffix, PBKDF2_ITERATIONS);
    SecureBuffer u(salt);
    u.append(suffix, sizeof suffix);
    secureWipe(suffix, sizeof suffix);

    Sha256Context innerStart, outerStart, running;
    ScopeExit wipeContexts([&] {
        sha256Wipe(innerStart);
        sha256Wipe(outerStart);
        sha256Wipe(running);
    });
    sha256Init(innerStart);
    sha256Update(innerStart, prf.innerKeyBlock);
    sha256Init(outerStart);
    sha256Update(outerStart, prf.outerKeyBlock);

    SecureBuffer result = SecureBuffer::zeros(PBKDF2_OUTPUT_BYTES);
    for (uint32_t i = 0; i < PBKDF2_ITERATIONS; ++i) {
        running = innerStart;
        sha256Update(running, u);
        SecureBuffer innerDigest = sha256Final(running);
        running = outerStart;
        sha256Update(running, innerDigest);
        u = sha256Final(running);
        for (uint32_t j = 0; j < PBKDF2_OUTPUT_BYTES; ++j) result.data()[j] ^= u.data()[j];
    }
    out = std::move(result);
    return true;
}
