#include "fs/maintenance_io.h"

namespace quarrow {

const char* const NO_SUCH_RECORDING_MESSAGE =
    "No such recording in the Table of Contents of the MediaMaster disk.";
const char* const DAMAGED_SLOT_MESSAGE =
    "The Table of Contents names a record outside the record area.";
const char* const READ_RECORD_ENTRY_FAILED_MESSAGE =
    "Could not read recording entry from MediaMaster disk.";

bool read_last_cluster(DiskHandle disk, uint16_t* last, char* message) {
    *last = read_last_cluster_index(disk);
    if (*last != 0) return true;
    put_message(message, "Failed to retrieve information from Boot Sector.");
    return false;
}

bool write_new_record(DiskHandle disk, const uint8_t* record, uint32_t offset, char* message) {
    if (write_whole(disk, record, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS))
        return true;
    put_message(message, "Could not write Recording Information record to MediaMaster disk.");
    return false;
}

bool read_listed_record(DiskHandle disk, const uint8_t* toc, int index, ListedRecord* out,
                        char* message, const char* damaged_slot_message) {
    out->slot = listed_slot(toc_count(toc), index);
    if (out->slot < 0) {
        put_message(message, "%s", NO_SUCH_RECORDING_MESSAGE);
        return false;
    }
    out->offset = toc_slot_record_offset(toc, out->slot);
    if (!record_offset_usable(out->offset)) {
        put_message(message, "%s", damaged_slot_message);
        return false;
    }
    if (!read_whole(disk, out->record, TOC_SECTOR + static_cast<int>(out->offset),
                    RECORD_SECTORS)) {
        put_message(message, "%s", READ_RECORD_ENTRY_FAILED_MESSAGE);
        return false;
    }
    return true;
}

void notice_kept_out(const ClusterUse& use, const OperationHooks* hooks) {
    if (use.kept_out == 0) return;
    char notice[MESSAGE_SIZE];
    put_message(notice,
                "%u clusters that the File Allocation Table shows as free are kept out: listed "
                "recordings still reach them.",
                static_cast<unsigned>(use.kept_out));
    hook_notice(hooks, notice);
}

}  // namespace quarrow
