// Key material: reading key files (the fixture from a separate implementation and hand-made
// ones), writing them, key-code text, and generated key codes and passphrases drawn from a
// generator with a fixed seed.

#include "job/key_material.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/byte_order.h"
#include "base/text.h"
#include "container/key_code.h"
#include "container/session.h"
#include "random/generator.h"
#include "job/settings.h"
#include "support/allocators.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

const std::string MAGIC = "EncryptionKey";

Bytes u32Le(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

Bytes field(const Bytes& bytes) {
    Bytes out = u32Le(static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

Bytes bytesOfString(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A key file payload from its parts.
Bytes payloadOf(const Bytes& magic, uint16_t version, const Bytes& keyId, const Bytes& key) {
    Bytes payload = field(magic);
    payload.push_back(static_cast<uint8_t>(version));
    payload.push_back(static_cast<uint8_t>(version >> 8));
    const Bytes id = field(keyId);
    payload.insert(payload.end(), id.begin(), id.end());
    const Bytes k = field(key);
    payload.insert(payload.end(), k.begin(), k.end());
    return payload;
}

Bytes blobOf(const Bytes& payload) {
    Bytes blob = u32Le(static_cast<uint32_t>(payload.size()));
    blob.insert(blob.end(), payload.begin(), payload.end());
    return blob;
}

const Bytes KEY_ID = {1, 2, 3, 4, 5, 6, 7, 8};

Bytes key32() { return bytesOf(fileKey()); }

// Key files are opened by ANSI path: these tests use bare ASCII names in a temporary directory.
class KeyFiles : public ::testing::Test {
protected:
    TempDir dir_;
    CurrentDirectoryGuard inDir_{dir_.path()};
};

}  // namespace

TEST(KeyFileFixture, ReadsTheKeyOfTheFixtureKeyFile) {
    const std::string path = testDataPath("fixtures/key.key").string();
    SecureBuffer key;
    ASSERT_EQ(readKeyFile(nativePathOf(path), key), KEY_MATERIAL_OK);
    EXPECT_EQ(toHex(key), "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
}

TEST_F(KeyFiles, ReadOutcomes) {
    const Bytes asWritten = blobOf(payloadOf(bytesOfString(MAGIC), 0, KEY_ID, key32()));
    ASSERT_EQ(asWritten.size(), 71u);
    Bytes declares67Holds60(asWritten.begin(), asWritten.begin() + 4 + 60);
    Bytes withNul = bytesOfString(MAGIC);
    withNul.push_back(0);
    Bytes withTrailing = asWritten;
    withTrailing.insert(withTrailing.end(), {0xDE, 0xAD});
    Bytes keyCutShort = blobOf(payloadOf(bytesOfString(MAGIC), 0, KEY_ID, key32()));
    keyCutShort.resize(keyCutShort.size() - 12);
    store32Le(keyCutShort.data(), static_cast<uint32_t>(keyCutShort.size() - 4));  // the blob stays whole
    const Bytes key = key32();
    const Bytes key31(key.begin(), key.end() - 1);
    const Bytes key20(key.begin(), key.begin() + 20);
    Bytes noKeyField = blobOf(payloadOf(bytesOfString(MAGIC), 0, KEY_ID, {}));
    noKeyField.resize(noKeyField.size() - 4);
    store32Le(noKeyField.data(), static_cast<uint32_t>(noKeyField.size() - 4));

    struct Row {
        const char* name;
        bool present;
        Bytes file;
        KeyMaterialStatus status;
        Bytes key;  // when KEY_MATERIAL_OK
    };
    const Row rows[] = {
        {"as written", true, asWritten, KEY_MATERIAL_OK, key32()},
        {"bytes after the payload are ignored", true, withTrailing, KEY_MATERIAL_OK, key32()},
        {"key identifier of 3 bytes is skipped", true, blobOf(payloadOf(bytesOfString(MAGIC), 0, {9, 9, 9}, key32())),
         KEY_MATERIAL_OK, key32()},
        {"key of 31 bytes is returned as read", true, blobOf(payloadOf(bytesOfString(MAGIC), 0, KEY_ID, key31)),
         KEY_MATERIAL_OK, key31},
        {"key field cut short: the bytes that are there", true, keyCutShort, KEY_MATERIAL_OK, key20},
        {"no key field: an empty key", true, noKeyField, KEY_MATERIAL_OK, {}},
        {"missing file", false, {}, KEY_FILE_UNREADABLE, {}},
        {"declares 67 payload bytes, holds 60", true, declares67Holds60, KEY_FILE_UNREADABLE, {}},
        {"length over 2^30", true, fromHex("01000040 0d000000"), KEY_FILE_UNREADABLE, {}},
        {"empty file: an empty payload", true, {}, KEY_FILE_BAD_FORMAT, {}},
        {"magic followed by a NUL (14 bytes)",
         true,
         blobOf(payloadOf(withNul, 0, KEY_ID, key32())),
         KEY_FILE_BAD_FORMAT,
         {}},
        {"magic of 12 bytes",
         true,
         blobOf(payloadOf(bytesOfString("EncryptionKe"), 0, KEY_ID, key32())),
         KEY_FILE_BAD_FORMAT,
         {}},
        {"magic in another case",
         true,
         blobOf(payloadOf(bytesOfString("Encryptionkey"), 0, KEY_ID, key32())),
         KEY_FILE_BAD_FORMAT,
         {}},
        {"a container's magic",
         true,
         blobOf(payloadOf(bytesOfString("EncryptedFile"), 0, KEY_ID, key32())),
         KEY_FILE_BAD_FORMAT,
         {}},
        {"version 1", true, blobOf(payloadOf(bytesOfString(MAGIC), 1, KEY_ID, key32())), KEY_FILE_BAD_VERSION, {}},
        {"version 0x0100",
         true,
         blobOf(payloadOf(bytesOfString(MAGIC), 0x0100, KEY_ID, key32())),
         KEY_FILE_BAD_VERSION,
         {}},
        {"payload ends after the magic: a missing version reads as 0, the key as empty",
         true,
         blobOf(field(bytesOfString(MAGIC))),
         KEY_MATERIAL_OK,
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::error_code ignored;
        fs::remove("test.key", ignored);
        if (row.present) writeFileBytes("test.key", row.file);
        SecureBuffer read = bufferFromHex("ee");
        EXPECT_EQ(readKeyFile(nativePathOf("test.key"), read), row.status);
        EXPECT_EQ(toHex(read), row.status == KEY_MATERIAL_OK ? toHex(row.key) : "ee") << "written only on success";
    }
}

TEST_F(KeyFiles, WriteGivesSeventyOneBytesThatReadBack) {
    auto generator = readyGenerator(3);
    auto reference = readyGenerator(3);
    ASSERT_EQ(writeKeyFile(*generator, nativePathOf("first.key"), bufferOf(KEY_ID)), KEY_MATERIAL_OK);
    const Bytes file = readFileBytes("first.key");
    ASSERT_EQ(file.size(), 71u);
    SecureBuffer expectedKey;
    ASSERT_TRUE(generate(*reference, expectedKey, 32, CIPHER_AES256)) << "the key is the generator's next 32 bytes";
    EXPECT_EQ(toHex(file),
              "43000000"
              "0d000000"
              "456e6372797074696f6e4b6579"
              "0000"
              "08000000"
              "0102030405060708"
              "20000000" +
                  toHex(expectedKey));

    SecureBuffer key;
    ASSERT_EQ(readKeyFile(nativePathOf("first.key"), key), KEY_MATERIAL_OK);
    EXPECT_EQ(toHex(key), toHex(expectedKey));

    ASSERT_EQ(writeKeyFile(*generator, nativePathOf("second.key"), bufferOf(KEY_ID)), KEY_MATERIAL_OK);
    SecureBuffer secondKey;
    ASSERT_EQ(readKeyFile(nativePathOf("second.key"), secondKey), KEY_MATERIAL_OK);
    EXPECT_NE(toHex(secondKey), toHex(key)) << "every key file gets a new key";
}

TEST_F(KeyFiles, WriteRefusals) {
    RandomGenerator notReady;
    notReady.entropy = ENTROPY_THRESHOLD - 1;
    EXPECT_EQ(writeKeyFile(notReady, nativePathOf("new.key"), bufferOf(KEY_ID)), GENERATOR_NOT_READY);
    EXPECT_TRUE(fileNames(dir_.path()).empty()) << "nothing is written";

    auto generator = readyGenerator();
    EXPECT_EQ(writeKeyFile(*generator, nativePathOf("no such folder/new.key"), bufferOf(KEY_ID)), KEY_FILE_NOT_WRITTEN);
}

// new-key-file's write never replaces a file, also one that appears after the caller looked.
TEST_F(KeyFiles, CreateNeverReplacesAnExistingFile) {
    auto generator = readyGenerator();
    ASSERT_EQ(createKeyFile(*generator, nativePathOf("new.key"), bufferOf(KEY_ID)), KEY_MATERIAL_OK);
    const Bytes first = readFileBytes("new.key");
    EXPECT_EQ(first.size(), KEY_FILE_BYTES);
    EXPECT_EQ(createKeyFile(*generator, nativePathOf("new.key"), bufferOf(KEY_ID)), KEY_FILE_NOT_WRITTEN);
    EXPECT_TRUE(readFileBytes("new.key") == first);
    EXPECT_EQ(fileNames(dir_.path()), std::vector<std::string>{"new.key"});
}

// Each small file is read only up to what its kind holds: a file of 1 GiB (sparse) whose length
// field says 1 GiB is refused before its payload is read or memory is taken for it.
TEST_F(KeyFiles, EachKindOfSmallFileIsBoundedBeforeItIsRead) {
    for (const char* name : {"huge.key", SETTINGS_FILE_NAME}) {
        writeFileBytes(name, Bytes{0, 0, 0, 0x40});
        fs::resize_file(name, (uint64_t{1} << 30) + 4);
    }
    LargestRequestRecorder recorder;
    SecureBuffer key;
    EXPECT_EQ(readKeyFile(nativePathOf("huge.key"), key), KEY_FILE_BAD_FORMAT) << "a key file is 71 bytes";
    EXPECT_TRUE(key.empty());
    Settings settings;
    settings.cipher = CIPHER_SERPENT;
    settings.compress = true;
    loadSettings(settings);
    EXPECT_EQ(settings.cipher, CIPHER_AES256) << "the defaults";
    EXPECT_FALSE(settings.compress);
    EXPECT_LT(LargestRequestRecorder::largestRequest(), 65536u);
}

TEST(KeyMaterialMessages, EachStatusHasItsText) {
    struct Row {
        KeyMaterialStatus status;
        const char* message;
    };
    const Row rows[] = {
        {KEY_FILE_UNREADABLE, "Kunde inte läsa filen."},
        {KEY_FILE_BAD_FORMAT, "Felaktigt format på nyckelfilen."},
        {KEY_FILE_BAD_VERSION, "Felaktigt version på nyckelfilen."},
        {KEY_FILE_NOT_WRITTEN, "Kunde inte skriva nyckel till fil!"},
        {GENERATOR_NOT_READY, "Fel: Slumptalsgeneratorn är inte initierad!"},
        {GENERATOR_FAILED, "Fel vid generering av slumptal!"},
    };
    for (const Row& row : rows) EXPECT_STREQ(keyMaterialMessage(row.status), row.message) << row.status;
    EXPECT_EQ(keyMaterialMessage(KEY_MATERIAL_OK), nullptr);
}

TEST(GeneratedKeyMaterial, KeyCodeIsTheGeneratorsNext32Bytes) {
    auto generator = readyGenerator(5);
    auto reference = readyGenerator(5);
    SecureBuffer first, second, expectedBytes, expected;
    ASSERT_EQ(generateKeyCode(*generator, first), KEY_MATERIAL_OK);
    ASSERT_TRUE(generate(*reference, expectedBytes, 32, CIPHER_AES256));
    ASSERT_TRUE(formatKeyCode(expectedBytes, expected));
    EXPECT_STREQ(textPointer(first), textPointer(expected));
    ASSERT_EQ(generateKeyCode(*generator, second), KEY_MATERIAL_OK);
    EXPECT_STRNE(textPointer(first), textPointer(second));
}

TEST(GeneratedKeyMaterial, NothingWithoutAReadyGenerator) {
    RandomGenerator notReady;
    notReady.entropy = ENTROPY_THRESHOLD - 1;
    SecureBuffer out = fromNulTerminated("untouched");
    EXPECT_EQ(generateKeyCode(notReady, out), GENERATOR_NOT_READY);
    EXPECT_STREQ(textPointer(out), "untouched");
    EXPECT_EQ(generatePassphrase(notReady, out), GENERATOR_NOT_READY);
    EXPECT_STREQ(textPointer(out), "untouched");
}

// Each character comes from one 32-bit draw: its low 7 bits index the alphabet, and a value of 72
// or more is drawn again.
TEST(GeneratedKeyMaterial, PassphraseReplaysTheDraws) {
    auto generator = readyGenerator(9);
    auto reference = readyGenerator(9);
    const std::string alphabet = "abcdefghiljklmopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789?=/&%#!-+*";
    ASSERT_EQ(alphabet.size(), 72u);
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        SecureBuffer passphrase;
        ASSERT_EQ(generatePassphrase(*generator, passphrase), KEY_MATERIAL_OK);
        std::string expected;
        while (expected.size() < 42) {
            uint32_t draw = 0;
            ASSERT_TRUE(generateUint32(*reference, draw));
            if ((draw & 0x7F) < 72) expected += alphabet[draw & 0x7F];
        }
        ASSERT_EQ(passphrase.size(), 43u) << "42 characters and the NUL";
        EXPECT_STREQ(textPointer(passphrase), expected.c_str());
    }
}

TEST(GeneratedKeyMaterial, PassphrasesUseTheWholeAlphabetAndNothingElse) {
    auto generator = readyGenerator(13);
    const std::string alphabet = PASSPHRASE_ALPHABET;
    std::set<char> seen;
    for (int i = 0; i < 100; ++i) {
        SecureBuffer passphrase;
        ASSERT_EQ(generatePassphrase(*generator, passphrase), KEY_MATERIAL_OK);
        ASSERT_EQ(textLength(passphrase), 42u);
        for (uint32_t c = 0; c < 42; ++c) {
            const char ch = static_cast<char>(passphrase.data()[c]);
            ASSERT_NE(alphabet.find(ch), std::string::npos) << "character " << static_cast<int>(ch);
            seen.insert(ch);
        }
    }
    EXPECT_EQ(seen.size(), 71u) << "every distinct character of the alphabet (\"l\" is in it twice)";
    EXPECT_EQ(seen.count('n'), 0u);
}
