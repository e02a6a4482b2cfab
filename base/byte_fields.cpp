// Little-endian integers and length-prefixed fields. Position arithmetic is done in 64 bits and
// an advance that would pass 32 bits leaves the position unchanged.

#include "base/byte_fields.h"

#include <limits>

#include "base/byte_order.h"

namespace {

void advance(ByteReader& reader, uint64_t count) {
    uint64_t next = static_cast<uint64_t>(reader.position) + count;
    if (next <= std::numeric_limits<uint32_t>::max()) reader.position = static_cast<uint32_t>(next);
}

uint32_t remaining(const ByteReader& reader) {
    uint32_t size = reader.input.size();
    return reader.position < size ? size - reader.position : 0;
}

}  // namespace

void appendU16(SecureBuffer& out, uint16_t v) {
    uint8_t bytes[2];
    store16Le(bytes, v);
    out.append(bytes, 2);
}

void appendU32(SecureBuffer& out, uint32_t v) {
    uint8_t bytes[4];
    store32Le(bytes, v);
    out.append(bytes, 4);
    secureWipe(bytes, sizeof bytes);
}

void appendField(SecureBuffer& out, const SecureBuffer& bytes) {
    appendU32(out, bytes.size());
    out.append(bytes);
}

uint16_t readU16(ByteReader& reader) {
    uint16_t value = remaining(reader) >= 2 ? load16Le(reader.input.data() + reader.position) : 0;
    advance(reader, 2);
    return value;
}

uint32_t readU32(ByteReader& reader) {
    uint32_t value = remaining(reader) >= 4 ? load32Le(reader.input.data() + reader.position) : 0;
    advance(reader, 4);
    return value;
}

SecureBuffer readField(ByteReader& reader) {
    uint32_t length = readU32(reader);
    if (length == 0) return SecureBuffer();
    SecureBuffer taken = reader.input.slice(length, reader.position);
    advance(reader, taken.size());
    return taken;
}

SecureBuffer readFieldDeclared(ByteReader& reader) {
    uint32_t start = reader.position;
    uint32_t length = readU32(reader);
    if (length == 0) return SecureBuffer();
    SecureBuffer taken = reader.input.slice(length, reader.position);
    if (taken.empty()) {
        reader.position = start;
        return taken;
    }
    advance(reader, length);
    return taken;
}

void skipField(ByteReader& reader) {
    uint32_t length = remaining(reader) >= 4 ? load32Le(reader.input.data() + reader.position) : 0;
    advance(reader, 4 + static_cast<uint64_t>(length));
}
