// EBML, the binary element syntax Matroska files are made of: each element is its ID (1 to 4
// bytes, marker bits included, so 0x1A45DFA3 is written as those four bytes), its content size
// as a variable-length integer (1 to 8 bytes, the length marked by the position of the first set
// bit) and its content. Elements are appended to a byte vector; a master element is opened,
// filled and closed, and closing gives it the shortest size field its content allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quarrow {

using EbmlBytes = std::vector<uint8_t>;

// The largest content size an 8-byte size field holds (all value bits set means "unknown").
constexpr uint64_t EBML_MAX_SIZE = (uint64_t(1) << 56) - 2;

// Bytes of the ID as written: 1 for 0x80..0xFE, up to 4 for 0x10000000 and above.
int ebml_id_length(uint32_t id);

// The shortest size field that holds size: n bytes carry 7n value bits, of which the value with
// all of them set is reserved, so 126 fits one byte and 127 needs two. 0 when size exceeds
// EBML_MAX_SIZE.
int ebml_size_length(uint64_t size);

// Writes size as a size field of exactly length bytes (1..8) at out; length must hold it.
void ebml_put_size(uint8_t* out, uint64_t size, int length);

void ebml_id(EbmlBytes& out, uint32_t id);
// length 0: the shortest.
void ebml_size(EbmlBytes& out, uint64_t size, int length = 0);

// Unsigned integer in as few bytes as it needs (one byte for 0); width > 0 forces that many
// bytes, for a value that is patched once it is known.
void ebml_uint(EbmlBytes& out, uint32_t id, uint64_t value, int width = 0);
// IEEE 754 double, 8 bytes.
void ebml_float(EbmlBytes& out, uint32_t id, double value);
// UTF-8 or ASCII text, without a terminating zero.
void ebml_string(EbmlBytes& out, uint32_t id, std::string_view text);
void ebml_binary(EbmlBytes& out, uint32_t id, const uint8_t* bytes, size_t size);

// Opens a master element: writes the ID and room for an 8-byte size; returns where its content
// starts, for ebml_close.
size_t ebml_open(EbmlBytes& out, uint32_t id);
// Closes the master element whose content starts at content_at: its size field becomes the
// shortest that holds the content, which moves back to follow it.
void ebml_close(EbmlBytes& out, size_t content_at);

// Big-endian helpers for patching fixed-width fields in place.
void ebml_put_uint(uint8_t* out, uint64_t value, int width);
void ebml_put_float(uint8_t* out, double value);

}  // namespace quarrow
