// Damaged and forged containers. Every single-byte change and every truncation of a small
// container; tables and chunks forged under the container's own key (as only a key holder could);
// header and table sizes at and past their limits; reordered, damaged and cut chunks of
// multi-chunk containers. Each attempt must end with the right result, leave no file of the job
// behind, and leave a file that already had the target's name byte for byte as it was.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_order.h"
#include "container/format.h"
#include "crypto/hmac.h"
#include "container/session.h"
#include "support/allocators.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

const std::string PRECIOUS_TEXT = "a file the user already had under the target's name\n";
const Bytes PRECIOUS(PRECIOUS_TEXT.begin(), PRECIOUS_TEXT.end());
const std::vector<std::string> NAMES_BEFORE = {"damaged.encrypted", "target.bin"};

// Progress fields start here, so that an untouched field shows that no chunk was finished.
constexpr uint32_t NOT_REPORTED = 0xFFFFFFFF;

// The small container: a key file, AES-256, no compression, one chunk of 20 bytes whose first
// byte is no codec method (so a compressed flag switched on cannot decompress it).
const std::string SMALL_PLAIN_TEXT = "Zebrorna sover gott.";
constexpr uint32_t SMALL_CONTAINER_BYTES = 186;
// Offsets in the small container.
constexpr uint32_t HEADER_START = 4;
constexpr uint32_t MAGIC_FIELD_BYTES = 17;  // length 13 and "EncryptedFile"
constexpr uint32_t KEY_MODE_OFFSET = HEADER_START + 21;
constexpr uint32_t CHECK_LENGTH_OFFSET = HEADER_START + 22;
constexpr uint32_t CHECK_VALUE_OFFSET = HEADER_START + 26;
constexpr uint32_t TABLE_SIZE_OFFSET = HEADER_START + HEADER_SIZE_RAW;
constexpr uint32_t TABLE_OFFSET = TABLE_SIZE_OFFSET + 4;
constexpr uint32_t CHUNK_OFFSET = TABLE_OFFSET + 64;

Bytes u32Le(uint32_t value) {
    Bytes bytes(4);
    store32Le(bytes.data(), value);
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes slice(const Bytes& bytes, size_t start, size_t count) {
    return Bytes(bytes.begin() + start, bytes.begin() + start + count);
}

struct Attempt {
    bool ok = false;
    JobResult result = RESULT_CANCELLED;
    Bytes target;                    // what the target's name holds afterwards
    std::vector<std::string> names;  // the folder afterwards
    uint32_t done = NOT_REPORTED;
    uint32_t total = NOT_REPORTED;
};

// Decrypts container bytes in a folder where the target's name already holds PRECIOUS.
class DecryptionBench {
public:
    Attempt decrypt(const Bytes& container, KeyMethod method = KEY_FILE) {
        return decrypt(container, method, materialFor(method));
    }
    Attempt decrypt(const Bytes& container, KeyMethod method, const KeyMaterial& material) {
        writeFileBytes(dir_ / "damaged.encrypted", container);
        writeFileBytes(dir_ / "target.bin", PRECIOUS);
        JobProgress progress;
        progress.lastFinishedChunk = NOT_REPORTED;
        progress.total = NOT_REPORTED;
        Attempt attempt;
        attempt.ok = decryptPath(optionsFor(*generator_, CIPHER_AES256, false, &progress), method, material,
                                 dir_ / "damaged.encrypted", dir_ / "target.bin", attempt.result);
        attempt.target = readFileBytes(dir_ / "target.bin");
        attempt.names = fileNames(dir_.path());
        attempt.done = progress.lastFinishedChunk;
        attempt.total = progress.total;
        return attempt;
    }
    // A container of plain made by encryptFile.
    Bytes encrypt(const Bytes& plain, KeyMethod method, CipherAlgorithm cipher, bool compress) {
        writeFileBytes(dir_ / "plain.bin", plain);
        JobResult result = RESULT_CANCELLED;
        EXPECT_TRUE(encryptPath(optionsFor(*generator_, cipher, compress), method, materialFor(method),
                                dir_ / "plain.bin", dir_ / "damaged.encrypted", result));
        Bytes container = readFileBytes(dir_ / "damaged.encrypted");
        fs::remove(dir_ / "plain.bin");
        return container;
    }
    RandomGenerator& generator() { return *generator_; }

private:
    TempDir dir_;
    std::unique_ptr<RandomGenerator> generator_ = readyGenerator();
};

void expectRefused(const Attempt& attempt, JobResult expected) {
    EXPECT_FALSE(attempt.ok);
    EXPECT_EQ(attempt.result, expected);
    EXPECT_EQ(attempt.names, NAMES_BEFORE) << "no file of the job remains";
    EXPECT_TRUE(attempt.target == PRECIOUS) << "the file that had the target's name is unchanged";
}

void expectOpened(const Attempt& attempt, const Bytes& plain) {
    EXPECT_TRUE(attempt.ok) << "result " << attempt.result;
    EXPECT_TRUE(attempt.target == plain);
    EXPECT_EQ(attempt.names, NAMES_BEFORE);
}

struct Expected {
    bool ok;
    JobResult result;
};

// The outcome of the small container with the byte at offset changed. The header is read before
// anything is authenticated, so there its fields decide; every byte from the table size on is
// covered by a tag or chooses the bytes a tag is checked over, and damage there is a read error.
Expected expectedAfterChange(const Bytes& changed, uint32_t offset) {
    if (offset < HEADER_START) {
        // A header cut after the magic but inside the check value carries no whole check value:
        // wrong key. Cut inside the magic, or longer so that the table size is read from the
        // wrong place (or past the file): read error.
        const uint32_t headerBytes = load32Le(changed.data());
        if (headerBytes >= MAGIC_FIELD_BYTES && headerBytes < HEADER_SIZE_RAW) return {false, RESULT_WRONG_KEY};
        return {false, RESULT_READ_ERROR};
    }
    if (offset == KEY_MODE_OFFSET) return {false, RESULT_WRONG_KEY};
    if (offset >= CHECK_LENGTH_OFFSET && offset < CHECK_VALUE_OFFSET) {
        // A field declared longer than the header reads as the 8 bytes that are there.
        const bool whole = load32Le(changed.data() + CHECK_LENGTH_OFFSET) >= CHECK_VALUE_BYTES;
        return whole ? Expected{true, RESULT_CANCELLED} : Expected{false, RESULT_WRONG_KEY};
    }
    if (offset >= CHECK_VALUE_OFFSET && offset < TABLE_SIZE_OFFSET) return {false, RESULT_WRONG_KEY};
    // Magic and version; the other cipher (its keys fail the table's tag); the compressed flag
    // (the data's first byte is no codec method); table size, table and chunk.
    return {false, RESULT_READ_ERROR};
}

// Seals payloads under the small container's key, as only a key holder could.
class Forger {
public:
    explicit Forger(RandomGenerator& generator) { sessionInit(session_, fileKey(), &generator, CIPHER_AES256); }
    ~Forger() { sessionRelease(session_); }
    Forger(const Forger&) = delete;
    Forger& operator=(const Forger&) = delete;

    Bytes seal(const Bytes& payload) {
        SecureBuffer buffer = bufferOf(payload);
        EXPECT_TRUE(sessionEncryptChunk(session_, buffer));
        return bytesOf(buffer);
    }
    // An IV and its valid tag, with no ciphertext between them: 48 bytes.
    Bytes authenticatedEmptyBlob() {
        Bytes iv(16);
        for (uint32_t i = 0; i < 16; ++i) iv[i] = static_cast<uint8_t>(0x11 * i);
        const SecureBuffer tag = hmacCompute(*session_.mac, iv.data(), 16);
        return concat({iv, bytesOf(tag)});
    }

private:
    CryptoSession session_;
};

Bytes tablePayload(std::initializer_list<uint32_t> sealedSizes) {
    Bytes payload = u32Le(static_cast<uint32_t>(sealedSizes.size()));
    for (uint32_t size : sealedSizes) payload = concat({payload, u32Le(size)});
    return payload;
}

Bytes chunkPayload(uint32_t index, const Bytes& data) {
    Bytes payload(4);
    store32Be(payload.data(), index);
    return concat({payload, data});
}

}  // namespace

TEST(DamagedContainer, EverySingleByteChange) {
    DecryptionBench bench;
    const Bytes plain(SMALL_PLAIN_TEXT.begin(), SMALL_PLAIN_TEXT.end());
    const Bytes original = bench.encrypt(plain, KEY_FILE, CIPHER_AES256, false);
    ASSERT_EQ(original.size(), SMALL_CONTAINER_BYTES);
    expectOpened(bench.decrypt(original), plain);

    for (uint32_t offset = 0; offset < original.size(); ++offset) {
        std::vector<uint8_t> values = {0x00, 0xFF};
        for (int bit = 0; bit < 8; ++bit) values.push_back(static_cast<uint8_t>(original[offset] ^ (1 << bit)));
        for (uint8_t value : values) {
            if (value == original[offset]) continue;
            SCOPED_TRACE("offset " + std::to_string(offset) + " set to " + toHex(&value, 1));
            Bytes changed = original;
            changed[offset] = value;
            const Expected expected = expectedAfterChange(changed, offset);
            const Attempt attempt = bench.decrypt(changed);
            if (expected.ok) {
                expectOpened(attempt, plain);
            } else {
                expectRefused(attempt, expected.result);
            }
        }
    }
}

TEST(DamagedContainer, EveryTruncation) {
    DecryptionBench bench;
    const Bytes plain(SMALL_PLAIN_TEXT.begin(), SMALL_PLAIN_TEXT.end());
    const Bytes original = bench.encrypt(plain, KEY_FILE, CIPHER_AES256, false);
    for (uint32_t length = 0; length < original.size(); ++length) {
        SCOPED_TRACE("cut to " + std::to_string(length) + " bytes");
        expectRefused(bench.decrypt(slice(original, 0, length)), RESULT_READ_ERROR);
    }
}

TEST(DamagedContainer, PassphraseHeaderFields) {
    DecryptionBench bench;
    const Bytes plain = {'h', 'e', 'j'};
    const Bytes original = bench.encrypt(plain, PASSPHRASE, CIPHER_SERPENT, true);
    ASSERT_EQ(original.size(), 182u);
    struct Row {
        const char* name;
        uint32_t offset;
        uint8_t value;
        JobResult result;
    };
    const Row rows[] = {
        {"salt byte", HEADER_START + 26, static_cast<uint8_t>(original[HEADER_START + 26] ^ 0x40), RESULT_WRONG_KEY},
        {"salt field of 7 bytes: no derivation", HEADER_START + 22, 7, RESULT_CRYPTO_ERROR},
        {"key mode 0: a raw container for a passphrase", HEADER_START + 21, 0, RESULT_WRONG_KEY},
        {"check value byte", HEADER_START + 45, static_cast<uint8_t>(original[HEADER_START + 45] ^ 1),
         RESULT_WRONG_KEY},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes changed = original;
        changed[row.offset] = row.value;
        expectRefused(bench.decrypt(changed, PASSPHRASE), row.result);
    }
    expectOpened(bench.decrypt(original, PASSPHRASE), plain);
}

// Containers put together by hand from the small container's header and chunk, with tables and
// chunks sealed under its own key. None may make the reader ask for memory the file cannot fill.
TEST(ForgedContainer, TablesChunksAndSizes) {
    DecryptionBench bench;
    const Bytes plain(SMALL_PLAIN_TEXT.begin(), SMALL_PLAIN_TEXT.end());
    const Bytes original = bench.encrypt(plain, KEY_FILE, CIPHER_AES256, false);
    ASSERT_EQ(original.size(), SMALL_CONTAINER_BYTES);
    const Bytes prefix = slice(original, 0, TABLE_SIZE_OFFSET);  // header size and header
    const Bytes header = slice(original, HEADER_START, HEADER_SIZE_RAW);
    const Bytes table = slice(original, TABLE_OFFSET, 64);
    const Bytes chunk = slice(original, CHUNK_OFFSET, original.size() - CHUNK_OFFSET);
    Forger forger(bench.generator());
    auto assemble = [&](const Bytes& tableArea, const Bytes& chunks) {
        return concat({prefix, u32Le(static_cast<uint32_t>(tableArea.size())), tableArea, chunks});
    };
    auto paddedHeader = [&](uint32_t headerBytes) {
        Bytes padded = header;
        padded.resize(headerBytes, 0);
        return concat({u32Le(headerBytes), padded, u32Le(64), table, chunk});
    };
    const Bytes emptyBlob = forger.authenticatedEmptyBlob();
    ASSERT_EQ(emptyBlob.size(), 48u);
    const Bytes indexOnly = forger.seal(chunkPayload(0, {}));
    const Bytes threeBytes = forger.seal({0, 0, 0});
    const Bytes wrongIndex = forger.seal(chunkPayload(1, plain));

    struct Row {
        const char* name;
        Bytes container;
        bool ok;
        JobResult result;
        Bytes plain;  // when ok
    };
    const Row rows[] = {
        {"table sealed again by the test (control)", assemble(forger.seal(tablePayload({80})), chunk), true,
         RESULT_CANCELLED, plain},
        // Its payload starts with four zero bytes, index 0 read as a count of 0; a reader that ignored
        // the bytes after the entries would write an empty file and report success.
        {"first chunk in place of the table", assemble(chunk, chunk), false, RESULT_READ_ERROR, {}},
        {"authenticated blob without ciphertext as the table",
         assemble(emptyBlob, chunk),
         false,
         RESULT_READ_ERROR,
         {}},
        {"authenticated blob without ciphertext as the chunk",
         assemble(forger.seal(tablePayload({48})), emptyBlob),
         false,
         RESULT_READ_ERROR,
         {}},
        {"table with a byte after its entries",
         assemble(forger.seal(concat({tablePayload({80}), {0}})), chunk),
         false,
         RESULT_READ_ERROR,
         {}},
        {"table counting one chunk and listing none",
         assemble(forger.seal(u32Le(1)), chunk),
         false,
         RESULT_READ_ERROR,
         {}},
        {"table of three bytes", assemble(forger.seal({0, 0, 0}), chunk), false, RESULT_READ_ERROR, {}},
        {"table of two chunks over a file of one",
         assemble(forger.seal(tablePayload({80, 80})), chunk),
         false,
         RESULT_READ_ERROR,
         {}},
        {"chunk sealed with index 1",
         assemble(forger.seal(tablePayload({80})), wrongIndex),
         false,
         RESULT_READ_ERROR,
         {}},
        {"chunk of its index only: an empty chunk",
         assemble(forger.seal(tablePayload({static_cast<uint32_t>(indexOnly.size())})), indexOnly),
         true,
         RESULT_CANCELLED,
         {}},
        {"chunk payload of 3 bytes",
         assemble(forger.seal(tablePayload({64})), threeBytes),
         false,
         RESULT_READ_ERROR,
         {}},
        {"bytes after the last chunk", concat({original, {1, 2, 3}}), true, RESULT_CANCELLED, plain},
        {"header size 10240, padded with bytes the reader ignores", paddedHeader(MAX_HEADER_SIZE), true,
         RESULT_CANCELLED, plain},
        {"header size 10241", paddedHeader(MAX_HEADER_SIZE + 1), false, RESULT_READ_ERROR, {}},
        {"table size 0", assemble({}, concat({table, chunk})), false, RESULT_READ_ERROR, {}},
        {"table size one past the end of the file",
         concat({prefix, u32Le(64 + static_cast<uint32_t>(chunk.size()) + 1), table, chunk}),
         false,
         RESULT_READ_ERROR,
         {}},
        {"table size FFFFFFF0", concat({prefix, u32Le(0xFFFFFFF0), table, chunk}), false, RESULT_READ_ERROR, {}},
        // The file holds every byte the entry names, so only the format's bound on a sealed chunk
        // keeps the reader from taking that much memory for it.
        {"table naming a chunk of 3 MiB",
         assemble(forger.seal(tablePayload({3u << 20})), Bytes(3u << 20, 0x5A)),
         false,
         RESULT_READ_ERROR,
         {}},
        {"table naming a chunk one block above the largest sealed chunk",
         assemble(forger.seal(tablePayload({MAX_SEALED_CHUNK_BYTES + CIPHER_BLOCK_BYTES})),
                  Bytes(MAX_SEALED_CHUNK_BYTES + CIPHER_BLOCK_BYTES, 0x5A)),
         false,
         RESULT_READ_ERROR,
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Attempt attempt;
        {
            LargestRequestRecorder recorder;
            attempt = bench.decrypt(row.container);
        }
        if (row.ok) {
            expectOpened(attempt, row.plain);
        } else {
            expectRefused(attempt, row.result);
        }
        EXPECT_LE(LargestRequestRecorder::largestRequest(), 65536u)
            << "no size from the file makes the reader ask for more than it holds";
    }
}

// Two chunks: 2 MiB and 1 byte. Damage to a chunk is found when that chunk is read; the chunks
// before it have been decrypted, but their plaintext does not remain.
TEST(DamagedMultiChunkContainer, FailsAtTheDamagedChunk) {
    DecryptionBench bench;
    const Bytes plain = makeContent(Content::RUNS, CHUNK_SIZE + 1);
    const Bytes original = bench.encrypt(plain, KEY_FILE, CIPHER_SERPENT, false);
    const uint32_t chunk0 = CHUNK_OFFSET;
    const uint32_t chunk1 = chunk0 + 2097216;
    ASSERT_EQ(original.size(), chunk1 + 64u);

    struct Row {
        const char* name;
        uint32_t offset;
        uint32_t done;  // the last chunk finished before the failure
    };
    const Row changes[] = {
        {"chunk 0 IV, first byte", chunk0, NOT_REPORTED},
        {"chunk 0 IV, last byte", chunk0 + 15, NOT_REPORTED},
        {"chunk 0 ciphertext, first byte", chunk0 + 16, NOT_REPORTED},
        {"chunk 0 ciphertext, middle", chunk0 + 1048576, NOT_REPORTED},
        {"chunk 0 ciphertext, last byte", chunk1 - 33, NOT_REPORTED},
        {"chunk 0 tag, first byte", chunk1 - 32, NOT_REPORTED},
        {"chunk 0 tag, last byte", chunk1 - 1, NOT_REPORTED},
        {"chunk 1 IV, first byte", chunk1, 0},
        {"chunk 1 IV, last byte", chunk1 + 15, 0},
        {"chunk 1 ciphertext, first byte", chunk1 + 16, 0},
        {"chunk 1 ciphertext, last byte", chunk1 + 31, 0},
        {"chunk 1 tag, first byte", chunk1 + 32, 0},
        {"chunk 1 tag, last byte", chunk1 + 63, 0},
    };
    for (const Row& row : changes) {
        SCOPED_TRACE(row.name);
        Bytes changed = original;
        changed[row.offset] ^= 0x04;
        const Attempt attempt = bench.decrypt(changed);
        expectRefused(attempt, RESULT_READ_ERROR);
        EXPECT_EQ(attempt.done, row.done);
        EXPECT_EQ(attempt.total, row.done == NOT_REPORTED ? NOT_REPORTED : 2u);
    }

    const Row cuts[] = {
        {"inside chunk 0", chunk0 + 100, NOT_REPORTED},
        {"after chunk 0", chunk1, 0},
        {"inside the last chunk, after its IV", chunk1 + 16, 0},
        {"the last byte of the last chunk", chunk1 + 63, 0},
    };
    for (const Row& row : cuts) {
        SCOPED_TRACE(std::string("cut ") + row.name);
        const Attempt attempt = bench.decrypt(slice(original, 0, row.offset));
        expectRefused(attempt, RESULT_READ_ERROR);
        EXPECT_EQ(attempt.done, row.done);
        EXPECT_EQ(attempt.total, row.done == NOT_REPORTED ? NOT_REPORTED : 2u);
    }
    expectOpened(bench.decrypt(original), plain);
}

// Three chunks of one size: the table cannot tell them apart, and even chunks of equal contents
// carry their own index.
TEST(ReorderedChunks, EqualSizeSwapFailsAtTheFirstSwappedChunk) {
    DecryptionBench bench;
    Bytes plain = makeContent(Content::RUNS, CHUNK_SIZE);
    plain = concat({plain, plain, plain});
    const Bytes original = bench.encrypt(plain, KEY_FILE, CIPHER_AES256, false);
    const uint32_t sealedBytes = 2097216;
    const size_t chunk0 = TABLE_OFFSET + 80;  // a table of three entries seals to 80 bytes
    const size_t chunk1 = chunk0 + sealedBytes;
    const size_t chunk2 = chunk1 + sealedBytes;
    ASSERT_EQ(original.size(), chunk2 + sealedBytes);

    const Bytes swapped = concat(
        {slice(original, 0, chunk1), slice(original, chunk2, sealedBytes), slice(original, chunk1, sealedBytes)});
    const Attempt attempt = bench.decrypt(swapped);
    expectRefused(attempt, RESULT_READ_ERROR);
    EXPECT_EQ(attempt.done, 0u) << "chunk 0 was finished, chunk 1 refused";
    EXPECT_EQ(attempt.total, 3u);
}

// Two chunks of different sizes swapped together with their table entries (the table sealed
// again under the container's key): every tag holds, and only the index in each chunk tells.
TEST(ReorderedChunks, SwapWithTheTableSealedAgainFailsAtChunkZero) {
    DecryptionBench bench;
    const Bytes plain = makeContent(Content::RUNS, CHUNK_SIZE + 1);
    const Bytes original = bench.encrypt(plain, KEY_FILE, CIPHER_AES256, false);
    const Bytes prefix = slice(original, 0, TABLE_SIZE_OFFSET);
    const Bytes chunk0 = slice(original, CHUNK_OFFSET, 2097216);
    const Bytes chunk1 = slice(original, CHUNK_OFFSET + 2097216, 64);
    ASSERT_EQ(original.size(), CHUNK_OFFSET + 2097216u + 64u);
    Forger forger(bench.generator());

    const Bytes inOrder = concat({prefix, u32Le(64), forger.seal(tablePayload({2097216, 64})), chunk0, chunk1});
    expectOpened(bench.decrypt(inOrder), plain);

    const Bytes swapped = concat({prefix, u32Le(64), forger.seal(tablePayload({64, 2097216})), chunk1, chunk0});
    const Attempt attempt = bench.decrypt(swapped);
    expectRefused(attempt, RESULT_READ_ERROR);
    EXPECT_EQ(attempt.done, NOT_REPORTED) << "refused at chunk 0";
}
