// Hexadecimal data sections: host values to and from text.
#pragma once

#include "host/records.h"

#include <cstdint>

namespace qor {

uint8_t ReverseBits(uint32_t value);
// Characters in the data section of a read response for this request. A
// negative count gives 0; a count no frame can carry gives a length beyond
// any frame, capped so that adding the frame overhead cannot overflow.
int32_t DataSectionLength(const IoRequest &request);
// Decodes the data section at `text` into request->data; 0, or 1 after a
// message when an element is not hexadecimal. Each element is read from its
// own position; white space and a 0x prefix in front of its digits do not
// count toward its width, so its digits may run on, but never past `end`
// (the end of the received message). A block with a negative count has no
// elements.
int32_t StoreData(IoRequest *request, const char *text, const char *end, int32_t mode);
// Writes the data section at `text` (terminated) and returns its length.
// `capacity` bounds what may be written, the terminator included.
int32_t EncodeWriteData(const IoRequest *request, char *text, uint32_t capacity, int32_t mode);

} // namespace qor
