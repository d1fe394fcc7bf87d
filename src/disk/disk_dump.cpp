#include "disk/disk_dump.h"

#include <cstdint>
#include <memory>
#include <new>

namespace quarrow {
namespace {

// The whole sectors read at a 64-bit sector number. Units of a disk above 1 TiB start past
// sector 2^31, which the int sector numbers of read_sectors cannot name.
int read_unit(DiskHandle disk, uint8_t* buffer, int64_t first_sector, int count, int sector_size) {
    if (!disk) return 0;
    int64_t moved =
        disk->read_at(disk, first_sector * sector_size, buffer,
                      static_cast<uint32_t>(count) * static_cast<uint32_t>(sector_size));
    if (moved <= 0) return 0;
    return static_cast<int>(moved / sector_size);
}

// Where the units go: an open handle or an output file.
struct DumpTarget {
    DiskHandle handle = nullptr;
    OutputFile* file = nullptr;
    bool write(const uint8_t* bytes, uint64_t size) const {
        return file ? output_write(file, bytes, size_t(size))
                    : file_write(handle, bytes, static_cast<uint32_t>(size));
    }
};

int dump_units(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
               const DumpTarget& out, const OperationHooks* hooks, char* message,
               int* units_written) {
    *units_written = 0;
    uint64_t unit_bytes = static_cast<uint64_t>(sectors_per_unit) *
                          static_cast<uint64_t>(sector_size > 0 ? sector_size : 0);
    if (sectors_per_unit <= 0 || sector_size <= 0 || unit_bytes > 0x40000000u) {
        put_message(message, "Invalid dump unit.");
        return 0;
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[unit_bytes]);
    if (!buffer) {
        put_message(message, "Not enough memory for the transfer buffer.");
        return 0;
    }
    for (int i = 0; i < unit_count; ++i) {
        hook_progress(hooks, i, unit_count);
        if (hook_cancelled(hooks)) {
            put_message(message, "%s", DUMP_INTERRUPTED);
            return 0;
        }
        int got = read_unit(disk, buffer.get(), static_cast<int64_t>(i) * sectors_per_unit,
                            sectors_per_unit, sector_size);
        if (got != sectors_per_unit) {
            put_message(message, "Failed to read from disk, cluster %d (got %d sectors from %d)", i,
                        got, sectors_per_unit);
            return 0;
        }
        if (!out.write(buffer.get(), unit_bytes)) {
            put_message(message, "Failed to write to file.");
            return 0;
        }
        *units_written = i + 1;
    }
    if (unit_count > 0) hook_progress(hooks, unit_count, unit_count);
    return 1;
}

}  // namespace

int dump_to_handle(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
                   DiskHandle out, const OperationHooks* hooks, char* message) {
    DumpTarget target;
    target.handle = out;
    int written = 0;
    return dump_units(disk, unit_count, sectors_per_unit, sector_size, target, hooks, message,
                      &written);
}

int dump_disk(DiskHandle disk, int unit_count, int sectors_per_unit, int sector_size,
              const char* path, const OperationHooks* hooks, char* message, DumpOutcome* outcome) {
    DumpOutcome ignored;
    if (!outcome) outcome = &ignored;
    *outcome = DumpOutcome();
    if (!can_reach_raw_drives()) return 0;
    if (sectors_per_unit <= 0 || sector_size <= 0) {
        put_message(message, "Invalid dump unit.");
        return 0;
    }
    OutputFilePtr out(begin_output_file(path));
    if (!out) {
        put_message(message, "Failed to create output file.");
        return 0;
    }
    DumpTarget target;
    target.file = out.get();
    int ok = dump_units(disk, unit_count, sectors_per_unit, sector_size, target, hooks, message,
                        &outcome->units_written);
    // The image is reported done only once the system says it is on the drive.
    if (ok && !(output_flush(out.get()) && commit_output_file(out.release()))) {
        put_message(message, "Failed to write to file.");
        ok = 0;
    }
    if (!ok) outcome->left = end_output_file(out.release());
    return ok;
}

}  // namespace quarrow
