// A DiskHandle over an image held in memory, with scripted faults, so that every write order of
// the file-system operations can be checked against what a failure at each step leaves behind.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/sector_access.h"

namespace quarrow::test {

// Sectors that refuse to be read, as on a failing drive: a read that touches any of them fails.
// times: how many such reads fail before the sectors read again (a weak sector); -1 for ever.
struct FailingSectors {
    int64_t first;
    int64_t count;
    int times = -1;
};

struct MemoryDisk {
    std::vector<uint8_t> bytes;
    // Faults: the k-th read or write call (1-based, counted over the handle's life) fails;
    // 0 means never. A failing call moves nothing.
    int fail_read_call = 0;
    int fail_write_call = 0;
    // Every write from this call on fails (a disk that went away).
    int fail_writes_from = 0;
    // The power goes after the k-th write call: every later write is silently dropped and
    // reports success (0: never), as a drive's cache lost in a power cut or a pulled cable.
    int crash_after_write = 0;
    // Reads that touch sector short_sector stop at it (the sectors before it are delivered).
    int64_t short_sector = -1;
    // Unreadable sectors; a read that touches them fails, or with deliver_before_failing gives
    // the whole sectors before the first failing one it touches (when there are any), as some
    // drivers do.
    std::vector<FailingSectors> failing;
    bool deliver_before_failing = false;
    // Every read asked for, in order: (byte offset, length).
    std::vector<std::pair<int64_t, uint32_t>> read_log;
    // Counters.
    int reads = 0;
    int writes = 0;
    // Geometry reported for drive queries; 0 sector size makes the query fail.
    uint32_t sector_size = 512;
    // Writes refused (a read-only handle).
    bool read_only = false;
    // Flushes fail, or closing reports a failure (a write the system could not finish).
    bool fail_flush = false;
    bool fail_close = false;
    int flushes = 0;
    // Where the writes went, in order: (byte offset, length).
    std::vector<std::pair<int64_t, uint32_t>> write_log;
};

// A handle over the given memory image. The MemoryDisk must outlive the handle; close_disk frees
// only the handle record.
DiskHandle open_memory_disk(MemoryDisk* image);

}  // namespace quarrow::test
