// The bytes encryptFile writes, for every key method, both ciphers, with and without compression:
// the header fields, the table size, the table (opened here with a session of the test's own) and
// every chunk behind it, and the container sizes that follow from the format. Compression changes
// the sealed chunk sizes where the codec shrinks the data or adds its method byte; the header,
// the table size and the chunk count stay fixed.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_order.h"
#include "codec/framing.h"
#include "container/format.h"
#include "crypto/pbkdf2.h"
#include "container/session.h"
#include "crypto/sha256.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

constexpr const char* MAGIC_FIELD_HEX = "0d000000456e6372797074656446696c65";  // 13, "EncryptedFile"
constexpr uint32_t SALT_FIELD_BYTES = 12;  // a passphrase header's extra field: length 8 and the salt

std::string hexU32(uint32_t value) {
    uint8_t bytes[4];
    store32Le(bytes, value);
    return toHex(bytes, 4);
}

// The master key a container of method was made with; a passphrase's comes from its salt.
SecureBuffer masterKeyOf(KeyMethod method, const Bytes& container) {
    switch (method) {
    case KEY_FILE: return fileKey();
    case KEY_CODE: return bufferFromHex(FIXTURE_KEY_CODE_HEX);
    case PASSPHRASE: {
        SecureBuffer salt(container.data() + 4 + 26, 8);
        SecureBuffer key;
        EXPECT_TRUE(pbkdf2Sha256(sha256OfText(passphraseText()), salt, key));
        return key;
    }
    }
    return SecureBuffer();
}

// Opens one sealed blob with a session of the test's own.
SecureBuffer openSealed(const SecureBuffer& key, CipherAlgorithm cipher, const uint8_t* data, uint32_t size) {
    CryptoSession session;
    sessionInit(session, key, nullptr, cipher);
    SecureBuffer blob(data, size);
    if (!sessionDecryptChunk(session, blob)) return SecureBuffer();
    return blob;
}

struct LayoutCase {
    KeyMethod method;
    CipherAlgorithm cipher;
    bool compress;
    Bytes source;
    std::vector<uint32_t> sealed;  // expected sealed chunk sizes; 0: smaller than uncompressed
    std::vector<uint32_t> uncompressedSealed;
    uint32_t containerBytes;  // for a key file or key code; 0: not fixed
};

void expectLayout(RandomGenerator& generator, const TempDir& dir, const LayoutCase& c) {
    const fs::path source = dir / "source.bin";
    const fs::path target = dir / "container.encrypted";
    writeFileBytes(source, c.source);
    JobResult result = RESULT_CANCELLED;
    ASSERT_TRUE(encryptPath(optionsFor(generator, c.cipher, c.compress), c.method, materialFor(c.method), source,
                            target, result))
        << "result " << result;
    const Bytes container = readFileBytes(target);
    const bool passphrase = c.method == PASSPHRASE;
    const uint32_t headerBytes = passphrase ? HEADER_SIZE_PASSPHRASE : HEADER_SIZE_RAW;
    ASSERT_GE(container.size(), 8u + headerBytes + 64);

    // Header size, magic, version, cipher, compressed flag, key mode.
    EXPECT_EQ(toHex(container.data(), 26), hexU32(headerBytes) + MAGIC_FIELD_HEX + "0000" +
                                               (c.cipher == CIPHER_SERPENT ? "01" : "00") + (c.compress ? "01" : "00") +
                                               (passphrase ? "01" : "00"));
    if (passphrase) {
        EXPECT_EQ(toHex(container.data() + 26, 4), "08000000") << "salt field length";
    }
    const SecureBuffer key = masterKeyOf(c.method, container);
    const uint32_t checkField = 4 + headerBytes - 12;
    EXPECT_EQ(toHex(container.data() + checkField, 12), "08000000" + toHex(keyCheckValue(key)));
    // With at most two chunks the table area is 64 bytes, the sealed form of 4 + 4n <= 12 bytes.
    EXPECT_EQ(toHex(container.data() + 4 + headerBytes, 4), "40000000");

    const uint32_t tableStart = 8 + headerBytes;
    const SecureBuffer table = openSealed(key, c.cipher, container.data() + tableStart, 64);
    ASSERT_GE(table.size(), 4u) << "the table opens under the container's key and cipher";
    const uint32_t count = load32Le(table.data());
    ASSERT_EQ(count, c.sealed.size());
    ASSERT_EQ(table.size(), 4 + 4 * count);

    uint64_t offset = tableStart + 64;
    uint32_t plainOffset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        SCOPED_TRACE("chunk " + std::to_string(i));
        const uint32_t sealedBytes = load32Le(table.data() + 4 + 4 * i);
        if (c.sealed[i] == 0) {
            EXPECT_LT(sealedBytes, c.uncompressedSealed[i]) << "the codec shrinks this chunk";
        } else {
            EXPECT_EQ(sealedBytes, c.sealed[i]);
        }
        ASSERT_LE(offset + sealedBytes, container.size());
        SecureBuffer payload = openSealed(key, c.cipher, container.data() + offset, sealedBytes);
        ASSERT_GE(payload.size(), 4u);
        EXPECT_EQ(load32Be(payload.data()), i) << "each chunk starts with its index, most significant byte first";
        SecureBuffer data = payload.slice(payload.size() - 4, 4);
        if (c.compress) {
            ASSERT_TRUE(decompressBlock(data)) << "each chunk is compressed on its own";
        }
        ASSERT_LE(plainOffset + data.size(), c.source.size());
        EXPECT_TRUE(Bytes(c.source.begin() + plainOffset, c.source.begin() + plainOffset + data.size()) ==
                    bytesOf(data));
        plainOffset += data.size();
        offset += sealedBytes;
    }
    EXPECT_EQ(plainOffset, c.source.size());
    EXPECT_EQ(offset, container.size()) << "the chunks follow the table back to back and end the file";
    if (c.containerBytes != 0) {
        EXPECT_EQ(container.size(), c.containerBytes + (passphrase ? SALT_FIELD_BYTES : 0));
    }
}

}  // namespace

TEST(ContainerLayout, KeyFileAesUncompressedStartsWithTheDocumentedBytes) {
    auto generator = readyGenerator();
    TempDir dir;
    writeFileBytes(dir / "source.bin", "Hej");
    JobResult result = RESULT_CANCELLED;
    ASSERT_TRUE(encryptPath(optionsFor(*generator, CIPHER_AES256, false), KEY_FILE, materialFor(KEY_FILE),
                            dir / "source.bin", dir / "out.encrypted", result));
    const Bytes container = readFileBytes(dir / "out.encrypted");
    ASSERT_EQ(container.size(), 170u);
    EXPECT_EQ(toHex(container.data(), 42),
              "22000000"
              "0d000000"
              "456e6372797074656446696c65"
              "0000"
              "00"
              "00"
              "00"
              "08000000" +
                  toHex(keyCheckValue(fileKey())) + "40000000");
}

TEST(ContainerLayout, SizesAndFixedBytesForEveryKeyCipherAndCompression) {
    struct Row {
        const char* name;
        uint32_t sourceBytes;
        Content content;
        std::vector<uint32_t> sealed;  // without compression
        uint32_t containerBytes;
        std::vector<uint32_t> sealedCompressed;  // 0: the codec shrinks this chunk
        uint32_t containerBytesCompressed;       // 0: not fixed
    };
    // Sizes for a key file or key code; a passphrase container is 12 bytes longer (its salt field).
    const Row rows[] = {
        {"empty: no chunk, a table of count 0", 0, Content::RANDOM, {}, 106, {}, 106},
        {"1 byte", 1, Content::RANDOM, {64}, 170, {64}, 170},
        {"11 bytes: the codec's method byte makes the 16th payload byte", 11, Content::RANDOM, {64}, 170, {80}, 186},
        {"12 bytes", 12, Content::RANDOM, {80}, 186, {80}, 186},
        {"2 MiB: one full chunk", 2097152, Content::RUNS, {2097216}, 2097322, {0}, 0},
        {"2 MiB + 1: a second chunk of 1 byte", 2097153, Content::RUNS, {2097216, 64}, 2097386, {0, 64}, 0},
    };
    auto generator = readyGenerator();
    TempDir dir;
    for (KeyMethod method : {KEY_FILE, KEY_CODE, PASSPHRASE}) {
        for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
            for (const Row& row : rows) {
                const Bytes source = makeContent(row.content, row.sourceBytes);
                for (bool compress : {false, true}) {
                    SCOPED_TRACE(std::string(row.name) + ", " + methodName(method) + ", " + cipherName(cipher) +
                                 (compress ? ", compressed" : ""));
                    expectLayout(*generator, dir,
                                 {method, cipher, compress, source, compress ? row.sealedCompressed : row.sealed,
                                  row.sealed, compress ? row.containerBytesCompressed : row.containerBytes});
                }
            }
        }
    }
}

// Data the codec cannot shrink is stored with its method byte: a full chunk then still seals to
// 2097216 bytes, and the table records that real size.
TEST(ContainerLayout, IncompressibleFullChunkWithCompression) {
    auto generator = readyGenerator();
    TempDir dir;
    expectLayout(*generator, dir,
                 {KEY_FILE, CIPHER_AES256, true, makeContent(Content::RANDOM, 2097152), {2097216}, {2097216}, 2097322});
}
