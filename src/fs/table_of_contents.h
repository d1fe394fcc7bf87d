// The Table of Contents (sector 130, 4 sectors): the recording count and one 4-byte slot per
// listed recording (attribute word, record offset). A recording is listed exactly while a slot
// names its record, so the slot is the last thing a new recording gets and the first thing a
// deleted one loses. Also the record sectors' use: which are named by a slot, and the first one
// free for a new record.
#pragma once

#include <cstdint>

#include "disk/sector_access.h"
#include "fs/layout.h"

namespace quarrow {

// Slots that fit in the 2048-byte Table of Contents.
constexpr int TOC_SLOT_CAPACITY = (TOC_BYTES - TOC_SLOTS_OFFSET) / TOC_SLOT_BYTES;

// The Table of Contents slot that list index i stands for, with n recordings (newest first).
inline int slot_of_index(int count, int index) {
    return count - 1 - index;
}

// The recording count of a Table of Contents, as stored (a damaged one may exceed MAX_RECORDINGS).
inline int toc_count(const uint8_t* toc) {
    return static_cast<int>(read_be16(toc + TOC_COUNT_OFFSET));
}

inline uint8_t* toc_slot(uint8_t* toc, int slot) {
    return toc + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * slot;
}

// The record offset named by Table of Contents slot j.
inline uint32_t toc_slot_record_offset(const uint8_t* toc, int slot) {
    return read_be16(toc + TOC_SLOTS_OFFSET + TOC_SLOT_BYTES * slot + 2);
}

// Reads the Table of Contents; 1 on success.
int read_toc(DiskHandle disk, uint8_t* toc);

// Read or written whole, with the message for the one that failed.
bool read_toc_whole(DiskHandle disk, uint8_t* toc, char* message);
bool write_toc_whole(DiskHandle disk, const uint8_t* toc, char* message);

// The slot of list index among the count recordings of a table just read, or -1 when the index
// does not name one of them or the count is more than the program accepts. The windows keep
// their indices in range; this guard keeps a stale or damaged count from moving bytes outside
// the 2048-byte table.
int listed_slot(int count, int index);

// Appends slot n (n = the count) with the two attribute bytes and the record offset, and
// raises the count. The caller has checked that n is below MAX_RECORDINGS.
void append_slot(uint8_t* toc, uint8_t attribute_high, uint8_t flags, uint32_t record_offset);

// Removes slot j of the count slots: the slots after it move down one place, the last one
// receiving the 4 bytes that followed it, and the count drops by one.
void remove_slot(uint8_t* toc, int j);

// A record offset names a usable record sector: a whole record (a multiple of 4 sectors) behind
// the Table of Contents and inside the system area, never the table itself or cluster 0.
inline bool record_offset_usable(uint32_t offset) {
    return offset >= uint32_t(RECORD_SECTORS) && offset % RECORD_SECTORS == 0 &&
           TOC_SECTOR + offset + RECORD_SECTORS <= static_cast<uint32_t>(CLUSTER_SECTORS);
}

// Whether one of the first `slots` slots of the Table of Contents names the record at offset:
// such a record is taken, whatever its byte 0 says.
bool record_named_by_slot(const uint8_t* toc, int slots, uint32_t offset);

// How many of the first `slots` slots name the record at offset (a damaged table may have two
// lines share one record).
int slots_naming_record(const uint8_t* toc, int slots, uint32_t offset);

// The record offset (4, 8, ...) of the first free record sector from offset 4 on: byte 0 is 0
// and no slot among the first `slots` names it. Searches only the MAX_RECORDINGS record sectors
// a full Table of Contents can use. 1 and *offset set when found (record receives the sector's
// bytes); 0 with NO_FREE_RECORD_MESSAGE when none is free, or READ_RECORD_FAILED_MESSAGE when
// a read fails.
int find_free_record_sector(DiskHandle disk, const uint8_t* toc, int slots, uint8_t* record,
                            uint16_t* offset, char* message);

extern const char* const NO_FREE_RECORD_MESSAGE;
extern const char* const READ_RECORD_FAILED_MESSAGE;

}  // namespace quarrow
