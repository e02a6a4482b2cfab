// Suffix sorting for the block sort: the suffix array of a byte string by induced sorting (SA-IS),
// in time linear in the length whatever the content. Owns no stream format.
#pragma once

#include <cstdint>

// Longest text suffixSort accepts; its positions then leave the top bit of a word free.
constexpr uint32_t SUFFIX_SORT_MAX_BYTES = 1u << 30;

// Writes to order[0..length) the start positions of the suffixes of text[0..length) in ascending
// order, a suffix that is a prefix of another coming first. When lastColumn is not null it
// receives, for each i, the byte before the suffix at order[i], cyclically (text[length - 1]
// for the suffix at 0): the last column of the rotations when text is a Lyndon word.
// Pre:  1 <= length <= SUFFIX_SORT_MAX_BYTES, or nothing is written; text, order and
//       lastColumn hold length entries each and do not overlap.
// Post: order is a permutation of 0..length-1.
// Throws 0 when memory runs out. Working memory besides order is about length / 16 bytes, plus
// at most about length / 2 words when the recursion's symbol tables do not fit the free part of
// order, all wiped before release.
void suffixSort(const uint8_t* text, uint32_t length, uint32_t* order, uint8_t* lastColumn);
