// Running the two file pipelines from tests: a ready generator with a fixed seed, the key material
// of each method (the same as the fixture key file, key code and passphrase), test contents, and
// encrypt/decrypt calls on std::filesystem paths.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "base/text.h"
#include "container/pipeline_records.h"
#include "container/decryption.h"
#include "container/encryption.h"
#include "random/generator.h"
#include "support/files.h"

namespace testsupport {

// A generator whose pool has taken a fixed, credited seed: ready, and the same on every run.
inline std::unique_ptr<RandomGenerator> readyGenerator(uint8_t seedByte = 1) {
    auto generator = std::make_unique<RandomGenerator>();
    SecureBuffer seed = SecureBuffer::zeros(RANDOM_MIN_SEED_BYTES);
    for (uint32_t i = 0; i < seed.size(); ++i) seed.data()[i] = static_cast<uint8_t>(seedByte + 7 * i);
    if (!addSeed(*generator, seed, 0, true)) throw std::runtime_error("seed refused");
    return generator;
}

// The key of the fixture key file: bytes 00 01 02 ... 1f.
inline SecureBuffer fileKey() {
    SecureBuffer key = SecureBuffer::zeros(32);
    for (uint32_t i = 0; i < 32; ++i) key.data()[i] = static_cast<uint8_t>(i);
    return key;
}

// The fixture key code, and the 32 bytes it spells.
constexpr const char* FIXTURE_KEY_CODE = "<f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeeff>";
constexpr const char* FIXTURE_KEY_CODE_HEX = "f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeeff";

// The fixture passphrase "korrekt häst batteri zon" in Windows-1252, as a text (with its NUL).
inline SecureBuffer passphraseText() { return fromNulTerminated("korrekt h\xe4st batteri zon"); }

inline const char* methodName(KeyMethod method) {
    switch (method) {
    case KEY_FILE: return "key file";
    case KEY_CODE: return "key code";
    case PASSPHRASE: return "passphrase";
    }
    return "unknown method";
}

inline const char* cipherName(CipherAlgorithm cipher) { return cipher == CIPHER_SERPENT ? "Serpent" : "AES-256"; }

// The three key slots of a pipeline call.
struct KeyMaterial {
    SecureBuffer keyFileKey;
    SecureBuffer passphrase;
    SecureBuffer keyCode;
};

// The material of method in its own slot; the other slots hold valid material that belongs to
// another key, so a pipeline that reads the wrong slot makes a container that does not open.
inline KeyMaterial materialFor(KeyMethod method) {
    KeyMaterial material;
    material.keyFileKey = SecureBuffer::zeros(32);
    for (uint32_t i = 0; i < 32; ++i) material.keyFileKey.data()[i] = static_cast<uint8_t>(0xA5 ^ i);
    material.passphrase = fromNulTerminated("en helt annan fras");
    material.keyCode = fromNulTerminated("<0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef>");
    switch (method) {
    case KEY_FILE: material.keyFileKey = fileKey(); break;
    case KEY_CODE: material.keyCode = fromNulTerminated(FIXTURE_KEY_CODE); break;
    case PASSPHRASE: material.passphrase = passphraseText(); break;
    }
    return material;
}

// The key of method as one record: the same material that materialFor puts in method's slot.
inline JobKey jobKeyFor(KeyMethod method) {
    const KeyMaterial material = materialFor(method);
    JobKey key;
    key.method = method;
    switch (method) {
    case KEY_FILE: key.material = material.keyFileKey; break;
    case KEY_CODE: key.material = material.keyCode; break;
    case PASSPHRASE: key.material = material.passphrase; break;
    }
    return key;
}

inline PipelineOptions optionsFor(RandomGenerator& generator, CipherAlgorithm cipher, bool compress,
                                  JobProgress* progress = nullptr) {
    PipelineOptions options;
    options.generator = &generator;
    options.cipher = cipher;
    options.compress = compress;
    options.progress = progress;
    return options;
}

// options with the given worker count: 1 runs the one-thread pipeline, more the parallel one.
inline PipelineOptions withWorkers(PipelineOptions options, uint32_t workers) {
    options.workers = workers;
    return options;
}

inline bool encryptPath(const PipelineOptions& options, KeyMethod method, const KeyMaterial& material,
                        const fs::path& source, const fs::path& target, JobResult& result) {
    return encryptFile(options, method, material.keyFileKey, material.passphrase, material.keyCode,
                       nativePathOf(source), nativePathOf(target), result);
}

inline bool decryptPath(const PipelineOptions& options, KeyMethod method, const KeyMaterial& material,
                        const fs::path& source, const fs::path& target, JobResult& result) {
    return decryptFile(options, method, material.keyFileKey, material.passphrase, material.keyCode,
                       nativePathOf(source), nativePathOf(target), result);
}

// Contents for pipeline tests. Random bytes do not compress; runs of 1000 equal bytes, whose
// value changes from run to run, compress quickly and place run edges off the chunk boundaries.
enum class Content { RANDOM, RUNS };

inline Bytes makeContent(Content content, uint32_t size, uint32_t seed = 1) {
    Bytes bytes(size);
    if (content == Content::RANDOM) {
        std::mt19937 engine(seed);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(engine());
    } else {
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i / 1000) * 37 + seed);
    }
    return bytes;
}

}  // namespace testsupport
