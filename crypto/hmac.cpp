// HMAC-SHA256 over the system's SHA-256. The key blocks are compressed once, in hmacInit; every
// tag starts its two hashes from those midstates.

#include "crypto/hmac.h"

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "base/stack_scrub.h"

namespace {

constexpr uint8_t INNER_PAD = 0x36;
constexpr uint8_t OUTER_PAD = 0x5c;

SecureBuffer padKey(const SecureBuffer& key, uint8_t pad) {
    SecureBuffer block(key);
    block.appendZeros(SHA256_BLOCK_BYTES - key.size());
    for (uint32_t i = 0; i < block.size(); ++i) block.data()[i] ^= pad;
    return block;
}

SecureBuffer midstateOf(const SecureBuffer& keyBlock, Sha256Engine engine) {
    Sha256Context ctx;
    ScopeExit wipeContext([&] { sha256Wipe(ctx); });
    sha256Init(ctx, engine);
    sha256Compress(ctx.state, keyBlock.data(), 1, engine);
    SecureBuffer midstate = SecureBuffer::zeros(HMAC_MIDSTATE_BYTES);
    for (uint32_t j = 0; j < 8; ++j) store32Le(midstate.data() + 4 * j, ctx.state[j]);
    return midstate;
}

bool keyed(const HmacSha256& ctx) {
    return ctx.valid && ctx.innerMidstate.size() == HMAC_MIDSTATE_BYTES &&
           ctx.outerMidstate.size() == HMAC_MIDSTATE_BYTES;
}

// A hash whose first block, the key block, is already compressed into midstate.
void startAfterKeyBlock(Sha256Context& hash, const SecureBuffer& midstate, Sha256Engine engine) {
    uint32_t state[8];
    hmacLoadMidstate(midstate, state);
    sha256InitFromMidstate(hash, state, 1, engine);
    secureWipe(state, sizeof state);
}

void releaseBuffers(HmacSha256& ctx) {
    ctx.innerKeyBlock.wipe();
    ctx.outerKeyBlock.wipe();
    ctx.innerMidstate.wipe();
    ctx.outerMidstate.wipe();
}

}  // namespace

void hmacInit(HmacSha256& ctx, const SecureBuffer& key) { hmacInit(ctx, key, sha256PreferredEngine()); }

void hmacInit(HmacSha256& ctx, const SecureBuffer& key, Sha256Engine engine) {
    releaseBuffers(ctx);
    ctx.engine = engine;
    ctx.valid = false;
    if (key.size() < HMAC_MIN_KEY_BYTES || key.size() > HMAC_MAX_KEY_BYTES) return;
    // A throw part-way leaves outerMidstate empty, so the context computes no tags.
    ctx.innerKeyBlock = padKey(key, INNER_PAD);
    ctx.outerKeyBlock = padKey(key, OUTER_PAD);
    ctx.innerMidstate = midstateOf(ctx.innerKeyBlock, engine);
    ctx.outerMidstate = midstateOf(ctx.outerKeyBlock, engine);
    // The compressions of the key blocks leave their state, as good as the key, in spilled
    // registers below this frame.
    stackScrub();
    ctx.valid = true;
}

SecureBuffer hmacCompute(const HmacSha256& ctx, const uint8_t* message, uint32_t length) {
    if (!keyed(ctx)) return SecureBuffer();
    Sha256Context inner;
    Sha256Context outer;
    ScopeExit wipeContexts([&] {
        sha256Wipe(inner);
        sha256Wipe(outer);
    });
    startAfterKeyBlock(inner, ctx.innerMidstate, ctx.engine);
    sha256Update(inner, message, length);
    startAfterKeyBlock(outer, ctx.outerMidstate, ctx.engine);
    SecureBuffer innerDigest = sha256Final(inner);
    sha256Update(outer, innerDigest);
    SecureBuffer tag = sha256Final(outer);
    // Both hashes started from a midstate, which the compressions leave in spilled registers.
    stackScrub();
    return tag;
}

SecureBuffer hmacCompute(const HmacSha256& ctx, const SecureBuffer& message) {
    return hmacCompute(ctx, message.data(), message.size());
}

bool hmacVerify(const HmacSha256& ctx, const uint8_t* message, uint32_t length, const SecureBuffer& tag) {
    if (!keyed(ctx)) return false;
    SecureBuffer computed = hmacCompute(ctx, message, length);
    return !computed.empty() && computed.constantTimeEquals(tag);
}

bool hmacVerify(const HmacSha256& ctx, const SecureBuffer& message, const SecureBuffer& tag) {
    return hmacVerify(ctx, message.data(), message.size(), tag);
}

void hmacLoadMidstate(const SecureBuffer& midstate, uint32_t state[8]) {
    for (uint32_t j = 0; j < 8; ++j) state[j] = load32Le(midstate.data() + 4 * j);
}

void hmacRelease(HmacSha256& ctx) {
    releaseBuffers(ctx);
    ctx.valid = false;
}
