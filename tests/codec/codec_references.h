// Straightforward implementations of the codec's stages, written from the stream formats alone
// and kept slow and simple, as oracles for the fast code: suffix and rotation orders by prefix
// doubling, the inverse block sort, move-to-front, run-length coding, and a Huffman encoder and
// bit-by-bit decoder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace codectest {

using Bytes = std::vector<uint8_t>;

// Ranks of the length-2^k prefixes, doubled until they separate every suffix (suffixes) or
// until 2^k covers the text (rotations, which may stay equal). For rotations the prefixes wrap.
inline std::vector<uint32_t> referenceRanks(const Bytes& text, bool cyclic) {
    const uint32_t n = static_cast<uint32_t>(text.size());
    std::vector<uint32_t> rank(n);
    std::vector<uint32_t> next(n);
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    for (uint32_t i = 0; i < n; ++i) rank[i] = text[i];
    for (uint64_t width = 1; width < 2 * static_cast<uint64_t>(n); width *= 2) {
        // Key of i: (rank of i, rank of i + width), where past the end counts as -1.
        auto second = [&](uint32_t i) -> int64_t {
            const uint64_t j = i + width;
            if (cyclic) return rank[j % n];
            return j < n ? static_cast<int64_t>(rank[j]) : -1;
        };
        std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            if (rank[a] != rank[b]) return rank[a] < rank[b];
            return second(a) < second(b);
        });
        next[order[0]] = 0;
        for (uint32_t k = 1; k < n; ++k) {
            const uint32_t a = order[k - 1];
            const uint32_t b = order[k];
            const bool same = rank[a] == rank[b] && second(a) == second(b);
            next[b] = next[a] + (same ? 0 : 1);
        }
        rank.swap(next);
        if (rank[order[n - 1]] == n - 1) break;  // all distinct
        if (cyclic && width >= n) break;         // equal rotations stay equal
    }
    return rank;
}

// Suffix array: starts of the suffixes in ascending order, a prefix before its extensions.
inline std::vector<uint32_t> referenceSuffixArray(const Bytes& text) {
    const std::vector<uint32_t> rank = referenceRanks(text, false);
    std::vector<uint32_t> order(text.size());
    for (uint32_t i = 0; i < text.size(); ++i) order[rank[i]] = i;
    return order;
}

// The block-sort transform of one block of at least 4 bytes by its definition: the last column
// of the sorted rotations. equalGroupStart/equalGroupEnd receive the rows of the rotations equal
// to rotation 0 (more than one only in a periodic block).
struct ReferenceTransform {
    Bytes lastColumn;
    uint32_t equalGroupStart = 0;
    uint32_t equalGroupEnd = 0;  // one past the last
};

inline ReferenceTransform referenceTransform(const Bytes& block) {
    const uint32_t n = static_cast<uint32_t>(block.size());
    const std::vector<uint32_t> rank = referenceRanks(block, true);
    // Rows in order of rank; equal rotations share a rank and take consecutive rows.
    std::vector<uint32_t> rowsBelow(n + 1, 0);
    for (uint32_t i = 0; i < n; ++i) ++rowsBelow[rank[i] + 1];
    for (uint32_t r = 0; r < n; ++r) rowsBelow[r + 1] += rowsBelow[r];
    ReferenceTransform result;
    result.lastColumn.resize(n);
    std::vector<uint32_t> fill(rowsBelow.begin(), rowsBelow.end() - 1);
    for (uint32_t i = 0; i < n; ++i) result.lastColumn[fill[rank[i]]++] = block[(i + n - 1) % n];
    result.equalGroupStart = rowsBelow[rank[0]];
    result.equalGroupEnd = rowsBelow[rank[0] + 1];
    return result;
}

// The inverse of one block as the format describes it: ranks, first rows, then the walk.
inline Bytes referenceInverse(const Bytes& lastColumn, uint32_t primaryIndex) {
    const uint32_t n = static_cast<uint32_t>(lastColumn.size());
    if (n <= 3) return lastColumn;
    std::vector<uint32_t> count(256, 0);
    std::vector<uint32_t> rank(n);
    for (uint32_t i = 0; i < n; ++i) rank[i] = count[lastColumn[i]]++;
    std::vector<uint32_t> first(256, 0);
    for (uint32_t c = 1; c < 256; ++c) first[c] = first[c - 1] + count[c - 1];
    Bytes out(n);
    uint32_t p = primaryIndex;
    for (uint32_t t = 0; t < n; ++t) {
        out[n - 1 - t] = lastColumn[p];
        p = rank[p] + first[lastColumn[p]];
    }
    return out;
}

inline Bytes referenceMoveToFront(const Bytes& input, bool decode) {
    std::vector<uint8_t> list(256);
    std::iota(list.begin(), list.end(), uint8_t{0});
    Bytes out(input.size());
    for (size_t i = 0; i < input.size(); ++i) {
        uint32_t position = 0;
        if (decode) {
            position = input[i];
        } else {
            while (list[position] != input[i]) ++position;
        }
        const uint8_t value = list[position];
        list.erase(list.begin() + position);
        list.insert(list.begin(), value);
        out[i] = decode ? value : static_cast<uint8_t>(position);
    }
    return out;
}

// minZeroRun: runs of zeros shorter than this (when zero is not the escape) stay literals.
inline Bytes referenceRunLengthEncode(const Bytes& input, size_t minZeroRun = 4) {
    if (input.empty()) return {};
    std::vector<uint32_t> counts(256, 0);
    for (uint8_t b : input) ++counts[b];
    uint32_t escape = 0;
    for (uint32_t v = 0; v < 256; ++v) {
        if (counts[v] <= counts[escape]) escape = v;
    }
    Bytes out = {static_cast<uint8_t>(escape)};
    size_t i = 0;
    while (i < input.size()) {
        const uint8_t b = input[i];
        if (b == escape) {
            out.insert(out.end(), {b, b});
            ++i;
            continue;
        }
        size_t run = 1;
        while (run < 259 && i + run < input.size() && input[i + run] == b) ++run;
        if (run >= 4 && (b != 0 || run >= minZeroRun)) {
            out.insert(out.end(), {static_cast<uint8_t>(escape), b, static_cast<uint8_t>(run - 4)});
            i += run;
        } else {
            out.push_back(b);
            ++i;
        }
    }
    return out;
}

// Empty when a token is cut short.
inline std::optional<Bytes> referenceRunLengthDecode(const Bytes& stream) {
    Bytes out;
    if (stream.empty()) return out;
    const uint8_t escape = stream[0];
    size_t i = 1;
    while (i < stream.size()) {
        if (stream[i] != escape) {
            out.push_back(stream[i++]);
        } else if (i + 1 >= stream.size()) {
            return std::nullopt;
        } else if (stream[i + 1] == escape) {
            out.push_back(escape);
            i += 2;
        } else if (i + 2 >= stream.size()) {
            return std::nullopt;
        } else {
            out.insert(out.end(), stream[i + 2] + 4u, stream[i + 1]);
            i += 3;
        }
    }
    return out;
}

// The Huffman code of each byte value by the format's list rule: leaves in value order, the first
// the head, later ones behind it in front of the first entry of at least their count; then the
// two front entries merge repeatedly, the sum going behind the new head by the same rule. Code
// bits are given first step first (bit k is step k, 1 for right). Values that do not occur get
// length 0, as does the value of a one-leaf tree.
struct ReferenceCode {
    uint32_t length = 0;
    uint64_t bits = 0;
};

struct ReferenceTree {
    struct Node {
        bool leaf;
        uint8_t value;
        uint32_t child[2];
    };
    std::vector<Node> nodes;
    uint32_t root = 0;
};

inline ReferenceTree referenceHuffmanTree(const std::vector<uint64_t>& counts) {
    ReferenceTree tree;
    std::vector<std::pair<uint64_t, uint32_t>> list;  // count, node
    auto insertBehindHead = [&](std::pair<uint64_t, uint32_t> entry) {
        size_t at = 1;
        while (at < list.size() && list[at].first < entry.first) ++at;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), entry);
    };
    for (uint32_t v = 0; v < 256; ++v) {
        if (counts[v] == 0) continue;
        tree.nodes.push_back({true, static_cast<uint8_t>(v), {0, 0}});
        const std::pair<uint64_t, uint32_t> leaf{counts[v], static_cast<uint32_t>(tree.nodes.size() - 1)};
        if (list.empty()) {
            list.push_back(leaf);
        } else {
            insertBehindHead(leaf);
        }
    }
    while (list.size() > 1) {
        const auto a = list[0];
        const auto b = list[1];
        list.erase(list.begin(), list.begin() + 2);
        tree.nodes.push_back({false, 0, {a.second, b.second}});
        const std::pair<uint64_t, uint32_t> sum{a.first + b.first, static_cast<uint32_t>(tree.nodes.size() - 1)};
        if (list.empty()) {
            list.push_back(sum);
        } else {
            insertBehindHead(sum);
        }
    }
    tree.root = list[0].second;
    return tree;
}

inline std::vector<ReferenceCode> referenceHuffmanCodes(const ReferenceTree& tree) {
    std::vector<ReferenceCode> codes(256);
    std::vector<std::pair<uint32_t, ReferenceCode>> stack = {{tree.root, {}}};
    while (!stack.empty()) {
        const auto [node, code] = stack.back();
        stack.pop_back();
        if (tree.nodes[node].leaf) {
            codes[tree.nodes[node].value] = code;
            continue;
        }
        for (uint32_t side = 0; side < 2; ++side) {
            stack.push_back({tree.nodes[node].child[side],
                             {code.length + 1, code.bits | (static_cast<uint64_t>(side) << code.length)}});
        }
    }
    return codes;
}

// The whole stream: size class, n, the tree in pre-order, the codes, zero fill.
inline Bytes referenceHuffmanEncode(const Bytes& input) {
    if (input.empty()) return {};
    std::vector<uint64_t> counts(256, 0);
    for (uint8_t b : input) ++counts[b];
    const ReferenceTree tree = referenceHuffmanTree(counts);
    const std::vector<ReferenceCode> codes = referenceHuffmanCodes(tree);
    std::vector<bool> bits;
    auto put = [&](uint64_t value, uint32_t count) {
        for (uint32_t k = 0; k < count; ++k) bits.push_back(((value >> k) & 1) != 0);
    };
    const uint64_t n = input.size();
    const uint32_t sizeClass = n <= 0xFF ? 0 : n <= 0xFFFF ? 1 : n <= 0xFFFFFF ? 2 : 3;
    put(sizeClass, 2);
    put(n, 8 * (sizeClass + 1));
    std::vector<uint32_t> preorder = {tree.root};
    while (!preorder.empty()) {
        const uint32_t node = preorder.back();
        preorder.pop_back();
        if (tree.nodes[node].leaf) {
            put(1, 1);
            put(tree.nodes[node].value, 8);
        } else {
            put(0, 1);
            preorder.push_back(tree.nodes[node].child[1]);
            preorder.push_back(tree.nodes[node].child[0]);
        }
    }
    for (uint8_t b : input) put(codes[b].bits, codes[b].length);
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t k = 0; k < bits.size(); ++k) {
        if (bits[k]) out[k / 8] = static_cast<uint8_t>(out[k / 8] | (1u << (k % 8)));
    }
    return out;
}

// Decodes a Huffman stream by walking its tree one bit at a time; empty on any error the format
// names (short header, more than 256 leaves, a tree or the codes cut short, n above limit).
inline std::optional<Bytes> referenceHuffmanDecode(const Bytes& stream, uint32_t limit) {
    if (stream.empty()) return Bytes{};
    const uint64_t endBit = 8 * static_cast<uint64_t>(stream.size());
    uint64_t position = 2;
    bool failed = false;
    auto bit = [&]() -> uint32_t {
        if (position >= endBit) {
            failed = true;
            return 0;
        }
        const uint32_t value = (stream[position >> 3] >> (position & 7)) & 1;
        ++position;
        return value;
    };
    const uint32_t sizeClass = stream[0] & 3;
    if (stream.size() < sizeClass + 2) return std::nullopt;
    uint64_t n = 0;
    for (uint32_t k = 0; k < 8 * (sizeClass + 1); ++k) n |= static_cast<uint64_t>(bit()) << k;
    position = n <= 0xFF ? 10 : n <= 0xFFFF ? 18 : n <= 0xFFFFFF ? 26 : 34;
    struct Node {
        bool leaf;
        uint8_t value;
        uint32_t child[2];
    };
    std::vector<Node> nodes;
    uint32_t leaves = 0;
    // Pre-order, iteratively: open internal nodes wait for their children.
    std::vector<std::pair<uint32_t, uint32_t>> open;  // node, children so far
    do {
        const uint32_t isLeaf = bit();
        if (failed) return std::nullopt;
        Node node{isLeaf != 0, 0, {0, 0}};
        if (node.leaf) {
            uint32_t value = 0;
            for (uint32_t k = 0; k < 8; ++k) value |= bit() << k;
            if (failed) return std::nullopt;
            node.value = static_cast<uint8_t>(value);
            if (++leaves > 256) return std::nullopt;
        } else if (nodes.size() - leaves >= 255) {
            return std::nullopt;  // a 256th internal node means more than 256 leaves
        }
        const uint32_t id = static_cast<uint32_t>(nodes.size());
        nodes.push_back(node);
        if (!open.empty()) {
            auto& [parent, children] = open.back();
            nodes[parent].child[children++] = id;
            if (children == 2) open.pop_back();
        }
        if (!node.leaf) open.push_back({id, 0});
    } while (!open.empty());
    if (n > limit) return std::nullopt;
    Bytes out;
    out.reserve(n);
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t at = 0;
        while (!nodes[at].leaf) {
            at = nodes[at].child[bit()];
            if (failed) return std::nullopt;
        }
        out.push_back(nodes[at].value);
    }
    return out;
}

}  // namespace codectest
