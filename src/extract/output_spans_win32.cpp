// Windows: WriteFile takes one piece at a time, and a pack header each would be a call of its
// own, so the spans are joined first.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "extract/output_spans.h"

namespace quarrow {

bool write_output_spans(OutputFile* file, const ByteSpan* spans, int count) {
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += spans[i].size;
    std::unique_ptr<uint8_t[]> joined(new (std::nothrow) uint8_t[total]);
    if (!joined) return output_write(file, spans, count);  // one call per span, but whole
    uint8_t* p = joined.get();
    for (int i = 0; i < count; ++i) {
        memcpy(p, spans[i].bytes, spans[i].size);
        p += spans[i].size;
    }
    return output_write(file, joined.get(), total);
}

}  // namespace quarrow
