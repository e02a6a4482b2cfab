// SHA-256 compression, padding and the system's digest byte order. Whole blocks of the input are
// compressed straight from the caller's memory; only a partial block is copied into the context.

#include "crypto/sha256.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "base/stack_scrub.h"
#include "crypto/cpu_features.h"
#include "crypto/sha256_constants.h"
#include "crypto/sha256_ni.h"

namespace {

constexpr uint32_t INITIAL_STATE[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t bigSigma0(uint32_t x) { return rotr32(x, 2) ^ rotr32(x, 13) ^ rotr32(x, 22); }
inline uint32_t bigSigma1(uint32_t x) { return rotr32(x, 6) ^ rotr32(x, 11) ^ rotr32(x, 25); }
inline uint32_t smallSigma0(uint32_t x) { return rotr32(x, 7) ^ rotr32(x, 18) ^ (x >> 3); }
inline uint32_t smallSigma1(uint32_t x) { return rotr32(x, 17) ^ rotr32(x, 19) ^ (x >> 10); }

// One round with the working variables named in place, so that eight rounds in a row need no
// register shuffling. The schedule word is computed in the round from a 16-word ring; computing
// the whole schedule in a pass of its own is slower.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, i)                                                              \
    do {                                                                                                     \
        uint32_t wi;                                                                                         \
        if ((i) < 16) {                                                                                      \
            wi = load32Be(blocks + 4 * (i));                                                                 \
        } else {                                                                                             \
            wi = smallSigma1(w[((i)-2) & 15]) + w[((i)-7) & 15] + smallSigma0(w[((i)-15) & 15]) + w[(i)&15]; \
        }                                                                                                    \
        w[(i)&15] = wi;                                                                                      \
        uint32_t t1 = h + bigSigma1(e) + (g ^ (e & (f ^ g))) + SHA256_ROUND_CONSTANTS[i] + wi;               \
        d += t1;                                                                                             \
        h = t1 + bigSigma0(a) + ((a & b) | (c & (a | b)));                                                   \
    } while (0)

// The portable engine. The schedule ring is wiped once at the end, not per block.
void compressPortable(uint32_t state[8], const uint8_t* blocks, size_t blockCount) {
    uint32_t w[16];
    for (size_t n = 0; n < blockCount; ++n, blocks += SHA256_BLOCK_BYTES) {
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
#pragma GCC unroll 8
        for (int i = 0; i < 64; i += 8) {
            SHA256_ROUND(a, b, c, d, e, f, g, h, i);
            SHA256_ROUND(h, a, b, c, d, e, f, g, i + 1);
            SHA256_ROUND(g, h, a, b, c, d, e, f, i + 2);
            SHA256_ROUND(f, g, h, a, b, c, d, e, i + 3);
            SHA256_ROUND(e, f, g, h, a, b, c, d, i + 4);
            SHA256_ROUND(d, e, f, g, h, a, b, c, i + 5);
            SHA256_ROUND(c, d, e, f, g, h, a, b, i + 6);
            SHA256_ROUND(b, c, d, e, f, g, h, a, i + 7);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
    secureWipe(w, sizeof w);
}

#undef SHA256_ROUND

Sha256Engine choosePreferredEngine() {
    return sha256EngineAvailable(SHA256_ENGINE_SHA_NI) ? SHA256_ENGINE_SHA_NI : SHA256_ENGINE_PORTABLE;
}

void compressContextBlock(Sha256Context& ctx) {
    sha256Compress(ctx.state, ctx.block, 1, ctx.engine);
    secureWipe(ctx.block, sizeof ctx.block);
}

void addToByteCount(Sha256Context& ctx, uint32_t length) {
    uint32_t low = ctx.byteCountLow + length;
    if (low < ctx.byteCountLow) ++ctx.byteCountHigh;
    ctx.byteCountLow = low;
}

void pad(Sha256Context& ctx) {
    uint32_t position = ctx.byteCountLow % SHA256_BLOCK_BYTES;
    ctx.block[position] = 0x80;
    if (position >= SHA256_BLOCK_BYTES - 8) compressContextBlock(ctx);
    uint64_t bits = ((static_cast<uint64_t>(ctx.byteCountHigh) << 32) | ctx.byteCountLow) << 3;
    store64Be(ctx.block + SHA256_BLOCK_BYTES - 8, bits);
    compressContextBlock(ctx);
    ctx.finished = true;
}

void restart(Sha256Context& ctx) {
    ctx.byteCountLow = 0;
    ctx.byteCountHigh = 0;
    std::memcpy(ctx.state, INITIAL_STATE, sizeof ctx.state);
    secureWipe(ctx.block, sizeof ctx.block);
    ctx.finished = false;
}

}  // namespace

bool sha256EngineAvailable(Sha256Engine engine) {
    switch (engine) {
    case SHA256_ENGINE_PORTABLE: return true;
    case SHA256_ENGINE_SHA_NI: return cpuFeatures().sha;
    }
    return false;
}

Sha256Engine sha256PreferredEngine() {
    static const Sha256Engine preferred = choosePreferredEngine();
    return preferred;
}

void sha256Compress(uint32_t state[8], const uint8_t* blocks, size_t blockCount, Sha256Engine engine) {
    if (blockCount == 0) return;
    switch (engine) {
    case SHA256_ENGINE_PORTABLE: compressPortable(state, blocks, blockCount); return;
    case SHA256_ENGINE_SHA_NI: sha256NiCompress(state, blocks, blockCount); return;
    }
}

void sha256Compress(uint32_t state[8], const uint8_t* blocks, size_t blockCount) {
    sha256Compress(state, blocks, blockCount, sha256PreferredEngine());
}

void sha256Init(Sha256Context& ctx) { sha256Init(ctx, sha256PreferredEngine()); }

void sha256Init(Sha256Context& ctx, Sha256Engine engine) {
    ctx.engine = engine;
    restart(ctx);
}

void sha256InitFromMidstate(Sha256Context& ctx, const uint32_t midstate[8], uint32_t blockCount, Sha256Engine engine) {
    ctx.engine = engine;
    restart(ctx);
    std::memcpy(ctx.state, midstate, sizeof ctx.state);
    ctx.byteCountLow = blockCount * SHA256_BLOCK_BYTES;
}

void sha256Update(Sha256Context& ctx, const uint8_t* data, uint32_t length) {
    if (ctx.finished) restart(ctx);
    if (length == 0) return;
    uint32_t position = ctx.byteCountLow % SHA256_BLOCK_BYTES;
    uint32_t remaining = length;
    const uint8_t* next = data;
    if (position != 0) {
        uint32_t take = SHA256_BLOCK_BYTES - position;
        if (take > remaining) take = remaining;
        std::memcpy(ctx.block + position, next, take);
        next += take;
        remaining -= take;
        if (position + take == SHA256_BLOCK_BYTES) compressContextBlock(ctx);
    }
    if (remaining >= SHA256_BLOCK_BYTES) {
        uint32_t whole = remaining / SHA256_BLOCK_BYTES;
        sha256Compress(ctx.state, next, whole, ctx.engine);
        next += whole * SHA256_BLOCK_BYTES;
        remaining -= whole * SHA256_BLOCK_BYTES;
    }
    if (remaining != 0) std::memcpy(ctx.block, next, remaining);
    addToByteCount(ctx, length);
}

void sha256Update(Sha256Context& ctx, const SecureBuffer& data) { sha256Update(ctx, data.data(), data.size()); }

SecureBuffer sha256Final(Sha256Context& ctx) {
    if (!ctx.finished) {
        pad(ctx);
        // The last compressions of the message leave its state in spilled registers.
        stackScrub();
    }
    SecureBuffer digest = SecureBuffer::zeros(SHA256_DIGEST_BYTES);
    // Each state word is stored least-significant byte first; existing containers depend on
    // this order for every tag, check value and derived key.
    for (int j = 0; j < 8; ++j) store32Le(digest.data() + 4 * j, ctx.state[j]);
    return digest;
}

void sha256Wipe(Sha256Context& ctx) {
    secureWipe(ctx.state, sizeof ctx.state);
    secureWipe(ctx.block, sizeof ctx.block);
    secureWipe(&ctx.byteCountLow, sizeof ctx.byteCountLow);
    secureWipe(&ctx.byteCountHigh, sizeof ctx.byteCountHigh);
}

SecureBuffer sha256OfText(const SecureBuffer& text) {
    if (text.size() <= 1) return SecureBuffer();
    Sha256Context ctx;
    ScopeExit wipeContext([&] { sha256Wipe(ctx); });
    sha256Init(ctx);
    sha256Update(ctx, text);
    return sha256Final(ctx);
}
