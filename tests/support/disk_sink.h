// The extraction's byte sinks over a DiskHandle, so that tests collect a walk's or a filter's
// output in an in-memory disk and script its write faults there.
#pragma once

#include "disk/sector_access.h"
#include "extract/stream_filters.h"

namespace quarrow::test {

// Writes each span with one file_write on the handle (sequentially, from its position).
ByteSink disk_sink(DiskHandle disk);

}  // namespace quarrow::test
