// Suffix sorting by induced sorting (SA-IS): the leftmost-S (LMS) suffixes are sorted by their
// substrings, named, sorted by recursion on the string of names when names repeat, and the order
// of all suffixes is induced from theirs. The end of the text acts as a sentinel smaller than
// every symbol, without being stored.
//
// Each level works inside the caller's order array: the reduced string and its suffix array use
// its free half. Bucket tables are per level and wiped.

#include "codec/suffix_sort.h"

#include <cstring>

#include "base/scope_exit.h"
#include "codec/byte_counts.h"
#include "codec/word_array.h"

namespace {

constexpr uint32_t SUFFIX_EMPTY = UINT32_MAX;
// Set on an entry of the first induced sort whose suffix is LMS, so that the LMS suffixes can be
// picked out in order without looking at the text again. Positions stay below 2^30.
constexpr uint32_t SUFFIX_LMS_MARK = 0x80000000u;
constexpr uint32_t SUFFIX_BYTE_ALPHABET = 256;
// How far ahead of the scan the induced sorts fetch the text, in entries.
constexpr uint32_t SUFFIX_PREFETCH_DISTANCE = 32;

// Symbol counts and the bucket pointers of one level; starts and ends are rebuilt from the
// counts before each pass. Without room to keep the counts (counts is null), each pass counts
// the text again.
struct SuffixBuckets {
    uint32_t* counts;
    uint32_t* pointers;
    uint32_t alphabet;
};

// Words of the order array that a level may use for its tables while it runs: for a reduced
// string, the part of its parent's order array between the reduced suffix array and the reduced
// string.
struct SuffixSpare {
    uint32_t* words;
    uint32_t count;
};

// Alphabets up to this size keep their counts in an allocated table when the spare words are
// too few; larger ones count again rather than double what they allocate.
constexpr uint32_t SUFFIX_KEPT_COUNTS_MAX = 65536;

// The bucket tables of one level: in the spare words when they fit, otherwise allocated.
class SuffixBucketTables {
public:
    SuffixBucketTables(uint32_t alphabet, SuffixSpare spare) : owned_(ownedWords(alphabet, spare)) {
        if (alphabet <= spare.count / 2) {
            buckets_ = SuffixBuckets{spare.words, spare.words + alphabet, alphabet};
        } else if (alphabet <= spare.count) {
            buckets_ = SuffixBuckets{nullptr, spare.words, alphabet};
        } else if (alphabet <= SUFFIX_KEPT_COUNTS_MAX) {
            buckets_ = SuffixBuckets{owned_.data(), owned_.data() + alphabet, alphabet};
        } else {
            buckets_ = SuffixBuckets{nullptr, owned_.data(), alphabet};
        }
    }
    SuffixBuckets& buckets() { return buckets_; }

private:
    static uint32_t ownedWords(uint32_t alphabet, SuffixSpare spare) {
        if (alphabet <= spare.count) return 0;
        return alphabet <= SUFFIX_KEPT_COUNTS_MAX ? 2 * alphabet : alphabet;
    }

    CodecWordArray owned_;
    SuffixBuckets buckets_;
};

// One bit per position of a level's text, set at its LMS positions.
class SuffixLmsBits {
public:
    explicit SuffixLmsBits(uint32_t length) : words_(length / 32 + 1), wordCount_(length / 32 + 1) {}
    uint32_t* words() { return words_.data(); }
    // Calls visit(p) for every set position in ascending order.
    template <typename Visit>
    void forEach(Visit visit) const {
        for (uint32_t w = 0; w < wordCount_; ++w) {
            uint32_t bits = words_[w];
            while (bits != 0) {
                visit((w << 5) | static_cast<uint32_t>(__builtin_ctz(bits)));
                bits &= bits - 1;
            }
        }
    }

private:
    CodecWordArray words_;
    uint32_t wordCount_;
};

template <typename Symbol>
void suffixCountInto(const Symbol* text, uint32_t length, uint32_t alphabet, uint32_t* counts) {
    std::memset(counts, 0, alphabet * sizeof(uint32_t));
    for (uint32_t i = 0; i < length; ++i) ++counts[text[i]];
}

void suffixCountInto(const uint8_t* text, uint32_t length, uint32_t alphabet, uint32_t* counts) {
    byteCountsCompute(text, length, counts, alphabet);
}

// Fills the kept counts, if the level keeps them.
template <typename Symbol>
void suffixCount(const Symbol* text, uint32_t length, SuffixBuckets& b) {
    if (b.counts != nullptr) suffixCountInto(text, length, b.alphabet, b.counts);
}

// The counts for a pass: the kept ones, or counted now into the pointers, which the pass then
// turns into starts or ends in place.
template <typename Symbol>
const uint32_t* suffixCountsForPass(const Symbol* text, uint32_t length, SuffixBuckets& b) {
    if (b.counts != nullptr) return b.counts;
    suffixCountInto(text, length, b.alphabet, b.pointers);
    return b.pointers;
}

template <typename Symbol>
void suffixBucketStarts(const Symbol* text, uint32_t length, SuffixBuckets& b) {
    const uint32_t* counts = suffixCountsForPass(text, length, b);
    uint32_t sum = 0;
    for (uint32_t c = 0; c < b.alphabet; ++c) {
        const uint32_t count = counts[c];
        b.pointers[c] = sum;
        sum += count;
    }
}

template <typename Symbol>
void suffixBucketEnds(const Symbol* text, uint32_t length, SuffixBuckets& b) {
    const uint32_t* counts = suffixCountsForPass(text, length, b);
    uint32_t sum = 0;
    for (uint32_t c = 0; c < b.alphabet; ++c) {
        sum += counts[c];
        b.pointers[c] = sum;
    }
}

// Sets the bit of every LMS position and returns their number. A position is S when its suffix
// is smaller than the next one, L otherwise; the last position is L (the sentinel is smaller),
// and p is LMS when p is S and p - 1 is L. Without branches: LMS positions fall irregularly.
template <typename Symbol>
uint32_t suffixFindLms(const Symbol* text, uint32_t length, SuffixLmsBits& lms) {
    uint32_t* words = lms.words();
    uint32_t count = 0;
    uint32_t word = 0;     // bits of the word holding position i, from i up
    uint32_t nextIsS = 0;  // type of position i
    for (uint32_t i = length - 1; i > 0; --i) {
        const Symbol before = text[i - 1];
        const Symbol here = text[i];
        const uint32_t previousIsS =
            static_cast<uint32_t>(before < here) | (static_cast<uint32_t>(before == here) & nextIsS);
        const uint32_t isLms = nextIsS & (previousIsS ^ 1);
        word |= isLms << (i & 31);
        count += isLms;
        if ((i & 31) == 0) {
            words[i >> 5] = word;
            word = 0;
        }
        nextIsS = previousIsS;
    }
    words[0] = word;  // position 0 is never LMS
    return count;
}

// Induces the L suffixes from the entries already in order (LMS suffixes at their bucket ends).
// An entry p puts p - 1 at the front of its bucket when p - 1 is L, which in this pass is
// exactly when text[p - 1] >= text[p].
template <typename Symbol>
void suffixInduceL(const Symbol* text, uint32_t length, uint32_t* order, SuffixBuckets& b) {
    suffixBucketStarts(text, length, b);
    uint32_t* pointers = b.pointers;
    // The sentinel's suffix comes first; the position before it is L.
    order[pointers[text[length - 1]]++] = length - 1;
    for (uint32_t i = 0; i < length; ++i) {
        if (i + SUFFIX_PREFETCH_DISTANCE < length) {
            const uint32_t ahead = order[i + SUFFIX_PREFETCH_DISTANCE] - 1;
            if (ahead < length) __builtin_prefetch(text + ahead);
        }
        const uint32_t j = order[i] - 1;  // empty, marked and 0 entries wrap past length
        if (j >= length) continue;
        const Symbol c0 = text[j];
        if (c0 >= text[j + 1]) order[pointers[c0]++] = j;
    }
}

// Induces the S suffixes from right to left. An entry at i in the bucket of c is S exactly when
// i lies in the part of the bucket that this pass has filled, at or after pointers[c]. With
// markLms, a placed suffix that is LMS (the one before it is L) is marked; its own predecessor
// is L, so the pass skips it when it reaches it. With lastColumn (the final pass, where every
// entry is in place when the scan reaches it), lastColumn[i] receives the symbol before the
// suffix at i, cyclically.
template <typename Symbol, bool markLms>
void suffixInduceS(const Symbol* text, uint32_t length, uint32_t* order, SuffixBuckets& b, uint8_t* lastColumn) {
    suffixBucketEnds(text, length, b);
    uint32_t* pointers = b.pointers;
    for (uint32_t i = length; i-- > 0;) {
        if (i >= SUFFIX_PREFETCH_DISTANCE) {
            const uint32_t ahead = order[i - SUFFIX_PREFETCH_DISTANCE] - 1;
            if (ahead < length) __builtin_prefetch(text + ahead);
        }
        const uint32_t j = order[i] - 1;
        if (j >= length) {
            if (lastColumn != nullptr) lastColumn[i] = static_cast<uint8_t>(text[length - 1]);
            continue;
        }
        const Symbol c0 = text[j];
        const Symbol c1 = text[j + 1];
        if (lastColumn != nullptr) lastColumn[i] = static_cast<uint8_t>(c0);
        if (c0 < c1 || (c0 == c1 && i >= pointers[c1])) {
            uint32_t entry = j;
            if (markLms && j > 0 && text[j - 1] > c0) entry |= SUFFIX_LMS_MARK;
            order[--pointers[c0]] = entry;
        }
    }
}

// Whether the LMS substrings at p and q (each running to the next LMS position inclusive, of
// the given lengths) are equal. A length of 0 marks the substring that runs into the sentinel,
// which equals no other.
template <typename Symbol>
bool suffixSameSubstring(const Symbol* text, uint32_t p, uint32_t q, uint32_t lengthP, uint32_t lengthQ) {
    if (lengthP != lengthQ || lengthP == 0) return false;
    for (uint32_t k = 0; k < lengthP; ++k) {
        if (text[p + k] != text[q + k]) return false;
    }
    return true;
}

template <typename Symbol>
void suffixSortLevel(const Symbol* text, uint32_t length, uint32_t alphabet, uint32_t* order, SuffixSpare spare,
                     uint8_t* lastColumn);

// Sorts the LMS suffixes of text into order[0..lmsCount) and returns lmsCount.
template <typename Symbol>
uint32_t suffixSortLms(const Symbol* text, uint32_t length, uint32_t alphabet, uint32_t* order, SuffixSpare spare) {
    SuffixLmsBits lms(length);
    uint32_t lmsCount = 0;
    {
        SuffixBucketTables tables(alphabet, spare);
        SuffixBuckets& b = tables.buckets();
        suffixCount(text, length, b);

        // Sort the LMS substrings: LMS positions at their bucket ends, then both inductions.
        for (uint32_t i = 0; i < length; ++i) order[i] = SUFFIX_EMPTY;
        suffixBucketEnds(text, length, b);
        lmsCount = suffixFindLms(text, length, lms);
        lms.forEach([&](uint32_t p) { order[--b.pointers[text[p]]] = p; });
        if (lmsCount == 0) return 0;
        suffixInduceL(text, length, order, b);
        suffixInduceS<Symbol, true>(text, length, order, b, nullptr);
    }

    // The marked entries, in order, are the LMS positions sorted by their substrings.
    // (Every position holds a suffix after the first sort, so no entry is empty. Writing at
    // found <= i only overwrites entries already read.)
    uint32_t found = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t entry = order[i];
        order[found] = entry & ~SUFFIX_LMS_MARK;
        found += entry >> 31;
    }

    // LMS positions are at least two apart, so slot lmsCount + p / 2 is free and distinct for
    // each; it first holds the substring's length, then its name.
    uint32_t* slots = order + lmsCount;
    for (uint32_t i = lmsCount; i < length; ++i) order[i] = SUFFIX_EMPTY;
    {
        bool first = true;
        uint32_t previous = 0;
        lms.forEach([&](uint32_t p) {
            if (!first) slots[previous >> 1] = p - previous + 1;
            first = false;
            previous = p;
        });
        slots[previous >> 1] = 0;  // the last runs into the sentinel
    }
    uint32_t names = 0;
    uint32_t previous = 0;
    uint32_t previousLength = 0;
    for (uint32_t i = 0; i < lmsCount; ++i) {
        if (i + SUFFIX_PREFETCH_DISTANCE < lmsCount) {
            const uint32_t ahead = order[i + SUFFIX_PREFETCH_DISTANCE];
            __builtin_prefetch(slots + (ahead >> 1));
            __builtin_prefetch(text + ahead);
        }
        const uint32_t p = order[i];
        const uint32_t substringLength = slots[p >> 1];
        if (i == 0 || !suffixSameSubstring(text, previous, p, previousLength, substringLength)) {
            ++names;
        }
        previous = p;
        previousLength = substringLength;
        slots[p >> 1] = names - 1;
    }

    // The reduced string: the names in text order, moved to the end of order.
    uint32_t* reduced = order + length - lmsCount;
    {
        // Writing at k - 1 >= i only overwrites slots already read.
        uint32_t k = length;
        for (uint32_t i = length; i-- > lmsCount;) {
            const uint32_t slot = order[i];
            order[k - 1] = slot;
            k -= slot != SUFFIX_EMPTY ? 1 : 0;
        }
    }
    if (names < lmsCount) {
        const SuffixSpare childSpare = {order + lmsCount, length - 2 * lmsCount};
        suffixSortLevel(reduced, lmsCount, names, order, childSpare, nullptr);
    } else {
        for (uint32_t i = 0; i < lmsCount; ++i) order[reduced[i]] = i;
    }
    // The reduced string's positions become text positions again.
    {
        uint32_t k = 0;
        lms.forEach([&](uint32_t p) { reduced[k++] = p; });
    }
    for (uint32_t i = 0; i < lmsCount; ++i) {
        if (i + SUFFIX_PREFETCH_DISTANCE < lmsCount) {
            __builtin_prefetch(reduced + order[i + SUFFIX_PREFETCH_DISTANCE]);
        }
        order[i] = reduced[order[i]];
    }
    return lmsCount;
}

template <typename Symbol>
void suffixSortLevel(const Symbol* text, uint32_t length, uint32_t alphabet, uint32_t* order, SuffixSpare spare,
                     uint8_t* lastColumn) {
    const uint32_t lmsCount = suffixSortLms(text, length, alphabet, order, spare);

    // The bucket tables of this level were given up during the recursion; count again.
    SuffixBucketTables tables(alphabet, spare);
    SuffixBuckets& b = tables.buckets();
    suffixCount(text, length, b);
    for (uint32_t i = lmsCount; i < length; ++i) order[i] = SUFFIX_EMPTY;
    // The sorted LMS suffixes go to their bucket ends, the largest first. The i-th smallest
    // belongs at or after position i, so no entry is overwritten before it is moved.
    suffixBucketEnds(text, length, b);
    for (uint32_t i = lmsCount; i-- > 0;) {
        if (i >= SUFFIX_PREFETCH_DISTANCE) __builtin_prefetch(text + order[i - SUFFIX_PREFETCH_DISTANCE]);
        const uint32_t p = order[i];
        order[i] = SUFFIX_EMPTY;
        order[--b.pointers[text[p]]] = p;
    }
    suffixInduceL(text, length, order, b);
    suffixInduceS<Symbol, false>(text, length, order, b, lastColumn);
}

}  // namespace

void suffixSort(const uint8_t* text, uint32_t length, uint32_t* order, uint8_t* lastColumn) {
    if (length == 0 || length > SUFFIX_SORT_MAX_BYTES) return;
    suffixSortLevel(text, length, SUFFIX_BYTE_ALPHABET, order, SuffixSpare{nullptr, 0}, lastColumn);
}
