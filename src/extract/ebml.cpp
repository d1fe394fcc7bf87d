#include "extract/ebml.h"

#include <cstring>

namespace quarrow {

int ebml_id_length(uint32_t id) {
    if (id >= 0x1000000) return 4;
    if (id >= 0x10000) return 3;
    if (id >= 0x100) return 2;
    return 1;
}

int ebml_size_length(uint64_t size) {
    for (int n = 1; n <= 8; ++n)
        if (size < (uint64_t(1) << (7 * n)) - 1) return n;
    return 0;
}

void ebml_put_size(uint8_t* out, uint64_t size, int length) {
    ebml_put_uint(out, size, length);
    out[0] |= uint8_t(0x80 >> (length - 1));
}

void ebml_put_uint(uint8_t* out, uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = uint8_t(value);
        value >>= 8;
    }
}

void ebml_put_float(uint8_t* out, double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    ebml_put_uint(out, bits, 8);
}

void ebml_id(EbmlBytes& out, uint32_t id) {
    int n = ebml_id_length(id);
    for (int i = n - 1; i >= 0; --i)
        out.push_back(uint8_t(id >> (8 * i)));
}

void ebml_size(EbmlBytes& out, uint64_t size, int length) {
    if (length == 0) length = ebml_size_length(size);
    size_t at = out.size();
    out.resize(at + size_t(length));
    ebml_put_size(out.data() + at, size, length);
}

void ebml_uint(EbmlBytes& out, uint32_t id, uint64_t value, int width) {
    if (width == 0) {
        width = 1;
        while (width < 8 && (value >> (8 * width)) != 0)
            ++width;
    }
    ebml_id(out, id);
    ebml_size(out, uint64_t(width));
    size_t at = out.size();
    out.resize(at + size_t(width));
    ebml_put_uint(out.data() + at, value, width);
}

void ebml_float(EbmlBytes& out, uint32_t id, double value) {
    ebml_id(out, id);
    ebml_size(out, 8);
    size_t at = out.size();
    out.resize(at + 8);
    ebml_put_float(out.data() + at, value);
}

void ebml_binary(EbmlBytes& out, uint32_t id, const uint8_t* bytes, size_t size) {
    ebml_id(out, id);
    ebml_size(out, size);
    out.insert(out.end(), bytes, bytes + size);
}

void ebml_string(EbmlBytes& out, uint32_t id, std::string_view text) {
    ebml_binary(out, id, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

size_t ebml_open(EbmlBytes& out, uint32_t id) {
    ebml_id(out, id);
    out.resize(out.size() + 8);
    return out.size();
}

void ebml_close(EbmlBytes& out, size_t content_at) {
    uint64_t size = out.size() - content_at;
    int length = ebml_size_length(size);
    size_t field = content_at - 8;
    ebml_put_size(out.data() + field, size, length);
    if (length < 8) {
        memmove(out.data() + field + length, out.data() + content_at, size_t(size));
        out.resize(out.size() - size_t(8 - length));
    }
}

}  // namespace quarrow
