// Suffix sorting: the induced sort against prefix doubling on strings chosen to reach every level
// of its recursion: short and long, random over small and full alphabets, runs, repeats and
// Fibonacci words, whose LMS substrings repeat at every level.

#include "codec/suffix_sort.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codec_references.h"
#include "codec_test_support.h"

using namespace codectest;

namespace {

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes fibonacciWord(uint32_t length) {
    std::string a = "a";
    std::string b = "ab";
    while (b.size() < length) {
        std::string next = b + a;
        a = std::move(b);
        b = std::move(next);
    }
    return bytesOf(b.substr(0, length));
}

Bytes randomOver(uint32_t length, uint32_t alphabet, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes out(length);
    for (uint8_t& b : out) b = static_cast<uint8_t>(generator() % alphabet);
    return out;
}

// Checks suffixSort's order and last column against the reference.
void expectSorted(const Bytes& text) {
    const uint32_t n = static_cast<uint32_t>(text.size());
    std::vector<uint32_t> order(n, 0xDEADBEEF);
    Bytes lastColumn(n, 0);
    suffixSort(text.data(), n, order.data(), lastColumn.data());
    const std::vector<uint32_t> expected = referenceSuffixArray(text);
    uint32_t firstDifference = 0;
    while (firstDifference < n && order[firstDifference] == expected[firstDifference]) ++firstDifference;
    ASSERT_EQ(firstDifference, n) << "first differing rank of " << n;
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(lastColumn[i], text[(order[i] + n - 1) % n]) << "row " << i;
    }
    // Without a last column the order is the same.
    std::vector<uint32_t> again(n, 0);
    suffixSort(text.data(), n, again.data(), nullptr);
    EXPECT_TRUE(again == order);
}

TEST(SuffixSort, NamedStrings) {
    const struct Row {
        const char* name;
        Bytes text;
    } rows[] = {
        {"one byte", bytesOf("x")},
        {"two equal bytes", bytesOf("aa")},
        {"banana", bytesOf("banana")},
        {"mississippi", bytesOf("mississippi")},
        {"strictly decreasing: no LMS position", bytesOf("zyxwvutsrqponmlkjihgfedcba")},
        {"strictly increasing", bytesOf("abcdefghijklmnopqrstuvwxyz")},
        {"one value 1 000 times", Bytes(1000, 0x41)},
        {"zero bytes and FF bytes", Bytes{0, 0xFF, 0, 0xFF, 0xFF, 0, 0, 0xFF}},
        {"period 2",
         [] {
             const SecureBuffer t = cyclic("ab", 501);
             return Bytes(t.data(), t.data() + t.size());
         }()},
        {"Fibonacci word of 10 000", fibonacciWord(10000)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        expectSorted(row.text);
    }
}

TEST(SuffixSort, EveryShortLengthOverSmallAlphabets) {
    for (uint32_t length = 1; length <= 200; ++length) {
        for (uint32_t alphabet : {1u, 2u, 3u, 4u, 256u}) {
            SCOPED_TRACE(std::to_string(length) + " over " + std::to_string(alphabet));
            expectSorted(randomOver(length, alphabet, length * 7 + alphabet));
        }
    }
}

TEST(SuffixSort, LongStringsThatRecurseDeeply) {
    Bytes repeats = randomOver(40000, 256, 61);
    for (uint32_t i = 997; i < repeats.size(); ++i) {
        if (i % 5000 < 4000) repeats[i] = repeats[i - 997];  // long repeats, broken now and then
    }
    Bytes runs;
    {
        std::mt19937 generator(62);
        while (runs.size() < 50000)
            runs.insert(runs.end(), 1 + generator() % 40, static_cast<uint8_t>(generator() % 3));
    }
    const struct Row {
        const char* name;
        Bytes text;
    } rows[] = {
        {"Fibonacci word", fibonacciWord(200000)},
        {"random over 2 values", randomOver(150000, 2, 63)},
        {"random over 256 values", randomOver(150000, 256, 64)},
        {"repeats of 997 bytes", repeats},
        {"runs of 1 to 40 over 3 values", runs},
        {"text",
         [] {
             const SecureBuffer t = englishLikeText(120000, 65);
             return Bytes(t.data(), t.data() + t.size());
         }()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        expectSorted(row.text);
    }
}

}  // namespace
