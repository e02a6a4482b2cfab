// HMAC-SHA256 over the system's SHA-256.

#include "crypto/hmac.h"

#include "base/scope_exit.h"
#include "crypto/sha256.h"

namespace {

constexpr uint8_t INNER_PAD = 0x36;
constexpr uint8_t OUTER_PAD = 0x5c;

SecureBuffer padKey(const SecureBuffer& key, uint8_t pad) {
    SecureBuffer block(key);
    block.appendZeros(SHA256_BLOCK_BYTES - key.size());
    for (uint32_t i = 0; i < block.size(); ++i) block.data()[i] ^= pad;
    return block;
}

}  // namespace

void hmacInit(HmacSha256& ctx, const SecureBuffer& key) {
    ctx.innerKeyBlock.wipe();
    ctx.outerKeyBlock.wipe();
    ctx.invalid = false;
    if (key.size() < HMAC_MIN_KEY_BYTES || key.size() > HMAC_MAX_KEY_BYTES) {
        ctx.invalid = true;
        return;
    }
    ctx.innerKeyBlock = padKey(key, INNER_PAD);
    ctx.outerKeyBlock = padKey(key, OUTER_PAD);
}

SecureBuffer hmacCompute(const HmacSha256& ctx, const uint8_t* message, uint32_t length) {
    if (ctx.invalid || ctx.innerKeyBlock.size() != SHA256_BLOCK_BYTES ||
        ctx.outerKeyBlock.size() != SHA256_BLOCK_BYTES) {
        return SecureBuffer();
    }
    Sha256Context inner;
    Sha256Context outer;
    ScopeExit wipeContexts([&] {
        sha256Wipe(inner);
        sha256Wipe(outer);
    });
    sha256Init(inner);
    sha256Update(inner, ctx.innerKeyBlock);
    sha256Update(inner, message, length);
    sha256Init(outer);
    sha256Update(outer, ctx.outerKeyBlock);
    SecureBuffer innerDigest = sha256Final(inner);
    sha256Update(outer, innerDigest);
    return sha256Final(outer);
}

SecureBuffer hmacCompute(const HmacSha256& ctx, const SecureBuffer& message) {
    return hmacCompute(ctx, message.data(), message.size());
}

bool hmacVerify(const HmacSha256& ctx, const uint8_t* message, uint32_t length, const SecureBuffer& tag) {
    if (ctx.invalid) return false;
    SecureBuffer computed = hmacCompute(ctx, message, length);
    return !computed.empty() && computed.constantTimeEquals(tag);
}

bool hmacVerify(const HmacSha256& ctx, const SecureBuffer& message, const SecureBuffer& tag) {
    return hmacVerify(ctx, message.data(), message.size(), tag);
}

void hmacRelease(HmacSha256& ctx) {
    ctx.innerKeyBlock.wipe();
    ctx.outerKeyBlock.wipe();
}
