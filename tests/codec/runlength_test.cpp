// Run-length stage: the stream format's own vectors, the escape choice, decoding limits and
// round trips around the run-length boundaries.

#include "codec/runlength.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codec_references.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

constexpr uint32_t NO_LIMIT = UINT32_MAX;

struct EncodeRow {
    const char* name;
    SecureBuffer input;
    const char* expected;
};

TEST(RunLength, EncodesFormatVectors) {
    const EncodeRow rows[] = {
        {"runs, literals and a present FF", hexBuffer("61 61 61 61 61 62 FF FF 63 63"), "FE FE 61 01 62 FF FF 63 63"},
        {"259 equal bytes: the longest run", repeated(0x61, 259), "FF FF 61 FF"},
        {"260 equal bytes: run and a literal", repeated(0x61, 260), "FF FF 61 FF 61"},
        {"263 equal bytes: two runs", repeated(0x61, 263), "FF FF 61 FF FF 61 00"},
        {"three equal bytes stay literals", repeated(0x61, 3), "FF 61 61 61"},
        {"four equal bytes: the shortest run", repeated(0x61, 4), "FF FF 61 00"},
        {"a single byte", hexBuffer("00"), "FF 00"},
        {"runs of several values", hexBuffer("61 61 61 61 62 62 62 62 00 00 00 00 00"),
         "FF FF 61 00 FF 62 00 FF 00 01"},
        {"absent values: the highest is the escape", hexBuffer("05 05 07 07"), "FF 05 05 07 07"},
    };
    for (const EncodeRow& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer(row.input);
        runLengthEncode(buffer);
        EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
    }
}

TEST(RunLength, EscapeIsTheRarestValueAndTheHighestOnATie) {
    // Every value once, then again for all but the rare ones.
    struct Row {
        const char* name;
        std::vector<uint8_t> rare;
        uint8_t escape;
    } rows[] = {
        {"one rarest value", {0x10}, 0x10},
        {"a tie goes to the highest", {0x10, 0x20}, 0x20},
        {"value 0 alone", {0x00}, 0x00},
        {"a tie with 0", {0x00, 0x01}, 0x01},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer input = SecureBuffer::zeros(512);
        uint32_t size = 0;
        for (uint32_t v = 0; v < 256; ++v) input.data()[size++] = static_cast<uint8_t>(v);
        for (uint32_t v = 0; v < 256; ++v) {
            bool isRare = false;
            for (uint8_t r : row.rare) isRare = isRare || r == v;
            if (!isRare) input.data()[size++] = static_cast<uint8_t>(v);
        }
        input.resize(size);
        SecureBuffer buffer(input);
        runLengthEncode(buffer);
        EXPECT_EQ(buffer.data()[0], row.escape);
        EXPECT_EQ(buffer.size(), 1 + size + 1) << "each rare escape is written as a pair";
        ASSERT_TRUE(runLengthDecode(buffer, size));
        EXPECT_TRUE(buffer.constantTimeEquals(input));
    }
}

TEST(RunLength, EscapeIsFFWhenAllValuesAreEquallyCommon) {
    // Every value in runs of eight: all counts are equal, so FF escapes, and each of the eight
    // FF in a row is written as a pair.
    SecureBuffer input = SecureBuffer::zeros(256 * 8);
    for (uint32_t i = 0; i < input.size(); ++i) input.data()[i] = static_cast<uint8_t>(i / 8);
    SecureBuffer buffer(input);
    runLengthEncode(buffer);
    ASSERT_EQ(buffer.data()[0], 0xFF);
    // 255 runs of eight as 3-byte tokens, then sixteen FF bytes.
    ASSERT_EQ(buffer.size(), 1u + 255 * 3 + 16);
    for (uint32_t i = 1 + 255 * 3; i < buffer.size(); ++i) EXPECT_EQ(buffer.data()[i], 0xFF);
    ASSERT_TRUE(runLengthDecode(buffer, NO_LIMIT));
    EXPECT_TRUE(buffer.constantTimeEquals(input));
}

struct DecodeRow {
    const char* name;
    const char* stream;
    bool ok;
    const char* expected;
};

TEST(RunLength, DecodesAndRejectsCutTokens) {
    const DecodeRow rows[] = {
        {"only the escape", "FF", true, ""},
        {"escape then an escaped escape", "FF 61 FF FF", true, "61 FF"},
        {"escape as the last byte", "FF FF", false, nullptr},
        {"run token without its count", "FF FF 61", false, nullptr},
        {"escape at the end after literals", "FE 61 62 FE", false, nullptr},
        {"run of 4", "00 00 41 00", true, "41 41 41 41"},
        {"escaped escape then a run", "00 00 00 00 41 00", true, "00 41 41 41 41"},
        {"literals only", "FF 01 02 03", true, "01 02 03"},
    };
    for (const DecodeRow& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer = hexBuffer(row.stream);
        const SecureBuffer before(buffer);
        const bool ok = runLengthDecode(buffer, NO_LIMIT);
        ASSERT_EQ(ok, row.ok);
        if (ok) {
            EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
        } else {
            EXPECT_TRUE(buffer.constantTimeEquals(before)) << "a failed decode changed its input";
        }
    }
    SecureBuffer empty;
    EXPECT_TRUE(runLengthDecode(empty, 0));
    EXPECT_TRUE(empty.empty());
}

TEST(RunLength, DecodeStopsAtTheOutputLimit) {
    // FF FF 61 FF is 259 bytes of 61: exactly at the limit it decodes, one below it fails
    // without touching the buffer.
    SecureBuffer buffer = hexBuffer("FF FF 61 FF");
    EXPECT_FALSE(runLengthDecode(buffer, 258));
    EXPECT_EQ(hexOf(buffer), "FF FF 61 FF");
    ASSERT_TRUE(runLengthDecode(buffer, 259));
    EXPECT_TRUE(buffer.constantTimeEquals(repeated(0x61, 259)));

    SecureBuffer literals = hexBuffer("FF 01 02 FF FF");
    EXPECT_FALSE(runLengthDecode(literals, 2));
    EXPECT_TRUE(runLengthDecode(literals, 3));

    // 3 000 run tokens claim 777 000 bytes from 9 001.
    SecureBuffer runs = SecureBuffer::zeros(1 + 3 * 3000);
    runs.data()[0] = 0xFF;
    for (uint32_t t = 0; t < 3000; ++t) {
        runs.data()[1 + 3 * t] = 0xFF;
        runs.data()[2 + 3 * t] = 0x41;
        runs.data()[3 + 3 * t] = 0xFF;
    }
    SecureBuffer forged(runs);
    EXPECT_FALSE(runLengthDecode(forged, 777000 - 1));
    ASSERT_TRUE(runLengthDecode(runs, 777000));
    EXPECT_EQ(runs.size(), 777000u);
}

TEST(RunLength, RoundTripsAroundRunBoundaries) {
    // Runs of every length near the token limits, of a literal and of the escape, next to each
    // other and at the start and end of the buffer.
    const uint32_t lengths[] = {1, 2, 3, 4, 5, 258, 259, 260, 261, 262, 263, 264, 517, 518, 519, 1000};
    for (uint32_t length : lengths) {
        for (uint8_t filler : {uint8_t{0x41}, uint8_t{0xFF}}) {
            SCOPED_TRACE(std::to_string(length) + " x " + std::to_string(filler));
            SecureBuffer input = repeated(filler, length);
            input.append(hexBuffer("00 01 02 03 04 05 06 07 08 09 0A 0B"));
            input.append(repeated(0x42, length));
            SecureBuffer buffer(input);
            runLengthEncode(buffer);
            EXPECT_LE(buffer.size(), runLengthEncodedMaxBytes(input.size()));
            ASSERT_TRUE(runLengthDecode(buffer, input.size()));
            EXPECT_TRUE(buffer.constantTimeEquals(input));
        }
    }
}

TEST(RunLength, RoundTripsAndStaysWithinItsBound) {
    SecureBuffer all = SecureBuffer::zeros(256);
    for (uint32_t i = 0; i < 256; ++i) all.data()[i] = static_cast<uint8_t>(i);
    struct Row {
        const char* name;
        SecureBuffer input;
    } rows[] = {
        {"empty", SecureBuffer()},
        {"one byte", hexBuffer("7F")},
        {"all 256 values", all},
        {"random", randomBytes(100000, 1)},
        {"random small alphabet",
         [] {
             SecureBuffer b = randomBytes(100000, 2);
             for (uint32_t i = 0; i < b.size(); ++i) b.data()[i] &= 3;
             return b;
         }()},
        {"text", englishLikeText(50000, 3)},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer(row.input);
        runLengthEncode(buffer);
        EXPECT_LE(buffer.size(), runLengthEncodedMaxBytes(row.input.size()));
        ASSERT_TRUE(runLengthDecode(buffer, row.input.size()));
        EXPECT_TRUE(buffer.constantTimeEquals(row.input));
    }
}

TEST(RunLength, MatchesAPlainCoder) {
    // Runs of every length up to 600 of literals and of the rarest value, between stretches of
    // literals; and streams the encoder never makes (tokens in any order, cut at every place).
    std::mt19937 generator(4);
    for (uint32_t trial = 0; trial < 300; ++trial) {
        Bytes input;
        const uint32_t alphabet = 1 + generator() % (trial % 3 == 0 ? 4 : 256);
        while (input.size() < 3000) {
            const uint8_t value = static_cast<uint8_t>(generator() % alphabet);
            const uint32_t length = generator() % 4 == 0 ? 1 + generator() % 600 : 1 + generator() % 3;
            input.insert(input.end(), length, value);
        }
        SecureBuffer buffer(input.data(), static_cast<uint32_t>(input.size()));
        runLengthEncode(buffer);
        const Bytes expected = referenceRunLengthEncode(input);
        ASSERT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), expected) << trial;
        ASSERT_TRUE(runLengthDecode(buffer, NO_LIMIT));
        ASSERT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), input);
    }
    for (uint32_t trial = 0; trial < 2000; ++trial) {
        Bytes stream(1 + generator() % 60);
        for (uint8_t& b : stream) b = static_cast<uint8_t>(generator() % 4);
        SecureBuffer buffer(stream.data(), static_cast<uint32_t>(stream.size()));
        const std::optional<Bytes> expected = referenceRunLengthDecode(stream);
        ASSERT_EQ(runLengthDecode(buffer, NO_LIMIT), expected.has_value());
        if (expected) {
            ASSERT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), *expected);
        }
    }
}

// Short runs of zeros written as literals: the stream is the reference coder's with the same
// rule, decodes unchanged, is the stage's own stream for a bound of 4 or less, and its byte
// counts are the ones runLengthCountsWith predicts, on which the codec chooses the bound.
TEST(RunLength, ShortZeroRunsStayLiteralAndTheirCountsArePredicted) {
    std::mt19937 generator(8);
    Bytes zeroRuns;  // runs of zeros of every length up to 600 between literals
    for (uint32_t length = 1; length <= 600; ++length) {
        zeroRuns.insert(zeroRuns.end(), length, 0);
        zeroRuns.push_back(static_cast<uint8_t>(1 + generator() % 255));
        if (length % 7 == 0) zeroRuns.insert(zeroRuns.end(), 5, 0x41);  // a run of another value
    }
    Bytes moveToFrontLike;  // mostly zeros and small values, as the block sort and move-to-front give
    while (moveToFrontLike.size() < 20000) {
        const uint32_t pick = generator() % 8;
        const uint32_t length = pick < 4 ? 1 + generator() % 40 : 1;
        moveToFrontLike.insert(moveToFrontLike.end(), length, static_cast<uint8_t>(pick < 4 ? 0 : generator() % 20));
    }
    Bytes zeroEscapes(3000, 0x61);  // zero is the rarest value, so it is the escape
    for (uint32_t i = 0; i < zeroEscapes.size(); i += 500) zeroEscapes[i] = 0;
    zeroEscapes.insert(zeroEscapes.end(), 10, 0);
    for (uint32_t v = 1; v < 256; ++v) zeroEscapes.insert(zeroEscapes.end(), 20, static_cast<uint8_t>(v));
    const struct Row {
        const char* name;
        Bytes input;
    } rows[] = {
        {"zero runs of every length", zeroRuns},
        {"move-to-front-like", moveToFrontLike},
        {"zero is the escape", zeroEscapes},
        {"only zeros", Bytes(1000, 0)},
        {"one zero", Bytes(1, 0)},
    };
    for (const Row& row : rows) {
        for (const uint32_t bound : {0u, 4u, 5u, 12u, 32u, 259u, 260u}) {
            SCOPED_TRACE(std::string(row.name) + ", bound " + std::to_string(bound));
            SecureBuffer buffer(row.input.data(), static_cast<uint32_t>(row.input.size()));
            runLengthEncode(buffer, bound);
            const Bytes stream(buffer.data(), buffer.data() + buffer.size());
            EXPECT_EQ(stream, referenceRunLengthEncode(row.input, bound));
            if (bound <= 4) {
                EXPECT_EQ(stream, referenceRunLengthEncode(row.input));
            }
            uint32_t streamCounts[256] = {};
            for (const uint8_t b : stream) ++streamCounts[b];
            RunLengthZeroRuns runs;
            runLengthCountZeroRuns(row.input.data(), static_cast<uint32_t>(row.input.size()), runs);
            uint32_t predicted[256];
            runLengthCountsWith(runs, bound, predicted);
            for (uint32_t value = 0; value < 256; ++value) ASSERT_EQ(predicted[value], streamCounts[value]) << value;
            ASSERT_TRUE(runLengthDecode(buffer, NO_LIMIT));
            EXPECT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), row.input);
        }
    }
}

TEST(RunLength, BoundIsReachedByEvenlySpreadValues) {
    // 256 values each 16 times without runs: the escape FF occurs n / 256 times.
    SecureBuffer input = SecureBuffer::zeros(4096);
    for (uint32_t i = 0; i < input.size(); ++i) input.data()[i] = static_cast<uint8_t>(i);
    runLengthEncode(input);
    EXPECT_EQ(input.size(), runLengthEncodedMaxBytes(4096));
}

}  // namespace
