// The encoding of every file the system writes: little-endian integers and fields made of a
// 32-bit length and that many bytes. Reading never fails for lack of input: missing integers
// read as 0 and missing fields as empty or short buffers; the formats decide what that means.
#pragma once

#include <cstdint>

#include "base/secure_buffer.h"

// Appends the two bytes of v, least significant first.
void appendU16(SecureBuffer& out, uint16_t v);

// Appends the four bytes of v, least significant first.
void appendU32(SecureBuffer& out, uint32_t v);

// Appends the byte count of bytes as appendU32, then the bytes.
void appendField(SecureBuffer& out, const SecureBuffer& bytes);

// The whole input and a read position. A position past the end is allowed; it reads nothing.
struct ByteReader {
    SecureBuffer input;
    uint32_t position = 0;
};

// The next 2 or 4 bytes as a little-endian value, or 0 when fewer remain. The position advances
// by 2 or 4 either way, unless that would overflow 32 bits; then it stays.
uint16_t readU16(ByteReader& reader);
uint32_t readU32(ByteReader& reader);

// Reads a field as the container reader does: the length L (0 when fewer than 4 bytes remain),
// then at most L bytes, as many as remain. The position moves past the length and past the bytes
// actually taken.
SecureBuffer readField(ByteReader& reader);

// Reads a field as the key-file and seed-file readers do. It differs from readField only when the
// field is cut short: the position moves by the declared length rather than by the bytes taken,
// and when no byte at all could be taken the position goes back to where the length began and
// the result is empty.
SecureBuffer readFieldDeclared(ByteReader& reader);

// Moves past a field: 4 + L bytes, L read as readU32 would (0 when fewer than 4 bytes remain).
void skipField(ByteReader& reader);
