// Containers written by a separate implementation of the format (tests/data/fixtures): each must
// decrypt with decryptFile to its plaintext exactly, its header must say what its name says, and
// our encryption of the same plaintext with the same choices must give a container of the same
// size with the same fixed header bytes.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "job/key_material.h"
#include "base/byte_order.h"
#include "base/text.h"
#include "container/format.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

// Two chunks: 2 MiB + 1 bytes.
constexpr uint32_t PATTERN_BYTES = 2097153;

struct FixtureContainer {
    std::string fileName;
    std::string plain;  // the first part of the name
    KeyMethod method;
    CipherAlgorithm cipher;
    bool compressed;
};

// PLAIN.METHOD.CIPHER.COMPRESSION.encrypted
bool parseFixtureName(const std::string& fileName, FixtureContainer& out) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t dot = fileName.find('.'); dot != std::string::npos; dot = fileName.find('.', start)) {
        parts.push_back(fileName.substr(start, dot - start));
        start = dot + 1;
    }
    parts.push_back(fileName.substr(start));
    if (parts.size() != 5 || parts[4] != "encrypted") return false;
    const std::map<std::string, KeyMethod> methods = {{"key", KEY_FILE}, {"keycode", KEY_CODE}, {"pass", PASSPHRASE}};
    const std::map<std::string, CipherAlgorithm> ciphers = {{"aes", CIPHER_AES256}, {"serpent", CIPHER_SERPENT}};
    const std::map<std::string, bool> compressions = {{"plain", false}, {"comp", true}};
    if (!methods.count(parts[1]) || !ciphers.count(parts[2]) || !compressions.count(parts[3])) return false;
    out = {fileName, parts[0], methods.at(parts[1]), ciphers.at(parts[2]), compressions.at(parts[3])};
    return true;
}

fs::path fixturePath(const std::string& relative) { return testDataPath("fixtures/" + relative); }

std::vector<FixtureContainer> fixtureContainers() {
    std::vector<FixtureContainer> containers;
    for (const std::string& name : fileNames(fixturePath("containers"))) {
        FixtureContainer container;
        EXPECT_TRUE(parseFixtureName(name, container)) << "unexpected fixture name " << name;
        containers.push_back(container);
    }
    return containers;
}

Bytes fixturePlaintext(const std::string& plain) {
    if (plain == "pattern-2chunks") {
        Bytes bytes(PATTERN_BYTES);
        for (uint32_t i = 0; i < PATTERN_BYTES; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
        return bytes;
    }
    const std::map<std::string, std::string> files = {
        {"empty", "empty.bin"}, {"one", "one.bin"}, {"hej", "hej.txt"}, {"text-200k", "text-200k.txt"}};
    return readFileBytes(fixturePath("plain/" + files.at(plain)));
}

// The fixture material of method in its slot: the key file through readKeyFile, the key code as
// the first line of its file, the passphrase as its Windows-1252 text.
KeyMaterial fixtureMaterial(KeyMethod method) {
    KeyMaterial material = materialFor(method);
    switch (method) {
    case KEY_FILE: {
        const std::string path = fixturePath("key.key").string();
        EXPECT_EQ(readKeyFile(nativePathOf(path), material.keyFileKey), KEY_MATERIAL_OK);
        break;
    }
    case KEY_CODE: material.keyCode = firstLine(bufferOf(readFileBytes(fixturePath("keycode.txt")))); break;
    case PASSPHRASE: material.passphrase = passphraseText(); break;
    }
    return material;
}

}  // namespace

TEST(FixtureContainers, KeyMaterialIsWhatTheHarnessUses) {
    EXPECT_EQ(toHex(fixtureMaterial(KEY_FILE).keyFileKey), toHex(fileKey()));
    EXPECT_STREQ(textPointer(fixtureMaterial(KEY_CODE).keyCode), FIXTURE_KEY_CODE);
    // The passphrase file holds the UTF-8 form of the Windows-1252 text the containers hash.
    const Bytes utf8 = readFileBytes(fixturePath("passphrase.txt"));
    EXPECT_EQ(std::string(utf8.begin(), utf8.end()), "korrekt h\xc3\xa4st batteri zon\n");
}

TEST(FixtureContainers, EachDecryptsToItsPlaintext) {
    const std::vector<FixtureContainer> containers = fixtureContainers();
    ASSERT_EQ(containers.size(), 4u * 3 * 2 * 2 + 1) << "every combination of four files, and the two-chunk one";
    auto generator = readyGenerator();
    TempDir dir;
    for (const FixtureContainer& container : containers) {
        SCOPED_TRACE(container.fileName);
        const Bytes bytes = readFileBytes(fixturePath("containers/" + container.fileName));
        ASSERT_GE(bytes.size(), 8u);

        // The header says what the name says.
        const uint32_t headerBytes = load32Le(bytes.data());
        EXPECT_EQ(headerBytes, container.method == PASSPHRASE ? HEADER_SIZE_PASSPHRASE : HEADER_SIZE_RAW);
        ASSERT_GE(bytes.size(), 4u + HEADER_SIZE_PASSPHRASE + 4);
        EXPECT_EQ(bytes[4 + 19], container.cipher);
        EXPECT_EQ(bytes[4 + 20], container.compressed ? 1 : 0);
        EXPECT_EQ(bytes[4 + 21], container.method == PASSPHRASE ? 1 : 0);

        JobProgress progress;
        JobResult result = RESULT_CANCELLED;
        const fs::path target = dir / "plain.out";
        // The cipher and compression come from the container; the options' are set the other way.
        const PipelineOptions options =
            optionsFor(*generator, container.cipher == CIPHER_AES256 ? CIPHER_SERPENT : CIPHER_AES256,
                       !container.compressed, &progress);
        ASSERT_TRUE(decryptPath(options, container.method, fixtureMaterial(container.method),
                                fixturePath("containers/" + container.fileName), target, result))
            << "result " << result;
        const Bytes expected = fixturePlaintext(container.plain);
        const Bytes actual = readFileBytes(target);
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected);
        fs::remove(target);
    }
}

TEST(FixtureContainers, OurContainersMatchTheirSizesAndFixedBytes) {
    auto generator = readyGenerator();
    TempDir dir;
    for (const FixtureContainer& container : fixtureContainers()) {
        SCOPED_TRACE(container.fileName);
        const Bytes theirs = readFileBytes(fixturePath("containers/" + container.fileName));
        const fs::path source = dir / "source.bin";
        const fs::path ours = dir / "ours.encrypted";
        writeFileBytes(source, fixturePlaintext(container.plain));
        JobResult result = RESULT_CANCELLED;
        ASSERT_TRUE(encryptPath(optionsFor(*generator, container.cipher, container.compressed), container.method,
                                fixtureMaterial(container.method), source, ours, result))
            << "result " << result;
        const Bytes mine = readFileBytes(ours);
        if (container.compressed) {
            // Our encoder may choose a shorter Huffman code than the other implementation's, never a
            // longer one; what it writes must still open to the same plaintext.
            EXPECT_LE(mine.size(), theirs.size());
            JobResult opened = RESULT_CANCELLED;
            const fs::path reopened = dir / "reopened.bin";
            ASSERT_TRUE(decryptPath(optionsFor(*generator, container.cipher, container.compressed), container.method,
                                    fixtureMaterial(container.method), ours, reopened, opened))
                << "result " << opened;
            EXPECT_TRUE(readFileBytes(reopened) == fixturePlaintext(container.plain));
            fs::remove(reopened);
        } else {
            EXPECT_EQ(mine.size(), theirs.size());
        }

        // Everything before the table is fixed by the key, except a passphrase container's salt
        // and the check value derived with it.
        const uint32_t fixedBytes = container.method == PASSPHRASE ? 4 + 22 + 4 : 4 + HEADER_SIZE_RAW + 4;
        ASSERT_GE(mine.size(), fixedBytes);
        ASSERT_GE(theirs.size(), fixedBytes);
        EXPECT_EQ(toHex(mine.data(), fixedBytes), toHex(theirs.data(), fixedBytes));
        if (container.method == PASSPHRASE) {
            EXPECT_EQ(toHex(mine.data() + 4 + 34, 4), toHex(theirs.data() + 4 + 34, 4)) << "check value field length";
            EXPECT_EQ(toHex(mine.data() + 4 + HEADER_SIZE_PASSPHRASE, 4),
                      toHex(theirs.data() + 4 + HEADER_SIZE_PASSPHRASE, 4))
                << "table size";
        }
    }
}
