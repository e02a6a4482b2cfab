// Huffman stage. The encoder builds the stream's reference tree in a singly linked list, replaces
// it by a minimum-redundancy tree where that codes the data in fewer bits, and emits codes from a
// table; the decoder parses the tree without recursion and
// decodes through a table of the tree's first levels, walking deeper paths bit by bit.

#include "codec/huffman.h"

#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"

namespace {

constexpr uint32_t HUFFMAN_MAX_NODES = 2 * HUFFMAN_MAX_LEAVES - 1;
constexpr uint32_t HUFFMAN_MAX_INTERNAL_NODES = HUFFMAN_MAX_LEAVES - 1;
constexpr uint16_t HUFFMAN_NO_NODE = 0xFFFF;
constexpr uint32_t HUFFMAN_CLASS_BITS = 2;
constexpr uint32_t HUFFMAN_LEAF_BITS = 1 + 8;
constexpr uint32_t HUFFMAN_INTERNAL_BITS = 1;
// Capacity of a stream for n input bytes is n + n / CAPACITY_DIVISOR + CAPACITY_EXTRA_BYTES.
constexpr uint64_t HUFFMAN_CAPACITY_DIVISOR = 4;
constexpr uint64_t HUFFMAN_CAPACITY_EXTRA_BYTES = 500;

struct HuffmanNode {
    uint32_t count;
    uint16_t child[2];  // left, right; HUFFMAN_NO_NODE in a leaf
    uint16_t next;      // the next entry of the construction list
    uint8_t value;
    bool leaf;
};

struct HuffmanTree {
    HuffmanNode nodes[HUFFMAN_MAX_NODES];
    uint32_t nodeCount;
    uint16_t root;
};

struct HuffmanCode {
    uint32_t length;  // bits, 0 for the lone value of a single-leaf tree
    uint64_t bits;    // step i of the path in bit i
};

// Size class K of n: the number of bytes of n's field, less one.
uint32_t huffmanSizeClass(uint64_t n) {
    if (n <= 0xFF) return 0;
    if (n <= 0xFFFF) return 1;
    if (n <= 0xFFFFFF) return 2;
    return 3;
}

uint32_t huffmanHeaderBits(uint32_t sizeClass) { return HUFFMAN_CLASS_BITS + 8 * (sizeClass + 1); }

uint16_t huffmanNewNode(HuffmanTree& tree, uint32_t count, uint16_t left, uint16_t right, uint8_t value, bool leaf) {
    const uint16_t id = static_cast<uint16_t>(tree.nodeCount++);
    tree.nodes[id] = HuffmanNode{count, {left, right}, HUFFMAN_NO_NODE, value, leaf};
    return id;
}

// Puts node behind head, in front of the first later entry whose count is at least its own, or
// at the end. The head itself is never compared.
void huffmanInsertAfterHead(HuffmanTree& tree, uint16_t head, uint16_t node) {
    HuffmanNode* nodes = tree.nodes;
    uint16_t previous = head;
    uint16_t current = nodes[head].next;
    while (current != HUFFMAN_NO_NODE && nodes[current].count < nodes[node].count) {
        previous = current;
        current = nodes[current].next;
    }
    nodes[node].next = current;
    nodes[previous].next = node;
}

// Builds the tree of a non-empty buffer's counts.
void huffmanBuildTree(const uint32_t (&counts)[256], HuffmanTree& tree) {
    tree.nodeCount = 0;
    uint16_t head = HUFFMAN_NO_NODE;
    for (uint32_t value = 0; value < 256; ++value) {
        if (counts[value] == 0) continue;
        const uint16_t leaf =
            huffmanNewNode(tree, counts[value], HUFFMAN_NO_NODE, HUFFMAN_NO_NODE, static_cast<uint8_t>(value), true);
        if (head == HUFFMAN_NO_NODE) {
            head = leaf;
        } else {
            huffmanInsertAfterHead(tree, head, leaf);
        }
    }
    HuffmanNode* nodes = tree.nodes;
    while (nodes[head].next != HUFFMAN_NO_NODE) {
        const uint16_t first = head;
        const uint16_t second = nodes[first].next;
        const uint16_t rest = nodes[second].next;
        // Counts sum to the buffer length, so no sum exceeds 32 bits.
        const uint16_t merged = huffmanNewNode(tree, nodes[first].count + nodes[second].count, first, second, 0, false);
        if (rest == HUFFMAN_NO_NODE) {
            head = merged;
            break;
        }
        head = rest;
        huffmanInsertAfterHead(tree, head, merged);
    }
    tree.root = head;
}

// Minimum-redundancy code lengths of the non-zero counts (0 for the others): Huffman's merging of
// the two lightest, leaves in ascending count and merged nodes in a second queue. A buffer of
// fewer than 2^32 bytes gives no code longer than 46 bits. Two or more non-zero counts.
void huffmanOptimalLengths(const uint32_t (&counts)[256], uint32_t (&lengths)[256]) {
    uint16_t order[HUFFMAN_MAX_LEAVES];
    uint32_t leaves = 0;
    for (uint32_t value = 0; value < 256; ++value) {
        lengths[value] = 0;
        if (counts[value] != 0) order[leaves++] = static_cast<uint16_t>(value);
    }
    // Insertion sort by count; stable, and at most 256 entries.
    for (uint32_t i = 1; i < leaves; ++i) {
        const uint16_t value = order[i];
        uint32_t j = i;
        while (j > 0 && counts[order[j - 1]] > counts[value]) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = value;
    }
    // Node k < leaves is the leaf order[k]; node leaves + m is the m-th merge.
    uint64_t weight[HUFFMAN_MAX_NODES];
    uint16_t parent[HUFFMAN_MAX_NODES];
    for (uint32_t k = 0; k < leaves; ++k) weight[k] = counts[order[k]];
    uint32_t nextLeaf = 0;
    uint32_t nextMerged = leaves;
    const uint32_t nodes = 2 * leaves - 1;
    for (uint32_t made = leaves; made < nodes; ++made) {
        uint32_t pick[2];
        for (uint32_t& chosen : pick) {
            // A leaf wins ties, which keeps the code as shallow as any optimal code.
            if (nextMerged == made || (nextLeaf < leaves && weight[nextLeaf] <= weight[nextMerged])) {
                chosen = nextLeaf++;
            } else {
                chosen = nextMerged++;
            }
        }
        weight[made] = weight[pick[0]] + weight[pick[1]];
        parent[pick[0]] = static_cast<uint16_t>(made);
        parent[pick[1]] = static_cast<uint16_t>(made);
    }
    // Depths from the root down: a parent is always made after its children.
    uint32_t depth[HUFFMAN_MAX_NODES];
    depth[nodes - 1] = 0;
    for (uint32_t k = nodes - 1; k-- > 0;) depth[k] = depth[parent[k]] + 1;
    for (uint32_t k = 0; k < leaves; ++k) lengths[order[k]] = depth[k];
    secureWipe(order, sizeof order);
    secureWipe(weight, sizeof weight);
    secureWipe(parent, sizeof parent);
    secureWipe(depth, sizeof depth);
}

// Builds a tree with the given code lengths, which fill the code space exactly (as
// huffmanOptimalLengths gives them) and are at most HUFFMAN_MAX_CODE_BITS: level by level from
// the deepest, the subtrees carried up from below and then that level's leaves in value order,
// paired left and right.
void huffmanTreeFromLengths(const uint32_t (&lengths)[256], HuffmanTree& tree) {
    tree.nodeCount = 0;
    uint32_t deepest = 0;
    for (uint32_t value = 0; value < 256; ++value) deepest = lengths[value] > deepest ? lengths[value] : deepest;
    uint16_t level[HUFFMAN_MAX_LEAVES];
    uint32_t levelCount = 0;  // subtrees carried up to the current level
    for (uint32_t length = deepest; length > 0; --length) {
        for (uint32_t value = 0; value < 256; ++value) {
            if (lengths[value] != length) continue;
            level[levelCount++] =
                huffmanNewNode(tree, 0, HUFFMAN_NO_NODE, HUFFMAN_NO_NODE, static_cast<uint8_t>(value), true);
        }
        // levelCount is even: the lengths fill the code space.
        for (uint32_t i = 0; i < levelCount / 2; ++i) {
            level[i] = huffmanNewNode(tree, 0, level[2 * i], level[2 * i + 1], 0, false);
        }
        levelCount /= 2;
    }
    tree.root = level[0];
    secureWipe(level, sizeof level);
}

// Fills the code of every leaf; false when a path is longer than HUFFMAN_MAX_CODE_BITS.
bool huffmanBuildCodes(const HuffmanTree& tree, HuffmanCode (&codes)[256]) {
    struct Pending {
        uint16_t node;
        uint32_t length;
        uint64_t bits;
    };
    // Depth-first with the right child pushed first; a tree of n leaves needs at most n entries.
    Pending stack[HUFFMAN_MAX_LEAVES];
    ScopeExit wipeStack([&] { secureWipe(stack, sizeof stack); });
    uint32_t depth = 0;
    stack[depth++] = Pending{tree.root, 0, 0};
    while (depth > 0) {
        const Pending item = stack[--depth];
        const HuffmanNode& node = tree.nodes[item.node];
        if (node.leaf) {
            codes[node.value] = HuffmanCode{item.length, item.bits};
            continue;
        }
        if (item.length == HUFFMAN_MAX_CODE_BITS) return false;
        stack[depth++] = Pending{node.child[1], item.length + 1, item.bits | (1ull << item.length)};
        stack[depth++] = Pending{node.child[0], item.length + 1, item.bits};
    }
    return true;
}

uint64_t huffmanTreeBits(const HuffmanTree& tree) {
    uint64_t bits = 0;
    for (uint32_t i = 0; i < tree.nodeCount; ++i) {
        bits += tree.nodes[i].leaf ? HUFFMAN_LEAF_BITS : HUFFMAN_INTERNAL_BITS;
    }
    return bits;
}

// Writes fields least significant bit first into a buffer sized to the exact stream length.
struct HuffmanBitWriter {
    uint8_t* out;
    uint32_t position;     // next byte of out
    uint64_t accumulator;  // bits not yet written, the oldest in bit 0
    uint32_t pending;      // number of them, below 8 between calls
};

// Writes out the whole bytes that wait in the accumulator, leaving fewer than 8 bits pending.
void huffmanPutWholeBytes(HuffmanBitWriter& w) {
    while (w.pending >= 8) {
        w.out[w.position++] = static_cast<uint8_t>(w.accumulator);
        w.accumulator >>= 8;
        w.pending -= 8;
    }
}

// count <= HUFFMAN_MAX_CODE_BITS, so the accumulator never holds more than 55 bits.
void huffmanPutBits(HuffmanBitWriter& w, uint64_t bits, uint32_t count) {
    w.accumulator |= bits << w.pending;
    w.pending += count;
    huffmanPutWholeBytes(w);
}

// Writes the code of each of in[0..n): 32 bits at a time, a code longer than 32 bits (which only
// very skewed counts give) through huffmanPutBits. Between codes fewer than 32 bits wait, so one
// code of up to 32 bits fits the accumulator.
void huffmanPutCodes(HuffmanBitWriter& w, const uint8_t* in, uint32_t n, const HuffmanCode (&codes)[256]) {
    uint64_t accumulator = w.accumulator;
    uint32_t pending = w.pending;
    uint32_t position = w.position;
    uint8_t* out = w.out;
    for (uint32_t i = 0; i < n; ++i) {
        const HuffmanCode& code = codes[in[i]];
        if (code.length > 32) {
            w.accumulator = accumulator;
            w.pending = pending;
            w.position = position;
            huffmanPutWholeBytes(w);  // huffmanPutBits wants fewer than 8 waiting
            huffmanPutBits(w, code.bits, code.length);
            accumulator = w.accumulator;
            pending = w.pending;
            position = w.position;
            continue;
        }
        accumulator |= code.bits << pending;
        pending += code.length;
        if (pending >= 32) {
            store32Le(out + position, static_cast<uint32_t>(accumulator));
            position += 4;
            accumulator >>= 32;
            pending -= 32;
        }
    }
    w.accumulator = accumulator;
    w.pending = pending;
    w.position = position;
    huffmanPutWholeBytes(w);  // fewer than 8 bits pending, as huffmanPutBits leaves them
}

void huffmanPutTree(HuffmanBitWriter& w, const HuffmanTree& tree) {
    // Pre-order without recursion; at most one pending right subtree per level.
    uint16_t stack[HUFFMAN_MAX_LEAVES];
    uint32_t depth = 0;
    stack[depth++] = tree.root;
    while (depth > 0) {
        const HuffmanNode& node = tree.nodes[stack[--depth]];
        if (node.leaf) {
            huffmanPutBits(w, 1, 1);
            huffmanPutBits(w, node.value, 8);
        } else {
            huffmanPutBits(w, 0, 1);
            stack[depth++] = node.child[1];
            stack[depth++] = node.child[0];
        }
    }
    secureWipe(stack, sizeof stack);
}

// Reads bits least significant first; a read at or beyond the end fails.
struct HuffmanBitReader {
    const uint8_t* in;
    uint64_t endBit;    // 8 x buffer length
    uint64_t position;  // next bit
};

bool huffmanGetBits(HuffmanBitReader& r, uint32_t count, uint32_t& value) {
    if (r.endBit - r.position < count) return false;
    uint32_t result = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t bit = r.position + i;
        result |= static_cast<uint32_t>((r.in[bit >> 3] >> (bit & 7)) & 1) << i;
    }
    r.position += count;
    value = result;
    return true;
}

// Parses a pre-order tree. Refuses a 256th internal node: a complete tree with that many has
// more than 256 leaves, so the stack of open internal nodes stays within 255.
bool huffmanReadTree(HuffmanBitReader& r, HuffmanTree& tree) {
    uint16_t open[HUFFMAN_MAX_INTERNAL_NODES];  // internal nodes still missing a child
    uint32_t depth = 0;
    uint32_t internalNodes = 0;
    tree.nodeCount = 0;
    bool ok = true;
    do {
        uint32_t isLeaf = 0;
        if (!huffmanGetBits(r, 1, isLeaf)) {
            ok = false;
            break;
        }
        uint16_t node;
        if (isLeaf != 0) {
            uint32_t value = 0;
            if (!huffmanGetBits(r, 8, value)) {
                ok = false;
                break;
            }
            node = huffmanNewNode(tree, 0, HUFFMAN_NO_NODE, HUFFMAN_NO_NODE, static_cast<uint8_t>(value), true);
        } else {
            if (internalNodes == HUFFMAN_MAX_INTERNAL_NODES) {
                ok = false;
                break;
            }
            ++internalNodes;
            node = huffmanNewNode(tree, 0, HUFFMAN_NO_NODE, HUFFMAN_NO_NODE, 0, false);
        }
        if (tree.nodeCount == 1) {
            tree.root = node;
        } else {
            HuffmanNode& parent = tree.nodes[open[depth - 1]];
            if (parent.child[0] == HUFFMAN_NO_NODE) {
                parent.child[0] = node;
            } else {
                parent.child[1] = node;
                --depth;
            }
        }
        if (isLeaf == 0) open[depth++] = node;
    } while (depth > 0);
    secureWipe(open, sizeof open);
    return ok;
}

// --- Table decoding ---

// The decoding table is indexed by the next HUFFMAN_TABLE_BITS bits of the stream, the first in
// bit 0. An entry is either a leaf reached within those bits (its value and code length) or the
// internal node reached after all of them, from which the walk goes on bit by bit.
constexpr uint32_t HUFFMAN_TABLE_BITS = 11;
constexpr uint32_t HUFFMAN_TABLE_ENTRIES = 1u << HUFFMAN_TABLE_BITS;
constexpr uint32_t HUFFMAN_TABLE_LEAF = 0x8000;  // in the entry's node field
// Below this many output bytes the table costs more to build than it saves.
constexpr uint32_t HUFFMAN_TABLE_MIN_BYTES = 4096;
// Bits of a 64-bit window that are valid after shifting out up to 7 bits of its first byte.
constexpr uint32_t HUFFMAN_WINDOW_BITS = 57;

struct HuffmanTableEntry {
    uint16_t node;    // the node reached, or HUFFMAN_TABLE_LEAF | value
    uint16_t length;  // bits consumed
};

// Fills the table from the tree, which is not a single leaf.
void huffmanBuildTable(const HuffmanTree& tree, HuffmanTableEntry* table) {
    struct Pending {
        uint16_t node;
        uint16_t depth;
        uint32_t path;  // step k in bit k
    };
    // Depth-first; at most one pending right subtree per level, and the walk stops at the
    // table's depth, so the stack never holds more than that many plus one.
    Pending stack[HUFFMAN_TABLE_BITS + 1];
    ScopeExit wipeStack([&] { secureWipe(stack, sizeof stack); });
    uint32_t depth = 0;
    stack[depth++] = Pending{tree.root, 0, 0};
    while (depth > 0) {
        const Pending item = stack[--depth];
        const HuffmanNode& node = tree.nodes[item.node];
        if (node.leaf || item.depth == HUFFMAN_TABLE_BITS) {
            const HuffmanTableEntry entry = {
                static_cast<uint16_t>(node.leaf ? (HUFFMAN_TABLE_LEAF | node.value) : item.node), item.depth};
            // Every index whose low depth bits are the path.
            for (uint32_t index = item.path; index < HUFFMAN_TABLE_ENTRIES; index += 1u << item.depth) {
                table[index] = entry;
            }
            continue;
        }
        const uint16_t next = static_cast<uint16_t>(item.depth + 1);
        stack[depth++] = Pending{node.child[1], next, item.path | (1u << item.depth)};
        stack[depth++] = Pending{node.child[0], next, item.path};
    }
}

// Walks from node reading bits at bit onwards until a leaf; false when a bit at or beyond
// endBit would be needed.
bool huffmanWalk(const uint8_t* in, uint64_t& bit, uint64_t endBit, const HuffmanNode* nodes, const HuffmanNode* node,
                 uint8_t& value) {
    while (!node->leaf) {
        if (bit == endBit) return false;
        const uint32_t step = (in[bit >> 3] >> (bit & 7)) & 1;
        node = &nodes[node->child[step]];
        ++bit;
    }
    value = node->value;
    return true;
}

// Decodes n bytes of a tree with several leaves from bit on; false when the bits run out.
bool huffmanDecodeBytes(const uint8_t* in, uint32_t size, uint64_t bit, const HuffmanTree& tree, uint32_t n,
                        uint8_t* out) {
    const HuffmanNode* nodes = tree.nodes;
    const HuffmanNode* root = &nodes[tree.root];
    const uint64_t endBit = 8 * static_cast<uint64_t>(size);
    uint32_t i = 0;
    if (n >= HUFFMAN_TABLE_MIN_BYTES) {
        HuffmanTableEntry table[HUFFMAN_TABLE_ENTRIES];
        ScopeExit wipeTable([&] { secureWipe(table, sizeof table); });
        huffmanBuildTable(tree, table);
        // While eight bytes can be loaded at the position, every bit a table lookup consumes is
        // inside the stream.
        while (i < n && (bit >> 3) + 8 <= size) {
            const uint8_t* at = in + (bit >> 3);
            uint64_t window =
                (static_cast<uint64_t>(load32Le(at)) | (static_cast<uint64_t>(load32Le(at + 4)) << 32)) >> (bit & 7);
            uint32_t available = HUFFMAN_WINDOW_BITS;
            while (available >= HUFFMAN_TABLE_BITS && i < n) {
                const HuffmanTableEntry entry = table[window & (HUFFMAN_TABLE_ENTRIES - 1)];
                if ((entry.node & HUFFMAN_TABLE_LEAF) == 0) {
                    bit += entry.length;
                    if (!huffmanWalk(in, bit, endBit, nodes, &nodes[entry.node], out[i])) {
                        return false;
                    }
                    ++i;
                    break;  // the window no longer matches the position
                }
                out[i++] = static_cast<uint8_t>(entry.node);
                window >>= entry.length;
                available -= entry.length;
                bit += entry.length;
            }
        }
    }
    for (; i < n; ++i) {
        if (!huffmanWalk(in, bit, endBit, nodes, root, out[i])) return false;
    }
    return true;
}

// Chooses the tree and codes for counts that sum to n >= 1, as the encoder writes them, and the
// stream's length in bits; false where the encoder fails. tree and codes hold data-derived
// values for the caller to wipe.
bool huffmanPlan(const uint32_t (&counts)[256], uint32_t n, HuffmanTree& tree, HuffmanCode (&codes)[256],
                 uint64_t& totalBits) {
    // The tree of the list rule is kept wherever it already gives the shortest stream in whole
    // bytes, so those streams stay the reference encoder's bytes; otherwise a Huffman tree of the
    // same number of leaves, hence the same tree bits, codes the data in fewer bytes.
    const uint32_t sizeClass = huffmanSizeClass(n);
    huffmanBuildTree(counts, tree);
    const uint64_t fixedBits = huffmanHeaderBits(sizeClass) + huffmanTreeBits(tree);
    const bool listCodes = huffmanBuildCodes(tree, codes);
    uint64_t dataBits = 0;
    for (uint32_t value = 0; value < 256; ++value) {
        dataBits += static_cast<uint64_t>(counts[value]) * codes[value].length;
    }
    if (tree.nodeCount > 1) {
        uint32_t lengths[256];
        ScopeExit wipeLengths([&] { secureWipe(lengths, sizeof lengths); });
        huffmanOptimalLengths(counts, lengths);
        uint64_t optimalBits = 0;
        uint32_t deepest = 0;
        for (uint32_t value = 0; value < 256; ++value) {
            optimalBits += static_cast<uint64_t>(counts[value]) * lengths[value];
            deepest = lengths[value] > deepest ? lengths[value] : deepest;
        }
        const bool shorter = (fixedBits + optimalBits + 7) / 8 < (fixedBits + dataBits + 7) / 8;
        if (deepest <= HUFFMAN_MAX_CODE_BITS && (!listCodes || shorter)) {
            huffmanTreeFromLengths(lengths, tree);
            if (!huffmanBuildCodes(tree, codes)) return false;  // no path exceeds its length
            dataBits = optimalBits;
        } else if (!listCodes) {
            return false;
        }
    } else if (!listCodes) {
        return false;
    }
    totalBits = fixedBits + dataBits;
    const uint64_t capacityBytes = n + n / HUFFMAN_CAPACITY_DIVISOR + HUFFMAN_CAPACITY_EXTRA_BYTES;
    return totalBits <= 8 * capacityBytes;
}

}  // namespace

bool huffmanEncode(SecureBuffer& buffer) {
    const uint32_t n = buffer.size();
    if (n == 0) return true;
    const uint8_t* in = buffer.data();

    uint32_t counts[256] = {};
    HuffmanTree tree;
    HuffmanCode codes[256] = {};
    ScopeExit wipeTables([&] {
        secureWipe(counts, sizeof counts);
        secureWipe(&tree, sizeof tree);
        secureWipe(codes, sizeof codes);
    });
    for (uint32_t i = 0; i < n; ++i) ++counts[in[i]];
    uint64_t totalBits = 0;
    if (!huffmanPlan(counts, n, tree, codes, totalBits)) return false;
    const uint64_t streamBytes = (totalBits + 7) / 8;
    if (streamBytes > UINT32_MAX) throw 0;

    // The writer fills every byte: streamBytes is the written bits rounded up to a byte.
    SecureBuffer out = SecureBuffer::forOverwrite(static_cast<uint32_t>(streamBytes));
    HuffmanBitWriter writer = {out.data(), 0, 0, 0};
    const uint32_t sizeClass = huffmanSizeClass(n);
    huffmanPutBits(writer, sizeClass, HUFFMAN_CLASS_BITS);
    huffmanPutBits(writer, n, 8 * (sizeClass + 1));
    huffmanPutTree(writer, tree);
    huffmanPutCodes(writer, in, n, codes);
    if (writer.pending > 0) out.data()[writer.position] = static_cast<uint8_t>(writer.accumulator);
    secureWipe(&writer, sizeof writer);
    buffer = std::move(out);
    return true;
}

uint64_t huffmanEncodedBytes(const uint32_t (&counts)[256]) {
    uint64_t n = 0;
    for (uint32_t value = 0; value < 256; ++value) n += counts[value];
    if (n == 0) return 0;
    if (n > UINT32_MAX) return 0;
    HuffmanTree tree;
    HuffmanCode codes[256] = {};
    ScopeExit wipeTables([&] {
        secureWipe(&tree, sizeof tree);
        secureWipe(codes, sizeof codes);
    });
    uint64_t totalBits = 0;
    if (!huffmanPlan(counts, static_cast<uint32_t>(n), tree, codes, totalBits)) return 0;
    return (totalBits + 7) / 8;
}

bool huffmanDecode(SecureBuffer& buffer, uint32_t maxOutputBytes) {
    if (buffer.empty()) return true;
    SecureBuffer out;
    uint32_t n = 0;
    // out was empty: it is allocated exactly n bytes, and dropped (wiped) on failure.
    if (!huffmanDecodeInto(buffer.data(), buffer.size(), maxOutputBytes, out, n)) return false;
    buffer = std::move(out);
    return true;
}

bool huffmanDecodeInto(const uint8_t* in, uint32_t size, uint32_t maxOutputBytes, SecureBuffer& out,
                       uint32_t& outBytes) {
    if (size == 0) {
        outBytes = 0;
        return true;
    }
    const uint32_t sizeClass = in[0] & 3;
    if (size < sizeClass + 2) return false;

    HuffmanBitReader reader = {in, 8 * static_cast<uint64_t>(size), HUFFMAN_CLASS_BITS};
    uint32_t n = 0;
    if (!huffmanGetBits(reader, 8 * (sizeClass + 1), n)) return false;
    // The tree follows the header the encoder writes for this n, which need not be the header
    // that K describes.
    reader.position = huffmanHeaderBits(huffmanSizeClass(n));

    HuffmanTree tree;
    ScopeExit wipeTree([&] { secureWipe(&tree, sizeof tree); });
    if (!huffmanReadTree(reader, tree)) return false;
    if (n > maxOutputBytes) return false;
    const HuffmanNode& root = tree.nodes[tree.root];
    // Every code of a tree with several leaves is at least one bit long.
    if (!root.leaf && n > reader.endBit - reader.position) return false;

    if (out.size() < n) out.allocate(n);
    if (root.leaf) {
        if (n != 0) std::memset(out.data(), root.value, n);
    } else if (!huffmanDecodeBytes(in, size, reader.position, tree, n, out.data())) {
        return false;
    }
    outBytes = n;
    return true;
}
