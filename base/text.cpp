// Text buffers and their conversions. Lengths are counted without the terminating NUL.

#include "base/text.h"

#include <cstring>

namespace {

constexpr uint8_t SPACE = 32;

}  // namespace

SecureBuffer fromNulTerminated(const char* s) {
    SecureBuffer result;
    if (s == nullptr) return result;
    size_t length = std::strlen(s);
    if (length >= UINT32_MAX) throw 0;
    result.assign(reinterpret_cast<const uint8_t*>(s), static_cast<uint32_t>(length) + 1);
    return result;
}

SecureBuffer textFromChars(const char* s) {
    SecureBuffer result = fromNulTerminated(s);
    sanitizeText(result);
    return result;
}

SecureBuffer toText(const SecureBuffer& buffer) {
    SecureBuffer result(buffer);
    sanitizeText(result);
    return result;
}

void emptyText(SecureBuffer& text) { text.allocate(1); }

const char* textPointer(const SecureBuffer& text) {
    if (text.empty() || text.data()[text.size() - 1] != 0) return nullptr;
    return reinterpret_cast<const char*>(text.data());
}

uint32_t textLength(const SecureBuffer& text) { return text.size() > 1 ? text.size() - 1 : 0; }

SecureBuffer concat(const SecureBuffer& a, const SecureBuffer& b) {
    SecureBuffer result;
    uint32_t headLength = a.size() > 1 ? a.size() - 1 : 0;
    result.allocate(secureBufferGrownSize(headLength, b.size()));
    if (result.empty()) return result;
    if (headLength != 0) std::memcpy(result.data(), a.data(), headLength);
    if (!b.empty()) std::memcpy(result.data() + headLength, b.data(), b.size());
    return result;
}

void sanitizeText(SecureBuffer& text) {
    if (text.empty()) {
        emptyText(text);
        return;
    }
    if (text.data()[text.size() - 1] != 0) text.appendZeros(1);
    uint8_t* bytes = text.data();
    for (uint32_t i = 0; i + 1 < text.size(); ++i) {
        if (bytes[i] < 32 || bytes[i] == 127) bytes[i] = SPACE;
    }
}

void trimLeft(SecureBuffer& text) {
    uint32_t length = textLength(text);
    if (length <= 1) return;
    uint32_t count = 0;
    while (count < length - 1 && text.data()[count] == SPACE) ++count;
    if (count == 0) return;
    (void)text.eraseFront(count);  // 0 < count < size, so this cannot fail
}

void trimRight(SecureBuffer& text) {
    uint32_t length = textLength(text);
    uint32_t count = 0;
    while (count < length && text.data()[length - 1 - count] == SPACE) ++count;
    if (count == 0) return;
    dropLast(text, count);
}

void dropLast(SecureBuffer& text, uint32_t count) {
    uint32_t length = textLength(text);
    if (count >= length) {
        emptyText(text);
        return;
    }
    text.resize(length - count + 1);
    text.data()[length - count] = 0;
}

SecureBuffer decimalText(uint32_t n) {
    char digits[11];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    SecureBuffer result;
    result.allocate(static_cast<uint32_t>(count) + 1);
    for (int i = 0; i < count; ++i) result.data()[i] = static_cast<uint8_t>(digits[count - 1 - i]);
    return result;
}

SecureBuffer charText(char c) {
    uint8_t bytes[2] = {static_cast<uint8_t>(c), 0};
    return SecureBuffer(bytes, 2);
}

SecureBuffer firstLine(const SecureBuffer& buffer) {
    uint32_t end = 0;
    while (end < buffer.size() && buffer.data()[end] >= 32) ++end;
    SecureBuffer result = buffer.slice(end, 0);
    sanitizeText(result);
    return result;
}

SecureBuffer hexUpper(const SecureBuffer& bytes) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    SecureBuffer result;
    result.allocate(secureBufferGrownSize(bytes.size(), bytes.size()));
    for (uint32_t i = 0; i < bytes.size(); ++i) {
        result.data()[2 * i] = static_cast<uint8_t>(DIGITS[bytes.data()[i] >> 4]);
        result.data()[2 * i + 1] = static_cast<uint8_t>(DIGITS[bytes.data()[i] & 15]);
    }
    return result;
}
