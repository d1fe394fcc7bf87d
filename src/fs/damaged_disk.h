// Reading a MediaMaster disk that has unreadable sectors: a live failing disk, or an image made
// by a rescue together with its map, which names the sectors that were never copied. Finds
// which parts of the file system survive, takes the allocation table's copy where the first
// table is unreadable, and gives the order in which a rescue should read the disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/partial_read.h"
#include "disk/rescue_map.h"
#include "disk/sector_access.h"
#include "fs/layout.h"
#include "fs/recording_table.h"

namespace quarrow {

// Sectors that did not come from the source: not finished in the map (null: none).
bool sectors_missing(const RescueMap* map, int64_t first, int64_t count);

// The allocation table as far as it can be read: each sector of the first table that is
// unreadable (a read error, or missing from the image by its map) is taken from the copy when
// the copy's sector reads. Sectors lost in both read as zeros (free entries).
struct FatDamage {
    int first_table_bad = 0;  // sectors of the first table that could not be read
    int from_copy = 0;        // of these, taken from the copy
    int lost = 0;             // unreadable in both
};
FatDamage read_fat_around_damage(DiskHandle disk, const RescueMap* map, uint8_t* table);

// Whether the system area (boot area, both tables, Table of Contents, the listed records) holds
// unreadable sectors, and which; the records are those the readable Table of Contents names.
struct SystemAreaDamage {
    bool boot_area = false;
    int fat_bad = 0;       // first table
    int fat_copy_bad = 0;  // copy
    bool toc = false;
    int records_bad = 0;  // listed records with an unreadable sector
    bool any() const { return boot_area || fat_bad || fat_copy_bad || toc || records_bad; }
};
SystemAreaDamage check_system_area(DiskHandle disk, const RescueMap* map);

// How an operation reads a disk with unreadable sectors; an operation given none stops at the
// first read error, as it always did. Filled by the command line's --skip-bad and --map.
struct DamagedRun {
    int64_t disk_sector;       // first unreadable sector
    int64_t count;             // sectors
    int64_t recording_sector;  // where it lies in the recording, counted from its first cluster's
                               // first data sector (header sectors count as the data that
                               // follows them)
};
struct DamagedReads {
    int retries = 1;
    bool skip_bad = false;           // read errors: zeros in their place, go on
    const RescueMap* map = nullptr;  // an image made by a rescue: sectors it lacks are unreadable
    // Filled by the operation: the allocation table's damage and every unreadable run met.
    FatDamage fat;
    std::vector<DamagedRun> found;
    // After the first read error the failing stretch is read again through an exact reader
    // (sector_access.h), opened then, so that one bad sector costs only itself. Refused: the
    // system's reason, for a notice; the reads then go through the cache.
    UniqueDisk exact;
    bool exact_tried = false;
    std::string exact_refusal;
};

// The disk to read sectors again from after a read error: the exact reader, opened on first use,
// or the disk itself where there is none.
DiskHandle exact_reader_of(DiskHandle disk, UniqueDisk* exact, bool* tried, std::string* refusal);

// Reads count sectors from first for an operation that goes on past damage: unreadable sectors
// (read errors when skip_bad is set, or missing by the map) read as zeros and are added to
// damaged->found with recording_sector + their distance from first. Gives the sectors delivered:
// count, or fewer when a read error is not to be skipped or the source ends.
int64_t read_damaged(DiskHandle disk, uint8_t* buffer, int64_t first, int64_t count,
                     int64_t recording_sector, DamagedReads* damaged);

// Unreadable sectors of a recording's data (start and length in sectors from its first cluster's
// first data sector) along its chain in the table; by the map only.
int64_t recording_missing_sectors(const RescueMap& map, const uint8_t* table,
                                  uint16_t first_cluster, uint32_t start, uint32_t length);

// The recording time, HH:MM:SS, that a sector of the recording stands for, estimated from its
// place between the recording's start offset and its end.
std::string recording_time_text(const RecordingEntry& e, int64_t recording_sector);

// The system area: every sector before cluster 0.
inline SectorRun system_area() {
    return {0, CLUSTER_SECTORS};
}

// The clusters of the listed recordings, newest first, each recording's chain in order, as runs
// of whole clusters; as far as the readable parts of the system area tell them.
std::vector<SectorRun> recording_areas(DiskHandle disk, const RescueMap* map);

}  // namespace quarrow
