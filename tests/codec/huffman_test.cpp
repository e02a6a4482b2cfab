// Huffman stage: the stream format's vectors, the tree construction rule, a decoder that refuses
// what no encoder makes without reading or allocating past what the stream carries, and its
// table-driven decoding against a bit-by-bit tree walk.

#include "codec/huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <queue>
#include <random>
#include <vector>

#include "codec_references.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

constexpr uint32_t NO_LIMIT = UINT32_MAX;

// Builds streams bit by bit, least significant bit of each byte first.
class BitBuilder {
public:
    void put(uint64_t value, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            if (bits_ % 8 == 0) bytes_.push_back(0);
            if (i < 64 && ((value >> i) & 1)) bytes_.back() |= static_cast<uint8_t>(1u << (bits_ % 8));
            ++bits_;
        }
    }
    // A header of class k holding n.
    void header(uint32_t k, uint64_t n) {
        put(k, 2);
        put(n, 8 * (k + 1));
    }
    void leaf(uint8_t value) {
        put(1, 1);
        put(value, 8);
    }
    void internal() { put(0, 1); }
    SecureBuffer buffer() const { return SecureBuffer(bytes_.data(), static_cast<uint32_t>(bytes_.size())); }

private:
    std::vector<uint8_t> bytes_;
    uint64_t bits_ = 0;
};

TEST(Huffman, EncodesFormatVectors) {
    const struct Row {
        const char* name;
        SecureBuffer input;
        const char* expected;
    } rows[] = {
        {"the head stays left although more frequent", hexBuffer("61 61 62"), "0C 18 56 8C"},
        {"a single byte: one leaf, no code bits", hexBuffer("41"), "04 0C 02"},
        {"300 equal bytes: class 1, one leaf", repeated(0x41, 300), "B1 04 0C 02"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SecureBuffer buffer(row.input);
        ASSERT_TRUE(huffmanEncode(buffer));
        EXPECT_EQ(hexOf(buffer), hexOf(hexBuffer(row.expected)));
        ASSERT_TRUE(huffmanDecode(buffer, NO_LIMIT));
        EXPECT_TRUE(buffer.constantTimeEquals(row.input));
    }
}

TEST(Huffman, AllByteValuesOnceTake579Bytes) {
    SecureBuffer input = SecureBuffer::zeros(256);
    for (uint32_t i = 0; i < 256; ++i) input.data()[i] = static_cast<uint8_t>(i);
    SecureBuffer buffer(input);
    ASSERT_TRUE(huffmanEncode(buffer));
    // 18 header bits, 256 leaves of 9 bits and 255 internal nodes, 256 codes of 8 bits.
    EXPECT_EQ(buffer.size(), 579u);
    ASSERT_TRUE(huffmanDecode(buffer, NO_LIMIT));
    EXPECT_TRUE(buffer.constantTimeEquals(input));
}

TEST(Huffman, TreeFollowsTheListRule) {
    // Counts 61:1, 62:1, 63:2. List: 61 (head), then 62, then 63 (a later leaf goes in front of
    // equal counts, but 63 has more). Merge 61+62 = 2; the new head is 63 and the sum goes
    // behind it whatever it weighs: root(left 63, right (61, 62)).
    // Codes: 63 = 0, 61 = 10, 62 = 11.
    BitBuilder expected;
    expected.header(0, 4);
    expected.internal();
    expected.leaf(0x63);
    expected.internal();
    expected.leaf(0x61);
    expected.leaf(0x62);
    for (const auto& [code, length] : {std::pair{0b01u, 2u}, {0b0u, 1u}, {0b11u, 2u}, {0b0u, 1u}}) {
        expected.put(code, length);  // 61 63 62 63, each code's first step in bit 0
    }
    SecureBuffer buffer = hexBuffer("61 63 62 63");
    ASSERT_TRUE(huffmanEncode(buffer));
    EXPECT_EQ(hexOf(buffer), hexOf(expected.buffer()));

    // Equal counts: later leaves come first behind the head. List 10, 30, 20; merge 10+30 = 2,
    // head 20, sum behind it: root(left 20, right (10, 30)).
    BitBuilder equal;
    equal.header(0, 3);
    equal.internal();
    equal.leaf(0x20);
    equal.internal();
    equal.leaf(0x10);
    equal.leaf(0x30);
    equal.put(0b01, 2);  // 10
    equal.put(0b0, 1);   // 20
    equal.put(0b11, 2);  // 30
    SecureBuffer threes = hexBuffer("10 20 30");
    ASSERT_TRUE(huffmanEncode(threes));
    EXPECT_EQ(hexOf(threes), hexOf(equal.buffer()));
}

TEST(Huffman, RoundTripsSkewedAndLargeInputs) {
    // Counts that grow like Fibonacci numbers make the deepest trees for their size.
    SecureBuffer fibonacci;
    {
        std::vector<uint8_t> bytes;
        uint32_t a = 1, b = 1;
        for (uint32_t value = 0; value < 26; ++value) {
            bytes.insert(bytes.end(), a, static_cast<uint8_t>(value));
            const uint32_t next = a + b;
            a = b;
            b = next;
        }
        fibonacci.assign(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    SecureBuffer skewed = randomBytes(300000, 21);
    for (uint32_t i = 0; i < skewed.size(); ++i) {
        skewed.data()[i] = static_cast<uint8_t>(skewed.data()[i] < 200 ? 0 : skewed.data()[i]);
    }
    const SecureBuffer inputs[] = {fibonacci, skewed, randomBytes(70000, 22), englishLikeText(1 << 21, 23),
                                   repeated(0x00, 16777216)};
    for (const SecureBuffer& input : inputs) {
        SCOPED_TRACE(input.size());
        SecureBuffer buffer(input);
        ASSERT_TRUE(huffmanEncode(buffer));
        EXPECT_LE(buffer.size(), input.size() + input.size() / 4 + 500);
        ASSERT_TRUE(huffmanDecode(buffer, input.size()));
        EXPECT_TRUE(buffer.constantTimeEquals(input));
    }
}

// Fewest code bits any prefix code gives these counts: the sum of all merged weights when the
// two lightest are merged repeatedly (0 for a single value).
uint64_t minimumCodeBits(const std::vector<uint64_t>& counts) {
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> queue;
    for (uint64_t count : counts) {
        if (count != 0) queue.push(count);
    }
    uint64_t total = 0;
    while (queue.size() > 1) {
        const uint64_t a = queue.top();
        queue.pop();
        const uint64_t b = queue.top();
        queue.pop();
        total += a + b;
        queue.push(a + b);
    }
    return total;
}

// The bytes of counts in a fixed shuffled order.
Bytes bytesOfCounts(const std::vector<uint64_t>& counts, uint32_t seed) {
    Bytes bytes;
    for (uint32_t value = 0; value < 256; ++value) bytes.insert(bytes.end(), counts[value], static_cast<uint8_t>(value));
    std::mt19937 generator(seed);
    std::shuffle(bytes.begin(), bytes.end(), generator);
    return bytes;
}

TEST(Huffman, NeverLongerThanTheListRuleAndSameWhereItIsShortest) {
    auto fibonacci = [](uint32_t values, uint32_t first) {
        std::vector<uint64_t> counts(256, 0);
        uint64_t a = 1, b = 1;
        for (uint32_t k = 0; k < values; ++k) {
            counts[first + k] = a;
            const uint64_t next = a + b;
            a = b;
            b = next;
        }
        return counts;
    };
    auto shape = [](uint32_t values, auto&& count) {
        std::vector<uint64_t> counts(256, 0);
        for (uint32_t v = 0; v < values; ++v) counts[v] = count(v);
        return counts;
    };
    std::mt19937 generator(31);
    const struct Row {
        const char* name;
        std::vector<uint64_t> counts;
    } rows[] = {
        {"one value", shape(1, [](uint32_t) { return 1000; })},
        {"one high value", [] { std::vector<uint64_t> c(256, 0); c[0xFE] = 7; return c; }()},
        {"two values", shape(2, [](uint32_t v) { return v == 0 ? 900 : 100; })},
        {"two equal values", shape(2, [](uint32_t) { return 50; })},
        {"three equal values", shape(3, [](uint32_t) { return 1; })},
        {"flat over 256", shape(256, [](uint32_t) { return 40; })},
        {"256 values once", shape(256, [](uint32_t) { return 1; })},
        {"flat over 100", shape(100, [](uint32_t) { return 13; })},
        {"head most frequent (after move-to-front)",
         shape(40, [](uint32_t v) { return 20000u >> (v < 14 ? v : 14); })},
        {"geometric falling", shape(20, [](uint32_t v) { return 1u << (20 - v); })},
        {"geometric rising", shape(20, [](uint32_t v) { return 1u << v; })},
        {"skewed: one heavy value among rare ones", shape(256, [](uint32_t v) { return v == 0 ? 100000 : 3; })},
        {"skewed heavy value last", shape(256, [](uint32_t v) { return v == 255 ? 100000 : 3; })},
        {"Fibonacci rising, 30 values", fibonacci(30, 0)},
        {"Fibonacci rising from 0x80", fibonacci(25, 0x80)},
        {"Fibonacci falling, 25 values",
         [&] { auto c = fibonacci(25, 0); std::reverse(c.begin(), c.begin() + 25); return c; }()},
        {"random counts over 256", shape(256, [&](uint32_t) { return 1 + generator() % 5000; })},
        {"random sparse counts",
         shape(256, [&](uint32_t) { return generator() % 4 == 0 ? 1 + generator() % 300 : 0; })},
        {"Zipf-like over 200", shape(200, [](uint32_t v) { return 100000 / (v + 1); })},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes input = bytesOfCounts(row.counts, 32);
        const Bytes reference = referenceHuffmanEncode(input);
        SecureBuffer stream(input.data(), static_cast<uint32_t>(input.size()));
        ASSERT_TRUE(huffmanEncode(stream));
        const Bytes produced(stream.data(), stream.data() + stream.size());

        const std::vector<ReferenceCode> listCodes = referenceHuffmanCodes(referenceHuffmanTree(row.counts));
        uint64_t listBits = 0;
        uint32_t leaves = 0;
        for (uint32_t v = 0; v < 256; ++v) {
            listBits += row.counts[v] * listCodes[v].length;
            leaves += row.counts[v] != 0;
        }
        const uint64_t optimalBits = minimumCodeBits(row.counts);
        const uint64_t n = input.size();
        const uint64_t headerBits = 2 + 8 * (n <= 0xFF ? 1 : n <= 0xFFFF ? 2 : n <= 0xFFFFFF ? 3 : 4);
        const uint64_t fixedBits = headerBits + 9 * leaves + (leaves - 1);
        // Header, a tree of this many leaves, and the fewest code bits: an optimal code.
        EXPECT_EQ(produced.size(), (fixedBits + optimalBits + 7) / 8);
        EXPECT_LE(produced.size(), reference.size());
        if ((fixedBits + listBits + 7) / 8 == (fixedBits + optimalBits + 7) / 8) {
            EXPECT_EQ(produced, reference) << "the list rule's tree gives the shortest stream here";
        } else {
            EXPECT_NE(produced, reference);
        }

        // The unchanged decoder, and the bit-by-bit reference, read it.
        EXPECT_EQ(referenceHuffmanDecode(produced, NO_LIMIT), std::optional<Bytes>(input));
        ASSERT_TRUE(huffmanDecode(stream, NO_LIMIT));
        EXPECT_EQ(Bytes(stream.data(), stream.data() + stream.size()), input);
    }
}

// The stream length predicted from counts alone is the length huffmanEncode writes, for the
// list rule's tree and the optimal one alike; nothing to code gives 0.
TEST(Huffman, EncodedBytesPredictTheStream) {
    std::mt19937 generator(41);
    std::vector<SecureBuffer> inputs = {hexBuffer("61 61 62"), hexBuffer("41"), SecureBuffer::zeros(300)};
    for (uint32_t values : {2u, 3u, 17u, 200u, 256u}) {
        for (uint32_t size : {values, 1000u, 70000u}) {
            SecureBuffer b = SecureBuffer::zeros(size);
            for (uint32_t i = 0; i < size; ++i) {
                // Skewed: low values far more common, every value at least once.
                b.data()[i] = static_cast<uint8_t>(i < values ? i : (generator() % values) * (generator() % 2) % values);
            }
            inputs.push_back(b);
        }
    }
    for (const SecureBuffer& input : inputs) {
        SCOPED_TRACE(hexOf(input, 16));
        uint32_t counts[256] = {};
        for (uint32_t i = 0; i < input.size(); ++i) ++counts[input.data()[i]];
        SecureBuffer buffer(input);
        ASSERT_TRUE(huffmanEncode(buffer));
        EXPECT_EQ(huffmanEncodedBytes(counts), buffer.size());
    }
    const uint32_t none[256] = {};
    EXPECT_EQ(huffmanEncodedBytes(none), 0u);
}

TEST(Huffman, EncodesAsThePlainEncoderWhereItsTreeIsOptimal) {
    // Real buffers: identical to the reference encoder where its tree is optimal, shorter where
    // it is not, and always decoded by the reference decoder.
    std::vector<SecureBuffer> inputs = {hexBuffer("61 61 62"), randomBytes(5000, 26), englishLikeText(70000, 27)};
    {
        SecureBuffer skewed = randomBytes(100000, 28);
        std::mt19937 generator(29);
        for (uint32_t i = 0; i < skewed.size(); ++i) {
            const uint32_t r = generator();
            skewed.data()[i] = static_cast<uint8_t>(r == 0 ? 31 : __builtin_ctz(r));
        }
        inputs.push_back(skewed);
    }
    for (const SecureBuffer& input : inputs) {
        SCOPED_TRACE(input.size());
        const Bytes bytes(input.data(), input.data() + input.size());
        std::vector<uint64_t> counts(256, 0);
        for (uint8_t b : bytes) ++counts[b];
        const std::vector<ReferenceCode> listCodes = referenceHuffmanCodes(referenceHuffmanTree(counts));
        uint64_t listBits = 0;
        for (uint32_t v = 0; v < 256; ++v) listBits += counts[v] * listCodes[v].length;
        SecureBuffer stream(input);
        ASSERT_TRUE(huffmanEncode(stream));
        const Bytes produced(stream.data(), stream.data() + stream.size());
        const Bytes reference = referenceHuffmanEncode(bytes);
        if (listBits == minimumCodeBits(counts)) {
            EXPECT_EQ(produced, reference);
        } else {
            EXPECT_LE(produced.size(), reference.size());
            EXPECT_TRUE(produced == reference || produced.size() < reference.size())
                << "a different stream only where it is shorter";
        }
        EXPECT_EQ(referenceHuffmanDecode(produced, NO_LIMIT), std::optional<Bytes>(bytes));
    }
}

TEST(Huffman, CodesLongerThan32Bits) {
    // Counts that grow like Fibonacci numbers over 35 values give a chain 34 levels deep: the
    // two rarest values, 00 and 01, get 34-bit codes. The encoder writes codes 32 bits at a time
    // and codes longer than that apart; each deep code here comes when 31 bits are waiting,
    // where writing it the short way would lose bits.
    std::vector<uint64_t> counts(256, 0);
    uint32_t a = 1, b = 1;
    for (uint32_t value = 0; value < 35; ++value) {
        counts[value] = a;
        const uint32_t next = a + b;
        a = b;
        b = next;
    }
    const std::vector<ReferenceCode> codes = referenceHuffmanCodes(referenceHuffmanTree(counts));
    ASSERT_EQ(codes[0].length, 34u);
    ASSERT_EQ(codes[1].length, 34u);
    // The other values in a fixed shuffled order, with 00 and 01 each put where the bits written
    // so far leave 31 bits waiting for a 32-bit word.
    Bytes rest;
    for (uint32_t value = 2; value < 35; ++value) rest.insert(rest.end(), counts[value], static_cast<uint8_t>(value));
    std::mt19937 generator(25);
    std::shuffle(rest.begin(), rest.end(), generator);
    const uint64_t n = rest.size() + 2;
    const uint32_t sizeClass = n <= 0xFFFFFF ? 2 : 3;
    const uint64_t treeBits = 35 * 9 + 34;
    // The fast writer starts with the bits that did not fill a byte after header and tree.
    uint64_t waiting = (2 + 8 * (sizeClass + 1) + treeBits) % 8;
    Bytes ordered;
    uint32_t placed = 0;
    for (uint8_t value : rest) {
        if (placed < 2 && waiting % 32 == 31) {
            ordered.push_back(static_cast<uint8_t>(placed));
            waiting += codes[placed].length;
            ++placed;
        }
        ordered.push_back(value);
        waiting += codes[value].length;
    }
    ASSERT_EQ(placed, 2u) << "no place with 31 bits waiting";
    const SecureBuffer input(ordered.data(), static_cast<uint32_t>(ordered.size()));
    SecureBuffer stream(input);
    ASSERT_TRUE(huffmanEncode(stream));
    ASSERT_TRUE(huffmanDecode(stream, NO_LIMIT));
    EXPECT_TRUE(stream.constantTimeEquals(input));
}

TEST(Huffman, SizeClassFollowsTheLength) {
    const struct Row {
        uint32_t n;
        uint8_t classBits;
    } rows[] = {{255, 0}, {256, 1}, {65535, 1}, {65536, 2}, {16777215, 2}, {16777216, 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.n);
        SecureBuffer buffer = repeated(0x41, row.n);
        ASSERT_TRUE(huffmanEncode(buffer));
        EXPECT_EQ(buffer.data()[0] & 3, row.classBits);
        EXPECT_EQ(buffer.size(), (2 + 8 * (row.classBits + 1) + 9 + 7) / 8u);
        ASSERT_TRUE(huffmanDecode(buffer, row.n));
        EXPECT_EQ(buffer.size(), row.n);
    }
}

TEST(Huffman, DecodeReadsTheTreeWhereTheLengthPutsIt) {
    // Class 3 but n = 2: the tree starts at bit 10, where the encoder puts it for n = 2, inside
    // the 32-bit length field. Bits 10..33 are the zero bits of n, read as 24 nested internal
    // nodes; leaves 00..18 follow from bit 34 (the deepest pair first). Codes: 18 = one right
    // step, 00 = 24 left steps. Had the tree been read from bit 34, it would be one leaf 00.
    BitBuilder b;
    b.put(3, 2);
    b.put(2, 32);
    for (uint32_t value = 0; value <= 24; ++value) b.leaf(static_cast<uint8_t>(value));
    b.put(1, 1);
    b.put(0, 24);
    SecureBuffer stream = b.buffer();
    ASSERT_TRUE(huffmanDecode(stream, NO_LIMIT));
    EXPECT_EQ(hexOf(stream), "18 00");
}

TEST(Huffman, DecodeRejectsMalformedStreams) {
    struct Row {
        const char* name;
        SecureBuffer stream;
    };
    std::vector<Row> rows;
    rows.push_back({"the first vector cut short", hexBuffer("0C 18 56")});
    rows.push_back({"class 1 header in one byte", hexBuffer("01")});
    rows.push_back({"class 3 header in four bytes", hexBuffer("03 00 00 00")});
    rows.push_back({"tree cut inside a leaf value", hexBuffer("0C 18")});
    {
        // 257 leaves: a left-leaning chain of 256 internal nodes.
        BitBuilder b;
        b.header(1, 257);
        for (uint32_t i = 0; i < 256; ++i) b.internal();
        for (uint32_t i = 0; i < 257; ++i) b.leaf(static_cast<uint8_t>(i));
        b.put(0, 257 * 8);
        rows.push_back({"a tree of 257 leaves", b.buffer()});
    }
    {
        // Internal nodes only, far deeper than any valid tree.
        BitBuilder b;
        b.header(2, 100000);
        b.put(0, 200000);
        rows.push_back({"100 000 nested internal nodes", b.buffer()});
    }
    {
        // Two leaves, n = 1000, but only 100 bits of codes.
        BitBuilder b;
        b.header(1, 1000);
        b.internal();
        b.leaf(0x61);
        b.leaf(0x62);
        b.put(0, 100);
        rows.push_back({"fewer code bits than claimed bytes", b.buffer()});
    }
    {
        // Two leaves and n = 2^32 - 1 in a nine-byte stream.
        BitBuilder b;
        b.header(3, 0xFFFFFFFFu);
        b.internal();
        b.leaf(0x61);
        b.leaf(0x62);
        rows.push_back({"four billion bytes claimed by a short stream", b.buffer()});
    }
    {
        // The codes end inside the path of the last byte: a three-leaf tree (61 = 0, 62 = 10,
        // 63 = 11), n = 9, eight codes 0 and the first step of a two-step code as the very last
        // bit of the stream. There are as many code bits as bytes claimed, so only the walk
        // itself finds the end.
        BitBuilder b;
        b.header(0, 9);
        b.internal();
        b.leaf(0x61);
        b.internal();
        b.leaf(0x62);
        b.leaf(0x63);
        b.put(0, 8);
        b.put(1, 1);
        SecureBuffer stream = b.buffer();
        ASSERT_EQ(stream.size(), 6u);  // 10 + 29 + 9 bits, no fill
        rows.push_back({"bits end inside a code", stream});
    }
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SecureBuffer before(row.stream);
        EXPECT_FALSE(huffmanDecode(row.stream, NO_LIMIT));
        EXPECT_TRUE(row.stream.constantTimeEquals(before));
    }
}

TEST(Huffman, DecodeAcceptsTheDeepestValidTree) {
    // 256 leaves in a chain: 255 internal nodes, the deepest leaf 255 steps down.
    BitBuilder b;
    b.header(0, 2);
    for (uint32_t i = 0; i < 255; ++i) {
        b.internal();
        b.leaf(static_cast<uint8_t>(i));
    }
    b.leaf(0xFF);
    b.put(0, 1);                                     // value 0: one left step
    for (uint32_t i = 0; i < 255; ++i) b.put(1, 1);  // value FF: 255 right steps
    SecureBuffer stream = b.buffer();
    ASSERT_TRUE(huffmanDecode(stream, NO_LIMIT));
    EXPECT_EQ(hexOf(stream), "00 FF");
}

TEST(Huffman, DecodeHonoursTheOutputLimit) {
    // A single-leaf tree carries no code bits, so only the caller's limit bounds what its length
    // field can make the decoder allocate.
    struct Row {
        const char* name;
        uint32_t n;
        uint32_t limit;
        bool ok;
    } rows[] = {
        {"at the limit", 5000, 5000, true},
        {"one past the limit", 5001, 5000, false},
        {"four billion against two mebibytes", 0xFFFFFFFFu, 1u << 21, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BitBuilder b;
        b.header(row.n <= 0xFFFF ? 1 : 3, row.n);
        b.leaf(0x7A);
        SecureBuffer stream = b.buffer();
        RecordingAllocator allocator;
        const bool ok = huffmanDecode(stream, row.limit);
        EXPECT_EQ(ok, row.ok);
        EXPECT_LE(allocator.record().largestRequest, row.limit);
        if (ok) {
            EXPECT_TRUE(stream.constantTimeEquals(repeated(0x7A, row.n)));
        }
    }
}

// Decodes with huffmanDecode and with the reference walk; both must agree on success and bytes.
void expectSameAsReference(const SecureBuffer& stream, uint32_t limit) {
    SecureBuffer buffer(stream);
    const bool ok = huffmanDecode(buffer, limit);
    const std::optional<Bytes> expected =
        referenceHuffmanDecode(Bytes(stream.data(), stream.data() + stream.size()), limit);
    ASSERT_EQ(ok, expected.has_value()) << hexOf(stream, 16);
    if (ok) {
        ASSERT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()), *expected);
    } else {
        EXPECT_TRUE(buffer.constantTimeEquals(stream));
    }
}

TEST(Huffman, TableDecodingMatchesTheTreeWalk) {
    // Inputs whose trees are shallow, deeper than the table (codes of 12 to 25 bits), and with
    // only two leaves; sizes on both sides of where the table is used.
    std::vector<SecureBuffer> inputs;
    std::mt19937 generator(24);
    for (uint32_t size : {100u, 4095u, 4096u, 4097u, 70000u}) {
        inputs.push_back(randomBytes(size, size));
        inputs.push_back(englishLikeText(size, size));
        SecureBuffer skewed = randomBytes(size, size + 1);
        for (uint32_t i = 0; i < skewed.size(); ++i) {
            // Value v with probability about 2^-(v+1): codes as long as the counts allow.
            const uint32_t r = generator();
            skewed.data()[i] = static_cast<uint8_t>(r == 0 ? 31 : __builtin_ctz(r));
        }
        inputs.push_back(skewed);
        SecureBuffer two = randomBytes(size, size + 2);
        for (uint32_t i = 0; i < two.size(); ++i) two.data()[i] = two.data()[i] < 3 ? 0x41 : 0x42;
        inputs.push_back(two);
    }
    {
        // Fibonacci counts: a tree 25 levels deep.
        std::vector<uint8_t> bytes;
        uint32_t a = 1, b = 1;
        for (uint32_t value = 0; value < 26; ++value) {
            bytes.insert(bytes.end(), a, static_cast<uint8_t>(value));
            const uint32_t next = a + b;
            a = b;
            b = next;
        }
        std::shuffle(bytes.begin(), bytes.end(), generator);
        inputs.emplace_back(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    for (const SecureBuffer& input : inputs) {
        SCOPED_TRACE(input.size());
        SecureBuffer stream(input);
        ASSERT_TRUE(huffmanEncode(stream));
        expectSameAsReference(stream, NO_LIMIT);
        // The end of the stream falls at every place in the last bytes, where the table
        // decoder hands over to the walk, and in the middle.
        for (uint32_t cut = 1; cut <= 24 && cut < stream.size(); ++cut) {
            expectSameAsReference(stream.slice(stream.size() - cut, 0), NO_LIMIT);
        }
        expectSameAsReference(stream.slice(stream.size() / 2, 0), NO_LIMIT);
        // Flipped bits change codes and lengths: either both decode the same or both fail.
        for (uint32_t trial = 0; trial < 20; ++trial) {
            SecureBuffer flipped(stream);
            const uint32_t bit = generator() % (8 * flipped.size());
            flipped.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            expectSameAsReference(flipped, NO_LIMIT);
        }
        expectSameAsReference(stream, input.size() - 1);
    }
    // Random bits behind a valid header and tree: codes read from noise.
    for (uint32_t trial = 0; trial < 200; ++trial) {
        BitBuilder b;
        const uint32_t n = 4096 + generator() % 20000;
        b.header(1 + (n > 0xFFFF ? 1 : 0), n);
        b.internal();
        b.internal();
        b.leaf(0x10);
        b.internal();
        b.leaf(0x20);
        b.leaf(0x30);
        b.leaf(0x40);
        const uint32_t noiseBits = n + generator() % (2 * n);
        for (uint32_t i = 0; i < noiseBits; ++i) b.put(generator() & 1, 1);
        expectSameAsReference(b.buffer(), NO_LIMIT);
    }
}

TEST(Huffman, EmptyStaysEmpty) {
    SecureBuffer buffer;
    EXPECT_TRUE(huffmanEncode(buffer));
    EXPECT_TRUE(buffer.empty());
    EXPECT_TRUE(huffmanDecode(buffer, 0));
    EXPECT_TRUE(buffer.empty());
}

}  // namespace
