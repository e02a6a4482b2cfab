// The move-to-front stage of the codec: each byte becomes its position in a list of the 256
// values that starts in ascending order and moves each used value to the front.
#pragma once

#include "base/secure_buffer.h"

// Pre:  none (any buffer).
// Post: every byte b is replaced by b's current position in the list, and b moves to position 0.
//       The size never changes.
void moveToFrontEncode(SecureBuffer& buffer);

// Pre:  none (any buffer: every byte is a valid position in the 256-entry list).
// Post: every byte k is replaced by the value at position k, which then moves to position 0;
//       the inverse of moveToFrontEncode. The size never changes.
void moveToFrontDecode(SecureBuffer& buffer);

// moveToFrontDecode over size bytes at bytes.
void moveToFrontDecodeBytes(uint8_t* bytes, uint32_t size);
