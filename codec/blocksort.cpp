// Block-sorting stage. The rotations of a block are sorted as the suffixes of its least rotation:
// when a block is not periodic, that rotation is a Lyndon word, and for a Lyndon word the order
// of the suffixes is the order of the rotations. A periodic block is sorted through one period.
//
// A block that is not periodic has a single sorted order of its rotations, so this gives the same
// last column and primary index as any other correct sort, the budgeted merge sort that earlier
// writers of the format used among them. A periodic block has groups of equal rotations; the
// last column is the same whatever their order, and only the primary index, which row of its
// group rotation 0 takes, may differ from such a writer. Every row of the group decodes to the
// same block.

#include "codec/blocksort.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "codec/suffix_sort.h"
#include "codec/word_array.h"

namespace {

constexpr uint32_t BLOCK_SORT_HEADER_BYTES = 2;
constexpr uint32_t BLOCK_SORT_INDEX_BYTES = 3;
constexpr uint32_t BLOCK_SORT_COPIED_MAX_BYTES = 3;  // shorter blocks are not transformed

// The stream's 24-bit little-endian primary indexes; byte_order.h has no 24-bit helper.
uint32_t blockSortLoadIndex(const uint8_t* field) {
    return static_cast<uint32_t>(field[0]) | (static_cast<uint32_t>(field[1]) << 8) |
           (static_cast<uint32_t>(field[2]) << 16);
}

void blockSortStoreIndex(uint8_t* field, uint32_t primaryIndex) {
    field[0] = static_cast<uint8_t>(primaryIndex);
    field[1] = static_cast<uint8_t>(primaryIndex >> 8);
    field[2] = static_cast<uint8_t>(primaryIndex >> 16);
}

uint32_t blockSortGcd(uint32_t a, uint32_t b) {
    while (b != 0) {
        const uint32_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}

// Start of the least rotation of block[0..length), by two candidates i and j that skip every
// start shown to be greater than the other's. Linear in the length. When the block is periodic
// two candidates compare equal over a whole length; distance then receives how far apart they
// are (a multiple of the period), otherwise 0.
uint32_t blockSortLeastRotation(const uint8_t* block, uint32_t length, uint32_t& distance) {
    uint32_t i = 0;
    uint32_t j = 1;
    uint32_t k = 0;  // rotations i and j agree in their first k bytes
    while (i < length && j < length && k < length) {
        uint32_t a = i + k;
        if (a >= length) a -= length;
        uint32_t b = j + k;
        if (b >= length) b -= length;
        const uint8_t x = block[a];
        const uint8_t y = block[b];
        if (x == y) {
            ++k;
            continue;
        }
        if (x > y) {
            i += k + 1;
        } else {
            j += k + 1;
        }
        if (i == j) ++j;
        k = 0;
    }
    distance = k >= length ? (i > j ? i - j : j - i) : 0;
    return i < j ? i : j;
}

// Writes the last column of block[0..length) (length >= 1) to out and returns the row of
// rotation 0, the first of its group in a periodic block. order holds length words. The block is
// turned to its least rotation in place for the sort, and back again, also when the sort throws.
uint32_t blockSortRotations(uint8_t* block, uint32_t length, uint32_t* order, uint8_t* out) {
    uint32_t distance = 0;
    const uint32_t least = blockSortLeastRotation(block, length, distance);
    if (distance != 0) {
        // The block is copies of its first `period` bytes (that period may repeat in turn):
        // each row of the period's sort stands for `copies` equal rows.
        const uint32_t period = blockSortGcd(distance, length);
        const uint32_t copies = length / period;
        const uint32_t periodRow = blockSortRotations(block, period, order, out);
        for (uint32_t row = period; row-- > 0;) std::memset(out + row * copies, out[row], copies);
        return periodRow * copies;
    }
    std::rotate(block, block + least, block + length);
    try {
        suffixSort(block, length, order, out);
    } catch (...) {
        std::rotate(block, block + (length - least), block + length);
        throw;
    }
    std::rotate(block, block + (length - least), block + length);
    // Rotation 0 of the block is rotation (length - least) mod length of the least rotation.
    const uint32_t zeroStart = least == 0 ? 0 : length - least;
    uint32_t primaryIndex = 0;
    while (order[primaryIndex] != zeroStart) ++primaryIndex;
    return primaryIndex;
}

// --- Inverse ---

// links[i] of a block being restored: the row that precedes row i (rank of L[i] among equal
// bytes plus the number of smaller bytes) in the low bits, L[i] itself in the top byte, and
// BLOCK_SORT_START_MARK on the rows where a walk starts.
constexpr uint32_t BLOCK_SORT_ROW_MASK = (1u << 21) - 1;
constexpr uint32_t BLOCK_SORT_START_MARK = 1u << 23;
static_assert(BLOCK_SORT_SIZE <= BLOCK_SORT_ROW_MASK + 1, "a row number must fit below the mark");

// Blocks up to this length are restored by one walk; their links fit the processor's caches.
constexpr uint32_t BLOCK_SORT_ONE_WALK_MAX_BYTES = 65536;
// Longer blocks are walked from this many rows at once, so that the walks' memory accesses,
// each a cache miss, overlap.
constexpr uint32_t BLOCK_SORT_WALKS = 64;
// Each walk writes into pieces of this size, taken from a shared pool as it needs them.
constexpr uint32_t BLOCK_SORT_PIECE_BYTES = 4096;
constexpr uint32_t BLOCK_SORT_NO_PIECE = UINT32_MAX;

// Fills links for the last column; counts is a scratch table, left holding plaintext-derived
// counts for the caller to wipe.
void blockSortBuildLinks(const uint8_t* lastColumn, uint32_t length, uint32_t* links, uint32_t (&counts)[256]) {
    for (uint32_t c = 0; c < 256; ++c) counts[c] = 0;
    for (uint32_t i = 0; i < length; ++i) ++counts[lastColumn[i]];
    // counts[c] becomes the first row whose rotation starts with c.
    uint32_t total = 0;
    for (uint32_t c = 0; c < 256; ++c) {
        const uint32_t count = counts[c];
        counts[c] = total;
        total += count;
    }
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t value = lastColumn[i];
        links[i] = counts[value]++ | (value << 24);
    }
}

// The walk from the primary index: the block's bytes from the last to the first.
void blockSortWalkOnce(const uint32_t* links, uint32_t length, uint32_t primaryIndex, uint8_t* out) {
    uint32_t row = primaryIndex;
    for (uint32_t t = 0; t < length; ++t) {
        const uint32_t link = links[row];
        out[length - 1 - t] = static_cast<uint8_t>(link >> 24);
        row = link & BLOCK_SORT_ROW_MASK;
    }
    secureWipe(&row, sizeof row);
}

// One of several walks: from its start row up to, not including, the next start row on its
// cycle. Its bytes come last to first; they gather in a cache line of the walk's own (writing
// single bytes straight to scattered places stalls the processor on every line it has not yet
// fetched) and go, a line at a time, backwards into pieces of the pool. piece is the walk's
// current piece, previousPiece in the pool links it to the walk's earlier one.
struct BlockSortWalk {
    uint32_t startRow;
    uint32_t endRow;
    uint32_t bytes;
    uint32_t piece;
    uint8_t* pieceBegin;
    uint8_t* cursor;  // the piece's bytes so far start here
};

constexpr uint32_t BLOCK_SORT_LINE_BYTES = 64;

// Pieces are numbered through two areas: the block's own last column, free once the links are
// built, then a spare area of BLOCK_SORT_WALKS + 1 pieces, since each walk may leave one piece
// partly empty.
struct BlockSortPiecePool {
    uint8_t* region;
    uint32_t regionPieces;
    uint8_t* spare;
    uint32_t* previousPiece;
    uint32_t nextFree;
};

uint8_t* blockSortPieceBegin(const BlockSortPiecePool& pool, uint32_t piece) {
    return piece < pool.regionPieces
               ? pool.region + static_cast<size_t>(piece) * BLOCK_SORT_PIECE_BYTES
               : pool.spare + static_cast<size_t>(piece - pool.regionPieces) * BLOCK_SORT_PIECE_BYTES;
}

void blockSortTakePiece(BlockSortPiecePool& pool, BlockSortWalk& walk) {
    const uint32_t piece = pool.nextFree++;
    pool.previousPiece[piece] = walk.piece;
    walk.piece = piece;
    walk.pieceBegin = blockSortPieceBegin(pool, piece);
    walk.cursor = walk.pieceBegin + BLOCK_SORT_PIECE_BYTES;
}

// Puts count <= BLOCK_SORT_LINE_BYTES bytes in front of the walk's bytes so far. Only the
// walk's very first bytes come in a short line, so every piece but the last stays full.
void blockSortPutLine(BlockSortPiecePool& pool, BlockSortWalk& walk, const uint8_t* bytes, uint32_t count) {
    if (walk.piece == BLOCK_SORT_NO_PIECE || static_cast<uint32_t>(walk.cursor - walk.pieceBegin) < count) {
        blockSortTakePiece(pool, walk);
    }
    walk.cursor -= count;
    std::memcpy(walk.cursor, bytes, count);
}

// Copies a finished walk's bytes, first to last, to out.
void blockSortCopyWalk(const BlockSortPiecePool& pool, const BlockSortWalk& walk, uint8_t* out) {
    const uint8_t* pieceEnd = walk.pieceBegin + BLOCK_SORT_PIECE_BYTES;
    const uint32_t partial = static_cast<uint32_t>(pieceEnd - walk.cursor);
    std::memcpy(out, walk.cursor, partial);
    out += partial;
    for (uint32_t piece = pool.previousPiece[walk.piece]; piece != BLOCK_SORT_NO_PIECE;
         piece = pool.previousPiece[piece]) {
        std::memcpy(out, blockSortPieceBegin(pool, piece), BLOCK_SORT_PIECE_BYTES);
        out += BLOCK_SORT_PIECE_BYTES;
    }
}

// The state of the walks that the stepping loop touches, kept apart from the rest.
struct BlockSortWalkers {
    uint32_t row[BLOCK_SORT_WALKS];        // next row to visit
    uint32_t lineStart[BLOCK_SORT_WALKS];  // the line's bytes so far start here
    uint32_t active[BLOCK_SORT_WALKS];     // walks still going, in no order
    alignas(BLOCK_SORT_LINE_BYTES) uint8_t line[BLOCK_SORT_WALKS][BLOCK_SORT_LINE_BYTES];
};

// Restores a block of more than BLOCK_SORT_ONE_WALK_MAX_BYTES with the same result as
// blockSortWalkOnce. Walks start at the primary index and at rows spread over the block; the
// walk from the primary index ends where another begins, that one ends where a third begins,
// and so on around the primary index's cycle of rows. When that cycle is shorter than the block
// (a periodic block, or a last column no encoder made) the single walk would go round it again,
// and the bytes are repeated to match. lastColumn is overwritten.
void blockSortWalkMany(uint32_t* links, uint32_t length, uint32_t primaryIndex, uint8_t* lastColumn, uint8_t* spare,
                       uint32_t* previousPiece, uint8_t* out) {
    BlockSortWalk walks[BLOCK_SORT_WALKS];
    BlockSortWalkers w;
    ScopeExit wipeWalks([&] {
        secureWipe(walks, sizeof walks);
        secureWipe(&w, sizeof w);
    });
    BlockSortPiecePool pool = {lastColumn, length / BLOCK_SORT_PIECE_BYTES, spare, previousPiece, 0};

    // Walk 0 starts at the primary index; the others at rows a 64th of the block apart, which
    // are distinct because the block is longer than 64 rows.
    uint32_t walkCount = 0;
    for (uint32_t k = 0; k < BLOCK_SORT_WALKS; ++k) {
        const uint32_t start =
            k == 0 ? primaryIndex : static_cast<uint32_t>(static_cast<uint64_t>(length) * k / BLOCK_SORT_WALKS);
        if (k != 0 && start == primaryIndex) continue;
        walks[walkCount] = BlockSortWalk{start, 0, 0, BLOCK_SORT_NO_PIECE, nullptr, nullptr};
        links[start] |= BLOCK_SORT_START_MARK;
        ++walkCount;
    }
    // Each walk takes its start row's byte, then goes on until it meets a marked row.
    for (uint32_t k = 0; k < walkCount; ++k) {
        const uint32_t link = links[walks[k].startRow];
        w.line[k][BLOCK_SORT_LINE_BYTES - 1] = static_cast<uint8_t>(link >> 24);
        w.lineStart[k] = BLOCK_SORT_LINE_BYTES - 1;
        w.row[k] = link & BLOCK_SORT_ROW_MASK;
        w.active[k] = k;
    }
    uint32_t activeCount = walkCount;
    while (activeCount > 0) {
        for (uint32_t a = 0; a < activeCount;) {
            const uint32_t k = w.active[a];
            const uint32_t link = links[w.row[k]];
            if ((link & BLOCK_SORT_START_MARK) != 0) {
                BlockSortWalk& walk = walks[k];
                walk.endRow = w.row[k];
                const uint32_t start = w.lineStart[k];
                blockSortPutLine(pool, walk, w.line[k] + start, BLOCK_SORT_LINE_BYTES - start);
                w.active[a] = w.active[--activeCount];
                continue;
            }
            const uint32_t position = --w.lineStart[k];
            w.line[k][position] = static_cast<uint8_t>(link >> 24);
            w.row[k] = link & BLOCK_SORT_ROW_MASK;
            // Fetched while the other walks take their steps, so that many fetches are in
            // flight at once.
            __builtin_prefetch(links + w.row[k]);
            if (position == 0) {
                blockSortPutLine(pool, walks[k], w.line[k], BLOCK_SORT_LINE_BYTES);
                w.lineStart[k] = BLOCK_SORT_LINE_BYTES;
            }
            ++a;
        }
    }

    // Chain the walks from the primary index's, placing each before the one it came from.
    uint32_t position = length;
    uint32_t k = 0;
    do {
        BlockSortWalk& walk = walks[k];
        // Every piece but the walk's last is full.
        walk.bytes = static_cast<uint32_t>(walk.pieceBegin + BLOCK_SORT_PIECE_BYTES - walk.cursor);
        for (uint32_t piece = pool.previousPiece[walk.piece]; piece != BLOCK_SORT_NO_PIECE;
             piece = pool.previousPiece[piece]) {
            walk.bytes += BLOCK_SORT_PIECE_BYTES;
        }
        position -= walk.bytes;  // the walks of one cycle add up to at most the block
        blockSortCopyWalk(pool, walk, out + position);
        uint32_t next = 0;
        while (walks[next].startRow != walk.endRow) ++next;  // endRow is some walk's start
        k = next;
    } while (k != 0);
    const uint32_t cycle = length - position;
    for (uint32_t i = position; i-- > 0;) out[i] = out[i + cycle];
}

uint32_t blockSortBlockLength(uint32_t totalBytes, uint32_t block) {
    const uint32_t start = block * BLOCK_SORT_SIZE;
    const uint32_t rest = totalBytes - start;
    return rest < BLOCK_SORT_SIZE ? rest : BLOCK_SORT_SIZE;
}

}  // namespace

bool blockSortEncode(SecureBuffer& block, SecureBuffer& stream) {
    stream.wipe();
    const uint32_t size = block.size();
    if (size == 0) return false;
    const uint32_t blocks = (size - 1) / BLOCK_SORT_SIZE + 1;  // at most 2048 for 32-bit sizes
    const uint64_t encodedBytes = blockSortEncodedBytes(size);
    if (encodedBytes > UINT32_MAX) throw 0;

    // The header and every block are written below; the suffix sort sets its order words first.
    SecureBuffer out = SecureBuffer::forOverwrite(static_cast<uint32_t>(encodedBytes));
    const uint32_t largest = blockSortBlockLength(size, 0);
    CodecWordArray order(largest, CodecWordsForOverwrite{});

    uint8_t* in = block.data();
    uint8_t* header = out.data();
    header[0] = static_cast<uint8_t>(blocks);  // 16-bit little-endian block count
    header[1] = static_cast<uint8_t>(blocks >> 8);
    uint8_t* payload = header + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * blocks;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t start = k * BLOCK_SORT_SIZE;
        const uint32_t length = blockSortBlockLength(size, k);
        uint32_t primaryIndex = 0;
        if (length <= BLOCK_SORT_COPIED_MAX_BYTES) {
            std::memcpy(payload + start, in + start, length);
        } else {
            primaryIndex = blockSortRotations(in + start, length, order.data(), payload + start);
        }
        blockSortStoreIndex(header + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * k, primaryIndex);
    }
    stream = std::move(out);
    return true;
}

bool blockSortEncode(SecureBuffer& buffer) {
    SecureBuffer stream;
    if (!blockSortEncode(buffer, stream)) return false;
    buffer = std::move(stream);
    return true;
}

bool blockSortDecode(SecureBuffer& buffer) {
    SecureBuffer out;
    uint32_t outBytes = 0;
    BlockSortDecodeScratch scratch;
    // out was empty: it is allocated exactly outBytes.
    if (!blockSortDecodeInto(buffer.data(), buffer.size(), out, outBytes, scratch)) return false;
    buffer = std::move(out);
    return true;
}

bool blockSortDecodeInto(uint8_t* in, uint32_t size, SecureBuffer& out, uint32_t& outBytes,
                         BlockSortDecodeScratch& scratch) {
    if (size < BLOCK_SORT_HEADER_BYTES) return false;
    const uint32_t blocks = load16Le(in);
    if (blocks == 0) return false;
    const uint32_t tableBytes = BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * blocks;
    if (size < tableBytes) return false;
    const uint32_t payloadBytes = size - tableBytes;
    // Every block but the last is full; the last holds 1 to BLOCK_SORT_SIZE bytes.
    const uint64_t fullBytes = static_cast<uint64_t>(blocks - 1) * BLOCK_SORT_SIZE;
    if (payloadBytes <= fullBytes || payloadBytes - fullBytes > BLOCK_SORT_SIZE) return false;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t primaryIndex = blockSortLoadIndex(in + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * k);
        if (primaryIndex >= blockSortBlockLength(payloadBytes, k)) return false;
    }

    // Every block is written below; the links of a block are built before they are followed.
    if (out.size() < payloadBytes) out.allocate(payloadBytes);
    const uint32_t largest = blockSortBlockLength(payloadBytes, 0);
    // The walks of a long block write into its own last column once the links hold it, and
    // into the spare area; previousPiece links their pieces.
    const bool manyWalks = largest > BLOCK_SORT_ONE_WALK_MAX_BYTES;
    const uint32_t pieceWords = manyWalks ? largest / BLOCK_SORT_PIECE_BYTES + BLOCK_SORT_WALKS + 1 : 0;
    const uint32_t spareBytes = manyWalks ? (BLOCK_SORT_WALKS + 1) * BLOCK_SORT_PIECE_BYTES : 0;
    uint32_t* links = codecWordsIn(scratch.words, largest + pieceWords);
    uint32_t* previousPiece = links + largest;
    if (scratch.spare.size() < spareBytes) scratch.spare.allocate(spareBytes);
    std::memset(previousPiece, 0, pieceWords * sizeof(uint32_t));
    if (spareBytes != 0) std::memset(scratch.spare.data(), 0, spareBytes);
    uint32_t counts[256];
    ScopeExit wipeWork([&] {
        secureWipe(counts, sizeof counts);
        secureWipe(links, (static_cast<size_t>(largest) + pieceWords) * sizeof(uint32_t));
        if (spareBytes != 0) secureWipe(scratch.spare.data(), spareBytes);
    });
    uint8_t* payload = in + tableBytes;
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t primaryIndex = blockSortLoadIndex(in + BLOCK_SORT_HEADER_BYTES + BLOCK_SORT_INDEX_BYTES * k);
        const uint32_t start = k * BLOCK_SORT_SIZE;
        const uint32_t length = blockSortBlockLength(payloadBytes, k);
        if (length <= BLOCK_SORT_COPIED_MAX_BYTES) {
            std::memcpy(out.data() + start, payload + start, length);
            continue;
        }
        blockSortBuildLinks(payload + start, length, links, counts);
        if (length <= BLOCK_SORT_ONE_WALK_MAX_BYTES) {
            blockSortWalkOnce(links, length, primaryIndex, out.data() + start);
        } else {
            blockSortWalkMany(links, length, primaryIndex, payload + start, scratch.spare.data(), previousPiece,
                              out.data() + start);
        }
    }
    outBytes = payloadBytes;
    return true;
}
