// PBKDF2-HMAC-SHA256 with the system's salt suffix. After the first HMAC, every iteration is two
// direct compressions: the 32-byte U and then the inner digest, each padded into one fixed block,
// compressed from the HMAC context's midstates. The values are those of hmacCompute.

#include "crypto/pbkdf2.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "base/stack_scrub.h"
#include "crypto/hmac.h"

namespace {

constexpr uint32_t DIGEST_WORDS = 8;

// Message length of both hashes of an iteration in bits: one key block and one 32-byte digest.
constexpr uint64_t ITERATION_MESSAGE_BITS = 8 * (SHA256_BLOCK_BYTES + SHA256_DIGEST_BYTES);

// Iterations 2 to PBKDF2_ITERATIONS from the first U, XORed into result (the state words of the
// output). Kept out of line, so that everything the loop spills lies below the caller's frame,
// where its stack scrub reaches.
__attribute__((noinline)) void iterate(const HmacSha256& prf, const SecureBuffer& firstU, Sha256Engine engine,
                                       uint32_t result[DIGEST_WORDS]) {
    uint32_t innerStart[DIGEST_WORDS];
    uint32_t outerStart[DIGEST_WORDS];
    uint32_t state[DIGEST_WORDS];
    uint32_t u[DIGEST_WORDS];
    // Bytes 0..31 take each iteration's message; the rest is its fixed padding.
    uint8_t block[SHA256_BLOCK_BYTES] = {};
    ScopeExit wipeLocals([&] {
        secureWipe(innerStart, sizeof innerStart);
        secureWipe(outerStart, sizeof outerStart);
        secureWipe(state, sizeof state);
        secureWipe(u, sizeof u);
        secureWipe(block, sizeof block);
    });
    hmacLoadMidstate(prf.innerMidstate, innerStart);
    hmacLoadMidstate(prf.outerMidstate, outerStart);
    block[SHA256_DIGEST_BYTES] = 0x80;
    store64Be(block + SHA256_BLOCK_BYTES - 8, ITERATION_MESSAGE_BITS);

    // U and the result are kept as the state words they come from. A digest hands each word out
    // least-significant byte first, and that is the byte order in which each U, and each inner
    // digest, enters the next hash; existing containers depend on it.
    for (uint32_t j = 0; j < DIGEST_WORDS; ++j) u[j] = result[j] = load32Le(firstU.data() + 4 * j);
    for (uint32_t i = 1; i < PBKDF2_ITERATIONS; ++i) {
        for (uint32_t j = 0; j < DIGEST_WORDS; ++j) store32Le(block + 4 * j, u[j]);
        std::memcpy(state, innerStart, sizeof state);
        sha256Compress(state, block, 1, engine);
        for (uint32_t j = 0; j < DIGEST_WORDS; ++j) store32Le(block + 4 * j, state[j]);
        std::memcpy(u, outerStart, sizeof u);
        sha256Compress(u, block, 1, engine);
        for (uint32_t j = 0; j < DIGEST_WORDS; ++j) result[j] ^= u[j];
    }
}

}  // namespace

bool pbkdf2Sha256(const SecureBuffer& password, const SecureBuffer& salt, SecureBuffer& out) {
    return pbkdf2Sha256(password, salt, out, sha256PreferredEngine());
}

bool pbkdf2Sha256(const SecureBuffer& password, const SecureBuffer& salt, SecureBuffer& out, Sha256Engine engine) {
    if (password.size() != PBKDF2_PASSWORD_BYTES || salt.size() != PBKDF2_SALT_BYTES) {
        out.wipe();
        return false;
    }
    HmacSha256 prf;
    ScopeExit releasePrf([&] { hmacRelease(prf); });
    hmacInit(prf, password, engine);

    // The salt is followed by the iteration count as a little-endian word, where RFC 2898 puts
    // the block index 00 00 00 01; existing containers depend on this suffix.
    uint8_t suffix[4];
    store32Le(suffix, PBKDF2_ITERATIONS);
    SecureBuffer first(salt);
    first.append(suffix, sizeof suffix);
    secureWipe(suffix, sizeof suffix);
    const SecureBuffer firstU = hmacCompute(prf, first);
    if (firstU.size() != HMAC_TAG_BYTES) {
        out.wipe();
        return false;
    }

    uint32_t result[DIGEST_WORDS];
    ScopeExit wipeResult([&] { secureWipe(result, sizeof result); });
    iterate(prf, firstU, engine, result);
    // Once per run, not per compression. The iterations ran in a frame of their own below this
    // one, so the scrub reaches what the compiler kept there too (midstate words held in
    // registers across the compressions are spilled to that frame).
    stackScrub();

    SecureBuffer derived = SecureBuffer::zeros(PBKDF2_OUTPUT_BYTES);
    for (uint32_t j = 0; j < DIGEST_WORDS; ++j) store32Le(derived.data() + 4 * j, result[j]);
    out = std::move(derived);
    return true;
}
