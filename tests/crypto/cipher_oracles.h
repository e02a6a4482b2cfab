// Second implementations for the oracle tests: OpenSSL's AES and libgcrypt's Serpent, each with
// padding off so that the test decides the padding. Included only by *_oracle_test.cpp files,
// which are built natively where both libraries are installed.
#pragma once

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "tests/crypto/cipher_test_support.h"

namespace cipher_test {

// input through OpenSSL with the given cipher (ECB or CBC), padding off; iv is ignored by ECB.
// Empty on any OpenSSL error or an input that is not whole blocks.
inline Bytes opensslCrypt(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& iv, const Bytes& input,
                          bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes output(input.size() + 32);
    int written = 0;
    int finalWritten = 0;
    const bool ok =
        ctx != nullptr &&
        EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
        EVP_CipherUpdate(ctx, output.data(), &written, input.data(), static_cast<int>(input.size())) == 1 &&
        EVP_CipherFinal_ex(ctx, output.data() + written, &finalWritten) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return {};
    output.resize(static_cast<size_t>(written + finalWritten));
    return output;
}

inline const EVP_CIPHER* opensslAesEcb(size_t keyBytes) {
    switch (keyBytes) {
    case 16: return EVP_aes_128_ecb();
    case 24: return EVP_aes_192_ecb();
    default: return EVP_aes_256_ecb();
    }
}

// input through libgcrypt's Serpent in the given mode (GCRY_CIPHER_MODE_ECB or _CBC). libgcrypt
// reads key and blocks little-endian: callers hand it key bytes in that order. Empty on any error.
inline Bytes gcryptSerpent(int mode, const Bytes& key, const Bytes& iv, const Bytes& input, bool encrypt) {
    static const bool initialised = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)initialised;
    const int algorithm = key.size() == 16   ? GCRY_CIPHER_SERPENT128
                          : key.size() == 24 ? GCRY_CIPHER_SERPENT192
                                             : GCRY_CIPHER_SERPENT256;
    gcry_cipher_hd_t handle = nullptr;
    if (gcry_cipher_open(&handle, algorithm, mode, 0) != 0) return {};
    Bytes output(input.size());
    gcry_error_t error = gcry_cipher_setkey(handle, key.data(), key.size());
    if (error == 0 && !iv.empty()) error = gcry_cipher_setiv(handle, iv.data(), iv.size());
    if (error == 0) {
        error = encrypt ? gcry_cipher_encrypt(handle, output.data(), output.size(), input.data(), input.size())
                        : gcry_cipher_decrypt(handle, output.data(), output.size(), input.data(), input.size());
    }
    gcry_cipher_close(handle);
    if (error != 0) return {};
    return output;
}

// Calls check(key, plaintext) blocksPerKeyLength times for each key length of 16, 24 and 32 bytes,
// with a fresh random key and then a fresh random block from random each time, under a trace that
// names both. Stops at the first fatal failure inside check, as an ASSERT in the loop would.
template <typename Check>
void forRandomKeysAndBlocks(SeededBytes& random, int blocksPerKeyLength, Check check) {
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        SCOPED_TRACE(keyBytes);
        for (int i = 0; i < blocksPerKeyLength; ++i) {
            const Bytes key = random.next(keyBytes);
            const Bytes plaintext = random.next(16);
            SCOPED_TRACE("key " + toHex(key) + " block " + toHex(plaintext));
            check(key, plaintext);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

}  // namespace cipher_test
