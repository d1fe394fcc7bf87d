#include "support/disk_sink.h"

namespace quarrow::test {
namespace {

bool write_spans(void* context, const ByteSpan* spans, int count) {
    DiskHandle disk = static_cast<DiskHandle>(context);
    for (int i = 0; i < count; ++i)
        if (spans[i].size > 0 && !file_write(disk, spans[i].bytes, uint32_t(spans[i].size)))
            return false;
    return true;
}

}  // namespace

ByteSink disk_sink(DiskHandle disk) {
    return ByteSink{disk, write_spans};
}

}  // namespace quarrow::test
