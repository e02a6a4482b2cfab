// Chunk framing. Each decoding stage gets the longest output that compressing a chunk of
// CODEC_CHUNK_MAX_BYTES can give it, so a forged length fails before it is allocated.

#include "codec/framing.h"

#include <cstring>
#include <utility>

#include "base/scope_exit.h"
#include "codec/blocksort.h"
#include "codec/huffman.h"
#include "codec/movetofront.h"
#include "codec/runlength.h"
#include "codec/word_array.h"

namespace {

// Longest output of each compression stage for a chunk of CODEC_CHUNK_MAX_BYTES.
constexpr uint64_t FRAMING_FIRST_RUN_LENGTH_MAX_BYTES = runLengthEncodedMaxBytes(CODEC_CHUNK_MAX_BYTES);
constexpr uint64_t FRAMING_BLOCK_SORT_MAX_BYTES = blockSortEncodedBytes(FRAMING_FIRST_RUN_LENGTH_MAX_BYTES);
constexpr uint64_t FRAMING_SECOND_RUN_LENGTH_MAX_BYTES = runLengthEncodedMaxBytes(FRAMING_BLOCK_SORT_MAX_BYTES);
static_assert(FRAMING_SECOND_RUN_LENGTH_MAX_BYTES <= UINT32_MAX);

constexpr uint32_t FRAMING_METHOD_BYTES = 1;

bool framingIsMethod(uint32_t value) {
    return value == METHOD_STORED || value == METHOD_HUFFMAN || value == METHOD_BLOCKSORT;
}

// The shortest runs of zeros that the second run-length stage writes as tokens, tried in this
// order; 4 is the stage's own rule, so it comes first and wins ties. Measured on text, the best
// is near 12 (2% fewer bytes than 4); on machine code near 6; on long runs it makes no difference.
constexpr uint32_t FRAMING_ZERO_RUN_CHOICES[] = {4, 5, 6, 7, 8, 10, 12, 14, 16, 20, 24, 32};

// The choice for the move-to-front output mtf that gives the shortest Huffman stream, found from
// counts alone. Every choice decodes alike; the shortest is never longer than the stage's own.
uint32_t framingChooseZeroRun(const SecureBuffer& mtf) {
    RunLengthZeroRuns runs;
    uint32_t counts[256];
    ScopeExit wipeCounts([&] {
        secureWipe(&runs, sizeof runs);
        secureWipe(counts, sizeof counts);
    });
    runLengthCountZeroRuns(mtf.data(), mtf.size(), runs);
    uint32_t best = FRAMING_ZERO_RUN_CHOICES[0];
    uint64_t bestBytes = UINT64_MAX;
    for (const uint32_t choice : FRAMING_ZERO_RUN_CHOICES) {
        runLengthCountsWith(runs, choice, counts);
        const uint64_t bytes = huffmanEncodedBytes(counts);
        if (bytes != 0 && bytes < bestBytes) {
            best = choice;
            bestBytes = bytes;
        }
    }
    return best;
}

// The quick look. It walks the chunk once in windows of FRAMING_LOOK_WINDOW_BYTES and stops at
// the first window that shows structure, so a compressible chunk costs a window or two. All its
// measures are integers, so every build of the program decides alike and writes the same bytes.
//
// Skew is measured by collision counts instead of entropy: for k cells whose counts c sum to n,
// chi = k * sum(c^2) / n - n is k - 1 on average for uniform data, with a spread of sqrt(2(k - 1)),
// and the Shannon entropy falls short of log2(k) by at most about chi / (2 n ln 2) bits (the
// collision entropy bounds it from below). FRAMING_LOOK_EXCESS_SHARE = 36 lets chi exceed its
// random mean by n / 36, about 0.02 bits per byte; 12 spreads of noise are allowed besides.
constexpr uint32_t FRAMING_LOOK_MIN_BYTES = 64 * 1024;
constexpr uint32_t FRAMING_LOOK_WINDOW_BYTES = 64 * 1024;   // the last window also takes the rest
constexpr uint32_t FRAMING_LOOK_EXCESS_SHARE = 36;          // bytes and neighbour differences, per window
constexpr uint32_t FRAMING_LOOK_CONTEXT_EXCESS_SHARE = 24;  // byte by previous byte, whole chunk
constexpr uint32_t FRAMING_LOOK_NOISE_SPREADS = 12;
// Pieces of a window (the last takes the rest) get a bound of their own, chi <= 255 + 257, about
// 8.7 spreads: random data fails it about once in 10^15 pieces.
constexpr uint32_t FRAMING_LOOK_PIECE_BYTES = 1024;
constexpr uint32_t FRAMING_LOOK_PIECE_NOISE = 257;
constexpr uint32_t FRAMING_LOOK_CONTEXT_BITS = 6;  // the previous byte's top bits
constexpr uint32_t FRAMING_LOOK_CONTEXT_CELLS = 256u << FRAMING_LOOK_CONTEXT_BITS;
// Pairs by context are counted in every fourth window, a quarter of the chunk: about 32 per cell
// in a full chunk, enough to show any skew the bound would let through, at a quarter of the cost.
constexpr uint32_t FRAMING_LOOK_CONTEXT_WINDOW_STEP = 4;
constexpr uint32_t FRAMING_LOOK_EQUAL_NEIGHBOUR_SHARE = 128;  // at most n / this (random: n / 256)
constexpr uint32_t FRAMING_LOOK_REPEAT_SHARE = 512;           // at most n / this bytes in repeats
// Repeats are found through anchors: the 8-byte strings that start with the byte
// FRAMING_LOOK_ANCHOR_VALUE, one offset in 256 of data that passes the byte counts. The choice
// depends on the content alone, so both copies of a repeat have their anchors at the same places,
// and every anchor that meets an earlier equal string stands for about 256 repeated bytes.
constexpr uint8_t FRAMING_LOOK_ANCHOR_VALUE = 0;
constexpr uint32_t FRAMING_LOOK_ANCHOR_BYTES = 256;
constexpr uint32_t FRAMING_LOOK_TABLE_BITS = 14;
constexpr uint64_t FRAMING_LOOK_HASH_FACTOR = 0x9E3779B97F4A7C15ull;

// Integer square root, rounded down.
constexpr uint32_t framingSqrt(uint32_t value) {
    uint32_t root = 0;
    for (uint32_t bit = 1u << 15; bit != 0; bit >>= 1) {
        if ((root + bit) * (root + bit) <= value) root += bit;
    }
    return root;
}

// True when cells counts summing to total look as flat as uniform data: chi (above) stays
// within its random mean, FRAMING_LOOK_NOISE_SPREADS spreads and total / excessShare.
bool framingLooksFlat(const uint32_t* counts, uint32_t cells, uint32_t total, uint32_t excessShare) {
    uint64_t squares = 0;
    for (uint32_t i = 0; i < cells; ++i) squares += uint64_t{counts[i]} * counts[i];
    // cells * squares <= total * (total + mean + noise + total / excessShare), all below 2^60
    // for the cells and totals used here.
    const uint64_t allowed =
        uint64_t{cells - 1} + FRAMING_LOOK_NOISE_SPREADS * framingSqrt(2 * (cells - 1)) + total / excessShare;
    return cells * squares <= uint64_t{total} * (total + allowed);
}

uint64_t framingLoad64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Bytes of data that repeat earlier 8-byte strings, estimated from the anchors (above): each
// anchor whose string occurred before, not overlapping it, stands for FRAMING_LOOK_ANCHOR_BYTES.
// anchors holds 2^FRAMING_LOOK_TABLE_BITS words of scratch.
uint64_t framingRepeatedBytes(const uint8_t* data, uint32_t size, uint32_t* anchors) {
    constexpr uint32_t entries = 1u << FRAMING_LOOK_TABLE_BITS;
    constexpr uint32_t none = UINT32_MAX;
    for (uint32_t i = 0; i < entries; ++i) anchors[i] = none;
    uint64_t hits = 0;
    const uint8_t* const strings = data + (size - 7);  // where the last whole string starts, plus one
    for (const uint8_t* p = data; p < strings; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, FRAMING_LOOK_ANCHOR_VALUE, static_cast<size_t>(strings - p)));
        if (p == nullptr) break;
        const uint32_t at = static_cast<uint32_t>(p - data);
        const uint64_t word = framingLoad64(p);
        const uint32_t slot =
            static_cast<uint32_t>((word * FRAMING_LOOK_HASH_FACTOR) >> (64 - FRAMING_LOOK_TABLE_BITS));
        const uint32_t seen = anchors[slot];
        // A string that overlaps its match is part of a run, which the equal neighbours count.
        if (seen != none && seen + 8 <= at && framingLoad64(data + seen) == word) {
            ++hits;
        } else {
            anchors[slot] = at;
        }
    }
    return hits * FRAMING_LOOK_ANCHOR_BYTES;
}

// The quick look's counters: byte values, neighbour differences and equal neighbours of the
// current window, pairs by context over the windows that count them, and byte values of the
// current piece.
struct FramingLookCounts {
    uint32_t* bytes;
    uint32_t* differences;
    uint32_t* contexts;
    uint32_t* pieceBytes;
    uint32_t equalNeighbours;
};

// Counts the bytes begin..end-1 of data into counts; previous is the byte before begin (the first
// byte itself at 0). False as soon as a piece's bytes are skewed: a few hundred bytes of text in
// a piece of random data are enough, where in a whole window they would drown. Whether pairs by
// context are counted is a template argument, so that the loop without them carries no test.
template <bool COUNT_CONTEXTS>
bool framingLookCount(FramingLookCounts& counts, const uint8_t* data, uint32_t begin, uint32_t end, uint8_t previous) {
    // Locals, not the record's fields: the stores into the counts could alias those.
    uint32_t* const bytes = counts.bytes;
    uint32_t* const differences = counts.differences;
    uint32_t* const contexts = counts.contexts;
    uint32_t* const pieceBytes = counts.pieceBytes;
    uint32_t equalNeighbours = 0;
    const uint32_t pieces = (end - begin) / FRAMING_LOOK_PIECE_BYTES;
    for (uint32_t piece = 0; piece < pieces; ++piece) {
        const uint32_t from = begin + piece * FRAMING_LOOK_PIECE_BYTES;
        const uint32_t to = piece + 1 == pieces ? end : from + FRAMING_LOOK_PIECE_BYTES;
        uint32_t squares = 0;  // the sum of the piece's counts squared, grown one byte at a time
        for (uint32_t at = from; at < to; ++at) {
            const uint8_t value = data[at];
            squares += 2 * pieceBytes[value]++ + 1;
            ++differences[static_cast<uint8_t>(value - previous)];
            if constexpr (COUNT_CONTEXTS) ++contexts[256 * (previous >> (8 - FRAMING_LOOK_CONTEXT_BITS)) + value];
            equalNeighbours += value == previous;
            previous = value;
        }
        for (uint32_t i = 0; i < 256; ++i) bytes[i] += pieceBytes[i];
        std::memset(pieceBytes, 0, 256 * sizeof(uint32_t));
        const uint64_t length = to - from;
        if (256 * uint64_t{squares} > length * (length + 255 + FRAMING_LOOK_PIECE_NOISE)) return false;
    }
    counts.equalNeighbours += equalNeighbours;
    return true;
}

}  // namespace

bool chunkLooksIncompressible(const uint8_t* data, uint32_t size) {
    if (size < FRAMING_LOOK_MIN_BYTES) return false;
    CodecWordArray words(256 + 256 + 256 + FRAMING_LOOK_CONTEXT_CELLS + (1u << FRAMING_LOOK_TABLE_BITS));
    FramingLookCounts counts{words.data(), words.data() + 256, words.data() + 768, words.data() + 512, 0};
    uint32_t contextPairs = 0;
    const uint32_t windows = size / FRAMING_LOOK_WINDOW_BYTES;
    for (uint32_t window = 0; window < windows; ++window) {
        const uint32_t begin = window * FRAMING_LOOK_WINDOW_BYTES;
        const uint32_t end = window + 1 == windows ? size : begin + FRAMING_LOOK_WINDOW_BYTES;
        const uint32_t windowBytes = end - begin;
        std::memset(counts.bytes, 0, 256 * sizeof(uint32_t));
        std::memset(counts.differences, 0, 256 * sizeof(uint32_t));
        counts.equalNeighbours = 0;
        // The first byte of the chunk has no neighbour; counting it against itself adds one equal
        // pair and one zero difference, which the bounds absorb.
        const uint8_t previous = data[begin == 0 ? 0 : begin - 1];
        if (window % FRAMING_LOOK_CONTEXT_WINDOW_STEP == 0) {
            if (!framingLookCount<true>(counts, data, begin, end, previous)) return false;
            contextPairs += windowBytes;
        } else {
            if (!framingLookCount<false>(counts, data, begin, end, previous)) return false;
        }
        if (!framingLooksFlat(counts.bytes, 256, windowBytes, FRAMING_LOOK_EXCESS_SHARE)) return false;
        if (!framingLooksFlat(counts.differences, 256, windowBytes, FRAMING_LOOK_EXCESS_SHARE)) return false;
        if (counts.equalNeighbours > windowBytes / FRAMING_LOOK_EQUAL_NEIGHBOUR_SHARE) return false;
    }
    if (!framingLooksFlat(counts.contexts, FRAMING_LOOK_CONTEXT_CELLS, contextPairs,
                          FRAMING_LOOK_CONTEXT_EXCESS_SHARE)) {
        return false;
    }
    return framingRepeatedBytes(data, size, words.data() + 768 + FRAMING_LOOK_CONTEXT_CELLS) <=
           size / FRAMING_LOOK_REPEAT_SHARE;
}

bool compressBlock(SecureBuffer& buffer, CompressionMethod mode) {
    bool succeeded = false;
    ScopeExit wipeOnFailure([&] {
        if (!succeeded) buffer.wipe();
    });
    if (!framingIsMethod(mode) || buffer.size() > CODEC_CHUNK_MAX_BYTES) return false;
    if (buffer.empty()) {
        succeeded = true;
        return true;
    }
    CompressionMethod method = mode;
    if (mode == METHOD_BLOCKSORT && chunkLooksIncompressible(buffer.data(), buffer.size())) {
        method = METHOD_STORED;
    } else if (mode != METHOD_STORED) {
        const uint32_t chunkBytes = buffer.size();
        // The first run-length form stays beside the coding instead of a copy of the chunk: the
        // block sort needs it anyway, and a chunk that coding does not shorten is restored from
        // it.
        runLengthEncode(buffer);
        SecureBuffer coded;
        if (mode == METHOD_BLOCKSORT) {
            // The run-length output of a non-empty chunk is never empty.
            if (!blockSortEncode(buffer, coded)) return false;
            moveToFrontEncode(coded);
            runLengthEncode(coded, framingChooseZeroRun(coded));
        } else {
            coded = buffer;
        }
        if (!huffmanEncode(coded)) return false;
        if (chunkBytes <= coded.size()) {
            coded.wipe();
            // This encoder's own run-length stream, of this chunk: it decodes.
            if (!runLengthDecode(buffer, CODEC_CHUNK_MAX_BYTES)) return false;
            method = METHOD_STORED;
        } else {
            buffer = std::move(coded);
        }
    }
    buffer.prependZeros(FRAMING_METHOD_BYTES);
    buffer.data()[0] = method;
    succeeded = true;
    return true;
}

bool decompressBlock(SecureBuffer& buffer) {
    CodecScratch scratch;
    SecureBuffer out;
    const bool decoded = decompressBlock(buffer.data(), buffer.size(), out, scratch);
    buffer = std::move(out);  // wiped on failure
    return decoded;
}

bool decompressBlock(const uint8_t* in, uint32_t size, SecureBuffer& out, CodecScratch& scratch) {
    uint32_t used[2] = {0, 0};
    bool succeeded = false;
    ScopeExit wipe([&] {
        for (uint32_t i = 0; i < 2; ++i) {
            if (used[i] != 0) secureWipe(scratch.stages[i].data(), used[i]);
        }
        if (!succeeded) out.wipe();
    });
    // A stage's output length is only known when it succeeds; until then the whole buffer may
    // hold its bytes.
    auto decoded = [&](uint32_t stage, bool ok, uint32_t bytes) {
        used[stage] = ok ? (bytes > used[stage] ? bytes : used[stage]) : scratch.stages[stage].size();
        return ok;
    };
    if (size == 0 || !framingIsMethod(in[0])) return false;
    const CompressionMethod method = static_cast<CompressionMethod>(in[0]);
    const uint8_t* payload = in + FRAMING_METHOD_BYTES;
    const uint32_t payloadBytes = size - FRAMING_METHOD_BYTES;
    SecureBuffer& first = scratch.stages[0];
    SecureBuffer& second = scratch.stages[1];
    uint32_t firstBytes = 0;
    uint32_t secondBytes = 0;
    const uint8_t* chunk = nullptr;
    uint32_t chunkBytes = 0;
    if (method == METHOD_STORED) {
        if (payloadBytes > CODEC_CHUNK_MAX_BYTES) return false;
        chunk = payload;
        chunkBytes = payloadBytes;
    } else {
        // Method 1 is Huffman and run-length decoding; method 2 has its block-sorted data there,
        // then the rest of its chain.
        const bool sorted = method == METHOD_BLOCKSORT;
        const auto huffmanMax =
            static_cast<uint32_t>(sorted ? FRAMING_SECOND_RUN_LENGTH_MAX_BYTES : FRAMING_FIRST_RUN_LENGTH_MAX_BYTES);
        const auto runLengthMax = static_cast<uint32_t>(sorted ? FRAMING_BLOCK_SORT_MAX_BYTES : CODEC_CHUNK_MAX_BYTES);
        bool ok = huffmanDecodeInto(payload, payloadBytes, huffmanMax, first, firstBytes);
        if (!decoded(0, ok, firstBytes)) return false;
        ok = runLengthDecodeInto(first.data(), firstBytes, runLengthMax, second, secondBytes);
        if (!decoded(1, ok, secondBytes)) return false;
        if (sorted) {
            moveToFrontDecodeBytes(second.data(), secondBytes);
            ok = blockSortDecodeInto(second.data(), secondBytes, first, firstBytes, scratch.blockSort);
            if (!decoded(0, ok, firstBytes)) return false;
            ok = runLengthDecodeInto(first.data(), firstBytes, CODEC_CHUNK_MAX_BYTES, second, secondBytes);
            if (!decoded(1, ok, secondBytes)) return false;
        }
        chunk = second.data();
        chunkBytes = secondBytes;
    }
    // The chunk's bytes, at most CODEC_CHUNK_MAX_BYTES: a full chunk reuses out's memory.
    if (out.size() != chunkBytes) out.allocateForOverwrite(chunkBytes);
    if (chunkBytes != 0) std::memcpy(out.data(), chunk, chunkBytes);
    succeeded = true;
    return true;
}
