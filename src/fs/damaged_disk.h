// Reading a MediaMaster disk that has unreadable sectors: a live failing disk, or an image made
// by a rescue together with its map, which names the sectors that were never copied. Finds
// which parts of the file system survive, takes the allocation table's copy where the first
// table is unreadable, and gives the order in which a rescue should read the disk.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/partial_read.h"
#include "disk/rescue_map.h"
#include "disk/sector_access.h"
#include "fs/layout.h"

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

// The system area: every sector before cluster 0.
inline SectorRun system_area() {
    return {0, CLUSTER_SECTORS};
}

// The clusters of the listed recordings, newest first, each recording's chain in order, as runs
// of whole clusters; as far as the readable parts of the system area tell them.
std::vector<SectorRun> recording_areas(DiskHandle disk, const RescueMap* map);

}  // namespace quarrow
