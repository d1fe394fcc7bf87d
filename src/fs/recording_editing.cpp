#include "fs/recording_editing.h"

#include <cstring>
#include <memory>
#include <new>

#include "fs/chain_checks.h"
#include "fs/maintenance_io.h"

namespace quarrow {

namespace {

void refresh_display_title(RecordingEntry* entry) {
    const char* shown = entry->user_title[0]      ? entry->user_title
                        : entry->default_title[0] ? entry->default_title
                                                  : entry->channel;
    if (shown != entry->display_title) {
        memmove(entry->display_title, shown, strnlen(shown, TITLE_BYTES - 1));
        entry->display_title[strnlen(shown, TITLE_BYTES - 1)] = 0;
    }
}

void copy_field(char* out, size_t width, const char* field, size_t field_width) {
    size_t n = strnlen(field, field_width);
    if (n > width - 1) n = width - 1;
    memcpy(out, field, n);
    out[n] = 0;
}

// Editing and moving word a Table of Contents that cannot be read as the recording table.
bool read_recording_table(DiskHandle disk, uint8_t* toc, char* message) {
    if (read_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) return true;
    put_message(message, "Could not read recording table from MediaMaster disk.");
    return false;
}

bool write_record_entry(DiskHandle disk, const ListedRecord& listed, char* message) {
    if (write_whole(disk, listed.record, TOC_SECTOR + static_cast<int>(listed.offset),
                    RECORD_SECTORS))
        return true;
    put_message(message, "Could not write recording entry to MediaMaster disk.");
    return false;
}

// Swaps two slots on the disk: the only write is the Table of Contents, so a failure anywhere
// leaves the disk and the list as they were.
int swap_slots(DiskHandle disk, int index, int other_index, RecordingEntry* list, char* message) {
    uint8_t toc[TOC_BYTES];
    if (!read_recording_table(disk, toc, message)) return 0;
    int n = toc_count(toc);
    int j = listed_slot(n, index);
    int k = listed_slot(n, other_index);
    if (j < 0 || k < 0) {
        put_message(message, "%s", NO_SUCH_RECORDING_MESSAGE);
        return 0;
    }
    uint8_t held[TOC_SLOT_BYTES];
    memcpy(held, toc_slot(toc, j), TOC_SLOT_BYTES);
    memcpy(toc_slot(toc, j), toc_slot(toc, k), TOC_SLOT_BYTES);
    memcpy(toc_slot(toc, k), held, TOC_SLOT_BYTES);
    if (!write_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) {
        put_message(message, "Could not write recording table from MediaMaster disk (Read-only?).");
        return 0;
    }
    RecordingEntry entry = list[index];
    list[index] = list[other_index];
    list[other_index] = entry;
    return 1;
}

// Whether slot j's chain shares no cluster with another listed recording: freeing a shared
// cluster would free the other recording's data too. 0 with a message naming the other
// recording (by its list number and title) when it does.
int chain_is_its_own(DiskHandle disk, const uint8_t* toc, int count, int j, const uint8_t* mine,
                     const uint8_t* table, uint16_t last, char* message) {
    std::unique_ptr<ChainMap> map(new (std::nothrow) ChainMap);
    if (!map) {
        put_message(message, "Not enough memory to check the recording's clusters.");
        return 0;
    }
    // Every other listed chain first, then this one against them.
    memset(map->owner, 0, sizeof map->owner);
    RecordingInfoRecord other;
    const uint32_t my_offset = toc_slot_record_offset(toc, j);
    for (int s = 0; s < count; ++s) {
        uint32_t offset = toc_slot_record_offset(toc, s);
        // A record this one shares is no other recording; one that cannot be read names no
        // clusters we could know of.
        if (s == j || offset == my_offset || !record_offset_usable(offset) ||
            !read_whole(disk, other.bytes, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS))
            continue;
        walk_chain(table, read_be16(other.bytes + REC_FIRST_CLUSTER), last, [&](uint32_t k) {
            if (map->owner[k] == s + 1) return false;  // come round: the rest is known
            if (map->owner[k] == 0) map->owner[k] = static_cast<uint16_t>(s + 1);
            return true;
        });
    }
    int shared_with = -1;
    uint32_t shared_cluster = 0;
    walk_chain(table, read_be16(mine + REC_FIRST_CLUSTER), last, [&](uint32_t k) {
        if (map->owner[k] == 0) return true;
        shared_with = map->owner[k] - 1;
        shared_cluster = k;
        return false;
    });
    if (shared_with < 0) return 1;
    uint32_t offset = toc_slot_record_offset(toc, shared_with);
    RecordingEntry entry{};
    if (read_whole(disk, other.bytes, TOC_SECTOR + static_cast<int>(offset), RECORD_SECTORS))
        build_recording_entry(other, &entry);
    put_message(message,
                "Cluster %u also belongs to recording %d ('%s'); deleting this one would free "
                "its data. Nothing was changed.",
                static_cast<unsigned>(shared_cluster), count - shared_with, entry.display_title);
    return 0;
}

}  // namespace

int apply_recording_changes(WritableDisk target, int index, RecordingEntry* entry,
                            const char user_title[REC_USER_TITLE_BYTES],
                            const char channel[REC_CHANNEL_BYTES], uint8_t flags, uint8_t mask,
                            char* message) {
    DiskHandle disk = target.handle();
    uint8_t toc[TOC_BYTES];
    if (!read_recording_table(disk, toc, message)) return 0;
    ListedRecord listed;
    if (!read_listed_record(disk, toc, index, &listed, message)) return 0;
    uint8_t* record = listed.record;
    // The bits outside the mask come from the record's own flags byte, not from the slot's copy.
    uint8_t new_flags = static_cast<uint8_t>((record[REC_FLAGS] & ~mask) | flags);
    toc_slot(toc, listed.slot)[1] = new_flags;
    if (!write_whole(disk, toc, TOC_SECTOR, TOC_SECTORS)) {
        put_message(message, "Could not write recording table to MediaMaster disk (Read-only?).");
        return 0;
    }
    memcpy(record + REC_USER_TITLE, user_title, REC_USER_TITLE_BYTES);
    memcpy(record + REC_CHANNEL, channel, REC_CHANNEL_BYTES);
    record[REC_FLAGS] = new_flags;
    if (!write_record_entry(disk, listed, message)) return 0;
    copy_field(entry->user_title, TITLE_BYTES, user_title, REC_USER_TITLE_BYTES);
    copy_field(entry->channel, CHANNEL_BYTES, channel, REC_CHANNEL_BYTES);
    refresh_display_title(entry);
    entry->flags = new_flags;
    attribute_text(new_flags, entry->attribute_text);
    return 1;
}

int move_recording_up(WritableDisk target, int index, RecordingEntry* list, char* message) {
    DiskHandle disk = target.handle();
    // Up in the list (towards number 1) is towards the end of the Table of Contents.
    return swap_slots(disk, index, index - 1, list, message);
}

int move_recording_down(WritableDisk target, int index, RecordingEntry* list, char* message) {
    DiskHandle disk = target.handle();
    return swap_slots(disk, index, index + 1, list, message);
}

int delete_recording(WritableDisk target, int index, RecordingEntry* list, char* message,
                     const OperationHooks* hooks) {
    DiskHandle disk = target.handle();
    uint8_t table[FAT_BYTES];
    if (!read_fat_whole(disk, table, message)) return 0;
    uint8_t toc[TOC_BYTES];
    if (!read_toc_whole(disk, toc, message)) return 0;
    uint16_t last = 0;
    if (!read_last_cluster(disk, &last, message)) return 0;
    uint8_t residue[4];
    fat_checksum_residue(table, residue, last);

    const int n = toc_count(toc);
    ListedRecord listed;
    if (!read_listed_record(disk, toc, index, &listed, message)) return 0;
    uint8_t* record = listed.record;
    const int j = listed.slot;
    // Another line that names the same record lists the same recording: only this line goes, and
    // the record and its clusters stay with the other.
    const bool shared = slots_naming_record(toc, n, listed.offset) > 1;
    if (!shared && !chain_is_its_own(disk, toc, n, j, record, table, last, message)) return 0;

    remove_slot(toc, j);

    // Marks the record sector free; titles, first cluster and key stay for whoever looks later.
    record[0] = 0x00;
    record[1] = 0x00;
    record[2] = 0x3F;
    record[3] = 0xFF;

    // Free entries hold the index of the next cluster, the last cluster of the disk 0x3FFF. The
    // walk stops at a link beyond the disk, at an entry that is not allocated (a chain broken, or
    // looping back onto a cluster it has just freed) and after cluster_count links, so a damaged
    // chain can neither hang the program nor free clusters of another recording. Cluster
    // contents are left alone so that recovery can find them again.
    if (!shared) {
        walk_chain(table, read_be16(record + REC_FIRST_CLUSTER), last, [&](uint32_t k) {
            set_fat_entry(table, k, k == last ? FAT_CHAIN_END : k + 1);
            return true;
        });
        store_fat_checksum(table, residue, last);
    }

    // The slot goes first: once it is written the recording is no longer listed, and a crash
    // before the tables leaves its clusters allocated to nobody (recovery takes them back), never
    // a listed recording whose clusters the table shows as free.
    if (!write_toc_whole(disk, toc, message)) return 0;
    if (shared) {
        hook_notice(hooks,
                    "Another line of the list names the same record: only this line was removed; "
                    "the record and its clusters stay with the other.");
    } else {
        if (!write_fat_and_copy(disk, table, message)) return 0;
        if (!write_record_entry(disk, listed, message)) return 0;
    }
    if (n - 1 > 0 && index < n - 1)
        memmove(&list[index], &list[index + 1],
                sizeof(RecordingEntry) * static_cast<size_t>(n - 1 - index));
    return 1;
}

}  // namespace quarrow
