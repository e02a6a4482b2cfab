// Text buffers: a SecureBuffer holding 8-bit ANSI text whose last byte is the terminating NUL,
// counted in its size. An empty SecureBuffer also counts as the empty text. Bytes are never
// interpreted beyond their value, so the Windows-1252 letters å, ä, ö pass through unchanged.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

// The characters of s and its NUL, unchanged. A null pointer gives an empty buffer.
SecureBuffer fromNulTerminated(const char* s);

// As fromNulTerminated, then sanitizeText.
SecureBuffer textFromChars(const char* s);

// A sanitised copy of any buffer; an empty buffer gives the one-byte empty text.
SecureBuffer toText(const SecureBuffer& buffer);

// Wipes text and makes it the one-byte empty text.
void emptyText(SecureBuffer& text);

// The characters of text, or null when text is empty or does not end in NUL. Every text handed
// to the platform goes through this check.
const char* textPointer(const SecureBuffer& text);

// size - 1 when size > 1, otherwise 0.
uint32_t textLength(const SecureBuffer& text);

// a without its last byte, followed by all of b including its NUL.
SecureBuffer concat(const SecureBuffer& a, const SecureBuffer& b);

// Makes text a proper text in place: an empty buffer becomes the empty text, a missing final NUL
// is appended, and every byte before the final NUL below 32 or equal to 127 becomes a space.
void sanitizeText(SecureBuffer& text);

// Removes leading spaces, but never the last character, so a text of spaces keeps one space.
void trimLeft(SecureBuffer& text);

// Removes trailing spaces; a text of spaces only becomes the empty text.
void trimRight(SecureBuffer& text);

// Removes the last count characters; count >= textLength gives the empty text.
void dropLast(SecureBuffer& text, uint32_t count);

// n in decimal digits, most significant first, plus NUL.
SecureBuffer decimalText(uint32_t n);

// The one-character text of c.
SecureBuffer charText(char c);

// The bytes up to (not including) the first byte below 32, sanitised to a text.
SecureBuffer firstLine(const SecureBuffer& buffer);

// Two characters from "0123456789ABCDEF" per byte, high nibble first; exactly twice the input
// size, with no NUL.
SecureBuffer hexUpper(const SecureBuffer& bytes);
