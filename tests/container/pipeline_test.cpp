// encryptFile and decryptFile on real files: round trips around the chunk boundary for every key
// method, cipher and compression; progress and cancel; key material the pipelines refuse; sources
// and targets that cannot be used. A failed or cancelled job leaves no file of its own, and a file
// that already had the target's name stays as it was until a job succeeds.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "container/format.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

constexpr uint32_t NOT_REPORTED = 0xFFFFFFFF;
const std::string OLD_TEXT =
    "the file that already had this name, longer than some of the new ones: " + std::string(300, '#');
const Bytes OLD(OLD_TEXT.begin(), OLD_TEXT.end());

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

SecureBuffer textOf(const std::string& s) { return fromNulTerminated(s.c_str()); }

}  // namespace

TEST(PipelineRoundTrip, SizesAroundTheChunkBoundary) {
    struct Size {
        const char* name;
        uint32_t bytes;
        uint32_t chunks;
    };
    const Size sizes[] = {
        {"empty", 0, 0},
        {"1 byte", 1, 1},
        {"2 MiB - 1", CHUNK_SIZE - 1, 1},
        {"2 MiB", CHUNK_SIZE, 1},
        {"2 MiB + 1", CHUNK_SIZE + 1, 2},
    };
    auto generator = readyGenerator();
    TempDir dir;
    const fs::path source = dir / "source.bin";
    const fs::path container = dir / "source.bin.encrypted";
    const fs::path target = dir / "copy.bin";
    const std::vector<std::string> names = sorted({"source.bin", "source.bin.encrypted", "copy.bin"});
    for (const Size& size : sizes) {
        for (bool compress : {false, true}) {
            // Random data exercises the codec's stored form; large chunks get runs, which the codec
            // shrinks quickly.
            const Content content = compress && size.bytes > 1 ? Content::RUNS : Content::RANDOM;
            const Bytes plain = makeContent(content, size.bytes, size.bytes);
            writeFileBytes(source, plain);
            for (KeyMethod method : {KEY_FILE, KEY_CODE, PASSPHRASE}) {
                for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
                    SCOPED_TRACE(std::string(size.name) + ", " + methodName(method) + ", " + cipherName(cipher) +
                                 (compress ? ", compressed" : ""));
                    // Both targets already exist with other, longer contents, which must not survive.
                    writeFileBytes(container, OLD);
                    writeFileBytes(target, OLD);
                    JobProgress progress;
                    progress.lastFinishedChunk = NOT_REPORTED;
                    progress.total = NOT_REPORTED;
                    JobResult result = RESULT_CANCELLED;
                    ASSERT_TRUE(encryptPath(optionsFor(*generator, cipher, compress, &progress), method,
                                            materialFor(method), source, container, result))
                        << "result " << result;
                    EXPECT_EQ(progress.total, size.chunks == 0 ? NOT_REPORTED : size.chunks);
                    EXPECT_EQ(progress.lastFinishedChunk, size.chunks == 0 ? NOT_REPORTED : size.chunks - 1);

                    progress.lastFinishedChunk = NOT_REPORTED;
                    progress.total = NOT_REPORTED;
                    ASSERT_TRUE(decryptPath(optionsFor(*generator, CIPHER_AES256, false, &progress), method,
                                            materialFor(method), container, target, result))
                        << "result " << result;
                    EXPECT_EQ(progress.total, size.chunks == 0 ? NOT_REPORTED : size.chunks);
                    EXPECT_EQ(progress.lastFinishedChunk, size.chunks == 0 ? NOT_REPORTED : size.chunks - 1);
                    const Bytes copy = readFileBytes(target);
                    ASSERT_EQ(copy.size(), plain.size());
                    EXPECT_TRUE(copy == plain);
                    EXPECT_EQ(fileNames(dir.path()), names) << "no temporary file remains";
                }
            }
        }
    }
}

// With the cancel flag set, a job stops after the chunk it has just finished; done names that
// chunk. Nothing of the job remains, and the file at the target's name is untouched.
TEST(PipelineCancel, StopsAfterTheFirstChunk) {
    auto generator = readyGenerator();
    TempDir dir;
    const Bytes twoChunks = makeContent(Content::RANDOM, CHUNK_SIZE + 1);
    const Bytes oneChunk = makeContent(Content::RANDOM, 100);
    struct Row {
        const char* name;
        const Bytes* plain;
        bool ok;
        uint32_t done;
        uint32_t total;
    };
    const Bytes empty;
    const Row rows[] = {
        {"two chunks", &twoChunks, false, 0, 2},
        {"one chunk: cancelled after its last chunk", &oneChunk, false, 0, 1},
        {"no chunk: nothing to cancel after", &empty, true, NOT_REPORTED, NOT_REPORTED},
    };
    for (const Row& row : rows) {
        for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
            SCOPED_TRACE(std::string(row.name) + ", " + cipherName(cipher));
            writeFileBytes(dir / "source.bin", *row.plain);
            JobResult result = RESULT_CANCELLED;
            ASSERT_TRUE(encryptPath(optionsFor(*generator, cipher, false), KEY_FILE, materialFor(KEY_FILE),
                                    dir / "source.bin", dir / "made.encrypted", result));

            JobProgress progress;
            progress.cancelRequested = true;
            progress.lastFinishedChunk = NOT_REPORTED;
            progress.total = NOT_REPORTED;
            writeFileBytes(dir / "target", OLD);
            result = RESULT_READ_ERROR;
            const bool encrypted = encryptPath(optionsFor(*generator, cipher, false, &progress), KEY_FILE,
                                               materialFor(KEY_FILE), dir / "source.bin", dir / "target", result);
            EXPECT_EQ(encrypted, row.ok);
            EXPECT_EQ(result, row.ok ? RESULT_READ_ERROR : RESULT_CANCELLED) << "left alone on success";
            EXPECT_TRUE(row.ok || readFileBytes(dir / "target") == OLD) << "the file at the target's name is untouched";
            EXPECT_EQ(progress.lastFinishedChunk, row.done);
            EXPECT_EQ(progress.total, row.total);

            writeFileBytes(dir / "target", OLD);
            progress.lastFinishedChunk = NOT_REPORTED;
            progress.total = NOT_REPORTED;
            result = RESULT_READ_ERROR;
            const bool decrypted = decryptPath(optionsFor(*generator, cipher, false, &progress), KEY_FILE,
                                               materialFor(KEY_FILE), dir / "made.encrypted", dir / "target", result);
            EXPECT_EQ(decrypted, row.ok);
            EXPECT_EQ(result, row.ok ? RESULT_READ_ERROR : RESULT_CANCELLED) << "left alone on success";
            EXPECT_TRUE(readFileBytes(dir / "target") == (row.ok ? *row.plain : OLD));
            EXPECT_EQ(progress.lastFinishedChunk, row.done);
            EXPECT_EQ(progress.total, row.total);
            EXPECT_EQ(fileNames(dir.path()), sorted({"made.encrypted", "source.bin", "target"}));
        }
    }
}

// Key material, generators, sources and targets that encryptFile refuses. The key and the
// generator are checked before the target is made: a target in a missing folder does not change
// those results.
TEST(PipelineErrors, EncryptionRefusals) {
    TempDir dir;
    writeFileBytes(dir / "source.bin", "some text to encrypt");
    writeFileBytes(dir / "empty.bin", Bytes());
    fs::create_directory(dir / "folder");
    auto ready = readyGenerator();
    RandomGenerator notReady;
    notReady.entropy = ENTROPY_THRESHOLD - 1;

    auto keyFileKey = [](SecureBuffer key) {
        KeyMaterial material = materialFor(KEY_FILE);
        material.keyFileKey = std::move(key);
        return material;
    };
    auto keyCode = [](const char* text) {
        KeyMaterial material = materialFor(KEY_CODE);
        material.keyCode = textOf(text);
        return material;
    };
    struct Row {
        const char* name;
        KeyMethod method;
        KeyMaterial material;
        RandomGenerator* generator;
        const char* source;
        const char* target;
        JobResult result;
    };
    const std::string missing = "no such folder/target.encrypted";
    const Row rows[] = {
        {"key of 31 bytes", KEY_FILE, keyFileKey(fileKey().slice(31, 0)), ready.get(), "source.bin", "target.encrypted",
         RESULT_CRYPTO_ERROR},
        {"key of 31 bytes, target folder missing", KEY_FILE, keyFileKey(fileKey().slice(31, 0)), ready.get(),
         "source.bin", missing.c_str(), RESULT_CRYPTO_ERROR},
        {"key of 33 bytes", KEY_FILE, keyFileKey([] {
             SecureBuffer k = fileKey();
             k.appendZeros(1);
             return k;
         }()),
         ready.get(), "source.bin", "target.encrypted", RESULT_CRYPTO_ERROR},
        {"empty key", KEY_FILE, keyFileKey(SecureBuffer()), ready.get(), "source.bin", "target.encrypted",
         RESULT_CRYPTO_ERROR},
        {"key code of 63 digits", KEY_CODE,
         keyCode("<f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeef>"), ready.get(), "source.bin",
         "target.encrypted", RESULT_WRONG_KEY},
        {"key code without brackets, target folder missing", KEY_CODE,
         keyCode("f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeeff"), ready.get(), "source.bin",
         missing.c_str(), RESULT_WRONG_KEY},
        // A key of zeros has a check value, so the header is written; no chunk can be sealed.
        {"key of 32 zero bytes", KEY_FILE, keyFileKey(SecureBuffer::zeros(32)), ready.get(), "source.bin",
         "target.encrypted", RESULT_WRITE_ERROR},
        {"key of 32 zero bytes, empty source: the table cannot be sealed", KEY_FILE,
         keyFileKey(SecureBuffer::zeros(32)), ready.get(), "empty.bin", "target.encrypted", RESULT_WRITE_ERROR},
        {"generator not ready: no salt", PASSPHRASE, materialFor(PASSPHRASE), &notReady, "source.bin", missing.c_str(),
         RESULT_CRYPTO_ERROR},
        {"generator not ready: no IV", KEY_CODE, materialFor(KEY_CODE), &notReady, "source.bin", "target.encrypted",
         RESULT_WRITE_ERROR},
        {"source missing", KEY_FILE, materialFor(KEY_FILE), ready.get(), "no-such-source.bin", "target.encrypted",
         RESULT_READ_ERROR},
        {"source is a folder", KEY_FILE, materialFor(KEY_FILE), ready.get(), "folder", "target.encrypted",
         RESULT_READ_ERROR},
        {"target folder missing", PASSPHRASE, materialFor(PASSPHRASE), ready.get(), "source.bin", missing.c_str(),
         RESULT_WRITE_ERROR},
        {"target is a folder", KEY_FILE, materialFor(KEY_FILE), ready.get(), "source.bin", "folder",
         RESULT_WRITE_ERROR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFileBytes(dir / "target.encrypted", OLD);
        const std::vector<std::string> before = fileNames(dir.path());
        JobResult result = RESULT_CANCELLED;
        EXPECT_FALSE(encryptPath(optionsFor(*row.generator, CIPHER_SERPENT, true), row.method, row.material,
                                 dir / row.source, dir / row.target, result));
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(fileNames(dir.path()), before) << "no file of the job remains";
        EXPECT_TRUE(readFileBytes(dir / "target.encrypted") == OLD);
        EXPECT_TRUE(fs::is_empty(dir / "folder"));
    }
}

// Keys that do not fit a container, and containers or targets that decryptFile cannot use. The
// key is checked before the target is made.
TEST(PipelineErrors, DecryptionRefusals) {
    TempDir dir;
    auto generator = readyGenerator();
    const Bytes plain = {'h', 'e', 'm', 'l', 'i', 'g', 't'};
    writeFileBytes(dir / "plain.bin", plain);
    writeFileBytes(dir / "empty.bin", Bytes());
    fs::create_directory(dir / "folder");
    auto encryptAs = [&](KeyMethod method, const char* source, const char* name) {
        JobResult result = RESULT_CANCELLED;
        EXPECT_TRUE(encryptPath(optionsFor(*generator, CIPHER_SERPENT, false), method, materialFor(method),
                                dir / source, dir / name, result));
    };
    encryptAs(KEY_FILE, "plain.bin", "key.encrypted");
    encryptAs(KEY_CODE, "plain.bin", "code.encrypted");
    encryptAs(PASSPHRASE, "plain.bin", "pass.encrypted");
    encryptAs(KEY_FILE, "empty.bin", "empty.encrypted");
    // A container whose check value is that of a key of 32 zero bytes: the key check passes, and the
    // session refuses the key.
    {
        SecureBuffer zeroKey = SecureBuffer::zeros(32), header;
        JobResult result = RESULT_CANCELLED;
        ASSERT_TRUE(buildHeader(zeroKey, optionsFor(*generator, CIPHER_AES256, false), KEY_MODE_RAW, SecureBuffer(),
                                header, result));
        Bytes container(4);
        store32Le(container.data(), header.size());
        container.insert(container.end(), header.data(), header.data() + header.size());
        container.insert(container.end(), {0x40, 0, 0, 0});
        const Bytes table = makeContent(Content::RANDOM, 64);
        container.insert(container.end(), table.begin(), table.end());
        writeFileBytes(dir / "zero.encrypted", container);
    }
    writeFileBytes(dir / "nothing.encrypted", Bytes());

    auto with = [](KeyMethod method, auto&& change) {
        KeyMaterial material = materialFor(method);
        change(material);
        return material;
    };
    const KeyMaterial otherKey = with(KEY_FILE, [](KeyMaterial& m) { m.keyFileKey.data()[31] ^= 1; });
    const KeyMaterial shortKey = with(KEY_FILE, [](KeyMaterial& m) { m.keyFileKey = fileKey().slice(31, 0); });
    const KeyMaterial emptyKey = with(KEY_FILE, [](KeyMaterial& m) { m.keyFileKey = SecureBuffer(); });
    const KeyMaterial zeroKey = with(KEY_FILE, [](KeyMaterial& m) { m.keyFileKey = SecureBuffer::zeros(32); });
    const KeyMaterial codeOfFileKey = with(KEY_CODE, [](KeyMaterial& m) {
        m.keyCode = textOf("<000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f>");
    });
    const KeyMaterial fileKeyOfCode =
        with(KEY_FILE, [](KeyMaterial& m) { m.keyFileKey = bufferFromHex(FIXTURE_KEY_CODE_HEX); });
    const KeyMaterial upperCaseCode = with(KEY_CODE, [](KeyMaterial& m) {
        m.keyCode = textOf("  <F0E1D2C3B4A5968778695A4B3C2D1E0F00112233445566778899AABBCCDDEEFF> ");
    });
    const KeyMaterial otherCode = with(KEY_CODE, [](KeyMaterial& m) {
        m.keyCode = textOf("<f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeefe>");
    });
    const KeyMaterial malformedCode = with(KEY_CODE, [](KeyMaterial& m) {
        m.keyCode = textOf("<f0e1d2c3b4a5968778695a4b3c2d1e0f00112233445566778899aabbccddeeff0>");
    });
    const KeyMaterial otherPassphrase =
        with(PASSPHRASE, [](KeyMaterial& m) { m.passphrase = textOf("korrekt hast batteri zon"); });
    const KeyMaterial utf8Passphrase =
        with(PASSPHRASE, [](KeyMaterial& m) { m.passphrase = textOf("korrekt h\xc3\xa4st batteri zon"); });

    struct Row {
        const char* name;
        const char* container;
        KeyMethod method;
        KeyMaterial material;
        const char* target;
        bool ok;
        JobResult result;
    };
    const char* missing = "no such folder/plain.out";
    const Row rows[] = {
        {"other key", "key.encrypted", KEY_FILE, otherKey, "plain.out", false, RESULT_WRONG_KEY},
        {"other key, target folder missing", "key.encrypted", KEY_FILE, otherKey, missing, false, RESULT_WRONG_KEY},
        {"key of 31 bytes", "key.encrypted", KEY_FILE, shortKey, "plain.out", false, RESULT_WRONG_KEY},
        {"empty key", "key.encrypted", KEY_FILE, emptyKey, "plain.out", false, RESULT_WRONG_KEY},
        {"passphrase for a key file container", "key.encrypted", PASSPHRASE, materialFor(PASSPHRASE), "plain.out",
         false, RESULT_WRONG_KEY},
        {"key code spelling the key file's key", "key.encrypted", KEY_CODE, codeOfFileKey, "plain.out", true,
         RESULT_CANCELLED},
        {"other key code", "code.encrypted", KEY_CODE, otherCode, "plain.out", false, RESULT_WRONG_KEY},
        {"key code of 65 digits", "code.encrypted", KEY_CODE, malformedCode, missing, false, RESULT_WRONG_KEY},
        {"key code in upper case, spaces around", "code.encrypted", KEY_CODE, upperCaseCode, "plain.out", true,
         RESULT_CANCELLED},
        {"key file holding the key code's bytes", "code.encrypted", KEY_FILE, fileKeyOfCode, "plain.out", true,
         RESULT_CANCELLED},
        {"other passphrase", "pass.encrypted", PASSPHRASE, otherPassphrase, "plain.out", false, RESULT_WRONG_KEY},
        {"the passphrase's UTF-8 bytes", "pass.encrypted", PASSPHRASE, utf8Passphrase, "plain.out", false,
         RESULT_WRONG_KEY},
        {"key file for a passphrase container", "pass.encrypted", KEY_FILE, materialFor(KEY_FILE), "plain.out", false,
         RESULT_WRONG_KEY},
        {"key of 32 zero bytes with its own check value", "zero.encrypted", KEY_FILE, zeroKey, "plain.out", false,
         RESULT_READ_ERROR},
        {"empty file's container, target folder missing", "empty.encrypted", KEY_FILE, materialFor(KEY_FILE), missing,
         false, RESULT_WRITE_ERROR},
        {"target folder missing", "key.encrypted", KEY_FILE, materialFor(KEY_FILE), missing, false, RESULT_WRITE_ERROR},
        {"target is a folder", "key.encrypted", KEY_FILE, materialFor(KEY_FILE), "folder", false, RESULT_WRITE_ERROR},
        {"source missing", "no-such.encrypted", KEY_FILE, materialFor(KEY_FILE), "plain.out", false, RESULT_READ_ERROR},
        {"source empty", "nothing.encrypted", KEY_FILE, materialFor(KEY_FILE), "plain.out", false, RESULT_READ_ERROR},
        {"source is a folder", "folder", KEY_FILE, materialFor(KEY_FILE), "plain.out", false, RESULT_READ_ERROR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFileBytes(dir / "plain.out", OLD);
        const std::vector<std::string> before = fileNames(dir.path());
        JobResult result = RESULT_CANCELLED;
        EXPECT_EQ(decryptPath(optionsFor(*generator, CIPHER_AES256, false), row.method, row.material,
                              dir / row.container, dir / row.target, result),
                  row.ok);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(fileNames(dir.path()), before) << "no file of the job remains";
        EXPECT_TRUE(readFileBytes(dir / "plain.out") == (row.ok ? plain : OLD));
        EXPECT_TRUE(fs::is_empty(dir / "folder"));
    }
}
