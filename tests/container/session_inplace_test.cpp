// Sealing and opening in place, and their buffer forms sessionEncryptChunk and sessionDecryptChunk
// (whose blob session_oracle_test.cpp checks against OpenSSL): a batch of chunks in CBC lanes side
// by side gives each the blob it gets alone with the same IV, for both ciphers, every padding
// length and lanes of different lengths; opening accepts and refuses the same in both forms and
// keeps what the count byte says; the tag streamed in pieces is hmacCompute's at every split.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "container/session.h"
#include "support/hex.h"
#include "support/pipeline_harness.h"

using namespace testsupport;

namespace {

const uint32_t PAYLOAD_SIZES[] = {0, 1, 4, 15, 16, 17, 31, 32, 33, 1000, 65536, 65537};

struct KeyedSession {
    explicit KeyedSession(CipherAlgorithm cipher) : generator(readyGenerator(3)) {
        sessionInit(session, fileKey(), generator.get(), cipher);
    }
    ~KeyedSession() { sessionRelease(session); }
    KeyedSession(const KeyedSession&) = delete;
    KeyedSession& operator=(const KeyedSession&) = delete;

    std::unique_ptr<RandomGenerator> generator;
    CryptoSession session;
};

// A slot laid out as the pipeline lays it out: the IV of reference (its first 16 bytes), the
// payload behind it, and room for padding and tag.
Bytes regionFor(const Bytes& payload, const Bytes& reference) {
    Bytes region(sealedBlobBytes(static_cast<uint32_t>(payload.size())), 0xEE);
    std::memcpy(region.data(), reference.data(), SEALED_IV_BYTES);
    if (!payload.empty()) std::memcpy(region.data() + SEALED_IV_BYTES, payload.data(), payload.size());
    return region;
}

Bytes sealedByReference(CryptoSession& session, const Bytes& payload) {
    SecureBuffer buffer(payload.data(), static_cast<uint32_t>(payload.size()));
    EXPECT_TRUE(sessionEncryptChunk(session, buffer));
    return bytesOf(buffer);
}

}  // namespace

TEST(SealInPlace, SameBlobAsTheReferenceWithItsIv) {
    for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
        KeyedSession keyed(cipher);
        // All sizes at once (Serpent: one lane each, of different lengths), then each alone.
        std::vector<Bytes> references;
        std::vector<Bytes> regions;
        for (uint32_t size : PAYLOAD_SIZES) {
            const Bytes payload = makeContent(Content::RANDOM, size, size + 11);
            references.push_back(sealedByReference(keyed.session, payload));
            regions.push_back(regionFor(payload, references.back()));
        }
        std::vector<Bytes> alone = regions;
        std::vector<SealRegion> all;
        for (size_t i = 0; i < regions.size(); ++i) {
            all.push_back({regions[i].data(), PAYLOAD_SIZES[i]});
            SCOPED_TRACE(std::string(cipherName(cipher)) + ", " + std::to_string(PAYLOAD_SIZES[i]) + " bytes alone");
            SealRegion one{alone[i].data(), PAYLOAD_SIZES[i]};
            ASSERT_TRUE(sealChunks(keyed.session, &one, 1));
            EXPECT_EQ(toHex(alone[i].data(), alone[i].size()), toHex(references[i].data(), references[i].size()));
        }
        ASSERT_TRUE(sealChunks(keyed.session, all.data(), all.size()));
        for (size_t i = 0; i < regions.size(); ++i) {
            SCOPED_TRACE(std::string(cipherName(cipher)) + ", " + std::to_string(PAYLOAD_SIZES[i]) +
                         " bytes in a batch");
            EXPECT_EQ(toHex(regions[i].data(), regions[i].size()), toHex(references[i].data(), references[i].size()));
        }
    }
}

// Eight full Serpent chunks and a short last one in one batch: a full AVX2 lane group and a lane
// that ends early, against the reference chunk by chunk.
TEST(SealInPlace, ManySerpentChunksSideBySide) {
    KeyedSession keyed(CIPHER_SERPENT);
    std::vector<Bytes> references;
    std::vector<Bytes> regions;
    std::vector<SealRegion> all;
    regions.reserve(9);
    for (uint32_t i = 0; i < 9; ++i) {
        const uint32_t size = i == 8 ? 100 : CHUNK_SIZE + 4;
        const Bytes payload = makeContent(Content::RANDOM, size, i);
        references.push_back(sealedByReference(keyed.session, payload));
        regions.push_back(regionFor(payload, references.back()));
        all.push_back({regions.back().data(), size});
    }
    ASSERT_TRUE(sealChunks(keyed.session, all.data(), all.size()));
    for (size_t i = 0; i < regions.size(); ++i) {
        SCOPED_TRACE("chunk " + std::to_string(i));
        EXPECT_TRUE(regions[i] == references[i]);
    }
}

TEST(SealInPlace, SessionWithoutKeysFailsAndWipes) {
    CryptoSession session;
    sessionInit(session, SecureBuffer::zeros(32), nullptr, CIPHER_AES256);
    Bytes region(sealedBlobBytes(5), 0x5A);
    SealRegion one{region.data(), 5};
    EXPECT_FALSE(sealChunks(session, &one, 1));
    EXPECT_TRUE(region == Bytes(region.size(), 0));
    uint8_t iv[SEALED_IV_BYTES];
    EXPECT_FALSE(sessionDrawIv(session, iv));
}

// The IV drawn apart is the one sessionEncryptChunk would have drawn from the same generator state.
TEST(SealInPlace, DrawnIvIsTheReferenceIv) {
    for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
        SCOPED_TRACE(cipherName(cipher));
        KeyedSession reference(cipher);
        KeyedSession drawing(cipher);
        for (int i = 0; i < 3; ++i) {
            const Bytes sealed = sealedByReference(reference.session, {1, 2, 3});
            uint8_t iv[SEALED_IV_BYTES];
            ASSERT_TRUE(sessionDrawIv(drawing.session, iv));
            EXPECT_EQ(toHex(iv, SEALED_IV_BYTES), toHex(sealed.data(), SEALED_IV_BYTES));
        }
    }
    // Not ready: no IV, and the session fails for good, as sessionEncryptChunk leaves it.
    RandomGenerator notReady;
    CryptoSession session;
    sessionInit(session, fileKey(), &notReady, CIPHER_AES256);
    uint8_t iv[SEALED_IV_BYTES];
    EXPECT_FALSE(sessionDrawIv(session, iv));
    EXPECT_FALSE(session.valid);
    sessionRelease(session);
}

TEST(OpenInPlace, AcceptsAndRefusesWhatTheReferenceDoes) {
    for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
        KeyedSession keyed(cipher);
        for (uint32_t size : PAYLOAD_SIZES) {
            const Bytes payload = makeContent(Content::RANDOM, size, size);
            const Bytes sealed = sealedByReference(keyed.session, payload);
            // Intact, every bit of a few bytes flipped at each end and in the middle, and cuts.
            std::vector<std::pair<std::string, Bytes>> variants = {{"intact", sealed}};
            for (size_t offset : {size_t{0}, size_t{15}, size_t{16}, sealed.size() / 2, sealed.size() - 33,
                                  sealed.size() - 32, sealed.size() - 1}) {
                Bytes changed = sealed;
                changed[offset] ^= 0x80;
                variants.emplace_back("flip at " + std::to_string(offset), changed);
            }
            for (size_t cut : {size_t{1}, size_t{16}, size_t{17}}) {
                variants.emplace_back("cut " + std::to_string(cut),
                                      Bytes(sealed.begin(), sealed.end() - static_cast<long>(cut)));
            }
            for (const auto& [name, bytes] : variants) {
                SCOPED_TRACE(std::string(cipherName(cipher)) + ", " + std::to_string(size) + " bytes, " + name);
                SecureBuffer reference(bytes.data(), static_cast<uint32_t>(bytes.size()));
                const bool referenceOpened = sessionDecryptChunk(keyed.session, reference);
                Bytes inPlace = bytes;
                uint32_t payloadBytes = 7;
                const bool opened =
                    openChunk(keyed.session, inPlace.data(), static_cast<uint32_t>(inPlace.size()), payloadBytes);
                ASSERT_EQ(opened, referenceOpened);
                if (opened) {
                    EXPECT_EQ(toHex(inPlace.data() + SEALED_IV_BYTES, payloadBytes), toHex(reference));
                } else {
                    EXPECT_EQ(payloadBytes, 0u);
                    EXPECT_TRUE(inPlace == Bytes(inPlace.size(), 0)) << "a refused blob is wiped";
                }
            }
        }
    }
}

// An authentic blob whose last byte decrypts to each count 0..255: both decoders agree on which
// are refused (above 16) and on what remains (c = 0 drops nothing; 16 on one block leaves nothing).
TEST(OpenInPlace, EveryPaddingCountAsTheReference) {
    KeyedSession keyed(CIPHER_AES256);
    for (uint32_t blocks : {1u, 2u}) {
        for (uint32_t count = 0; count < 256; ++count) {
            SCOPED_TRACE(std::to_string(blocks) + " blocks, count " + std::to_string(count));
            // A payload of whole blocks whose last byte is count seals to that plus a padding block;
            // cutting the padding block and sealing the rest again under the tag is what a key
            // holder could do, so reseal the shortened ciphertext with a tag of its own.
            Bytes payload(16 * blocks - 1, 0x33);
            payload.push_back(static_cast<uint8_t>(count));
            Bytes sealed = sealedByReference(keyed.session, payload);
            sealed.resize(SEALED_IV_BYTES + 16 * blocks);
            const SecureBuffer tag =
                hmacCompute(*keyed.session.mac, sealed.data(), static_cast<uint32_t>(sealed.size()));
            sealed.insert(sealed.end(), tag.data(), tag.data() + tag.size());

            SecureBuffer reference(sealed.data(), static_cast<uint32_t>(sealed.size()));
            const bool referenceOpened = sessionDecryptChunk(keyed.session, reference);
            uint32_t payloadBytes = 0;
            const bool opened =
                openChunk(keyed.session, sealed.data(), static_cast<uint32_t>(sealed.size()), payloadBytes);
            ASSERT_EQ(opened, referenceOpened);
            EXPECT_EQ(opened, count <= 16);
            if (opened) {
                const uint32_t length = 16 * blocks;
                EXPECT_EQ(payloadBytes, count == 0 ? length : count >= length ? 0 : length - count);
                EXPECT_EQ(payloadBytes, reference.size());
                EXPECT_EQ(toHex(sealed.data() + SEALED_IV_BYTES, payloadBytes), toHex(reference));
            }
        }
    }
}

TEST(SealedTagStream, SameTagAsHmacComputeAtEverySplit) {
    KeyedSession keyed(CIPHER_SERPENT);
    const Bytes message = makeContent(Content::RANDOM, 300, 9);
    const SecureBuffer expected =
        hmacCompute(*keyed.session.mac, message.data(), static_cast<uint32_t>(message.size()));
    for (uint32_t first = 0; first <= message.size(); ++first) {
        for (uint32_t second : {0u, 1u, 63u, 64u, 65u}) {
            if (first + second > message.size()) continue;
            SCOPED_TRACE(std::to_string(first) + " + " + std::to_string(second));
            SealedTagStream stream;
            ASSERT_TRUE(sessionTagStart(keyed.session, stream));
            sessionTagAbsorb(stream, message.data(), first);
            sessionTagAbsorb(stream, message.data() + first, second);
            sessionTagAbsorb(stream, message.data() + first + second,
                             static_cast<uint32_t>(message.size()) - first - second);
            EXPECT_TRUE(sessionTagMatches(keyed.session, stream, expected));
        }
    }
    SealedTagStream stream;
    ASSERT_TRUE(sessionTagStart(keyed.session, stream));
    sessionTagAbsorb(stream, message.data(), static_cast<uint32_t>(message.size()) - 1);
    EXPECT_FALSE(sessionTagMatches(keyed.session, stream, expected)) << "one byte short";

    CryptoSession unkeyed;
    SealedTagStream refused;
    EXPECT_FALSE(sessionTagStart(unkeyed, refused));
}
