// PBKDF2-HMAC-SHA256 with the system's salt suffix.

#include "crypto/pbkdf2.h"

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "crypto/hmac.h"

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

    SecureBuffer result = SecureBuffer::zeros(PBKDF2_OUTPUT_BYTES);
    for (uint32_t i = 0; i < PBKDF2_ITERATIONS; ++i) {
        u = hmacCompute(prf, u);
        for (uint32_t j = 0; j < PBKDF2_OUTPUT_BYTES; ++j) result.data()[j] ^= u.data()[j];
    }
    out = std::move(result);
    return true;
}
