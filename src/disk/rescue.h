// Rescue: copies a failing disk to an image file the way GNU ddrescue does. Large reads first; a
// large read that fails is marked and skipped at once, so a bad area costs one slow read on the
// first pass; then the skipped areas are split down to single sectors. The map (rescue_map.h)
// records every outcome, so a stopped rescue resumes without reading a rescued byte again.
// Knows nothing of the disk format: the caller gives the areas in the order they matter
// (src/fs/disk_rescue.h plans and runs them for a MediaMaster disk, for both programs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/partial_read.h"
#include "disk/rescue_map.h"
#include "disk/sector_access.h"

namespace quarrow {

struct RescueRequest {
    DiskHandle source;
    DiskHandle image;  // written at the source's offsets; bytes never read are left alone
    RescueMap* map;    // covers the source's size
    int retries = 1;   // tries of each single sector when splitting
    // Sectors in one read of the first pass, and in one unit of the splitting pass.
    int64_t copy_sectors = 2048;
    int64_t split_sectors = 64;
    // Called after every read with the map as it now stands; the image already holds every byte
    // the map calls finished. False stops the rescue there (an interrupt, a map that could not be
    // saved). Implemented by the command-line program: saves the map now and then, draws progress.
    void* context = nullptr;
    bool (*checkpoint)(void* context, const RescueMap& map) = nullptr;
    // The copying pass copies inside the system where source and image allow it
    // (Disk::copy_to); the first copy that comes up short turns that off for the rest of the
    // run, and its remainder is read and written through memory, where a read error and a
    // write error are told apart. Costs at most one failed read more per run.
    bool copy_in_system = true;
    // The splitting pass reads through an exact reader of the source (sector_access.h), opened
    // when it first has something to split, so that a bad sector costs only itself. Refused:
    // the system's reason; the pass then reads through the cache.
    UniqueDisk exact;
    bool exact_tried = false;
    std::string exact_refusal;
};

enum RescueResult {
    RESCUE_DONE = 1,     // every area of the pass was tried
    RESCUE_STOPPED = 2,  // the checkpoint asked to stop
    RESCUE_FAILED = 0,   // the image could not be written; message says so
};

// First pass over the areas, in order: every block not tried yet is read in large reads; what
// reads is written to the image and finished, a failed read's block is marked non-trimmed.
RescueResult rescue_copy_pass(RescueRequest* request, const std::vector<SectorRun>& areas,
                              char* message);

// Splitting pass over the areas, in order: non-trimmed and non-scraped blocks are read in small
// units, each split in halves down to single sectors where it fails; unreadable sectors end bad.
RescueResult rescue_split_pass(RescueRequest* request, const std::vector<SectorRun>& areas,
                               char* message);

// Gives bad sectors of an earlier run another round of tries in the next splitting pass.
void retry_bad_sectors(RescueMap* map);

// Sets the map's current status to finished when nothing is left to try in it.
void finish_rescue_map(RescueMap* map);

}  // namespace quarrow
