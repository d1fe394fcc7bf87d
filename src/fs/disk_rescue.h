// The rescue of a failing MediaMaster disk, for both programs: what matters comes first. The
// system area first, whole (it tells where the recordings are); then each listed recording's
// clusters, newest first, each read in large reads and then split down to single sectors
// before the next recording begins, so that the newest recording is whole as early as the
// disk allows; then the rest of the disk. The passes themselves are disk/rescue.h's; the map
// (disk/rescue_map.h) is saved now and then, after the image's writes are flushed, so that a
// crash or a full disk never leaves a map that claims what the image lacks.
//
// The front end opens the source and the image, loads or starts the map, and shows progress;
// the command line's 'quarrow rescue' (src/cli/cmd_rescue.cpp) is one such front end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/hooks.h"
#include "disk/partial_read.h"
#include "disk/rescue.h"
#include "disk/rescue_map.h"
#include "disk/sector_access.h"
#include "fs/damaged_disk.h"
#include "fs/recording_table.h"

namespace quarrow {

struct DiskRescueRequest {
    DiskHandle source = nullptr;
    DiskHandle image = nullptr;  // as long as the source; written at the source's offsets
    RescueMap* map = nullptr;    // fitted to the source's size
    std::string map_path;        // saved here at the start, now and then, and at the end
    std::string map_comment;
    int retries = 1;
    double save_seconds = 5.0;
    // Set by the rescue as it goes, for the front end's progress line: the list number of the
    // recording being read (1 the newest), 0 in the system area or the rest of the disk.
    int current_recording = 0;
};

// One listed recording as rescued so far: its entry as the image's system area tells it, the
// sectors of its range and the unreadable runs among them (not rescued, or in clusters the
// allocation table no longer names).
struct RecordingRescue {
    int number = 0;  // list number, 1 the newest
    RecordingEntry entry{};
    int64_t sectors = 0;
    int64_t missing = 0;
    std::vector<DamagedRun> unreadable;
};

struct DiskRescueResult {
    RescueResult status = RESCUE_FAILED;
    std::vector<RecordingRescue> recordings;  // newest first
    // Whether the map's last save succeeded; when not, why (the map saved before it stays).
    bool map_saved = false;
    std::string map_message;
};

// Runs the rescue. hooks: progress (bytes finished of the source's size) after every read;
// notice when a recording is done ("Recording 1 ...: 99.98 % rescued; unreadable 00:10:01 -
// 00:10:02") and when direct reads are refused; cancelled (Ctrl-C) between reads. RESCUE_FAILED
// with the message when the image or the map could not be written (the system's reason named).
DiskRescueResult rescue_disk(DiskRescueRequest* request, const OperationHooks* hooks,
                             char* message);

// The listed recordings of a disk (a source or its image read with its map) and the unreadable
// runs of each, by the map; newest first. With no map nothing is unreadable but what the
// allocation table does not reach.
std::vector<RecordingRescue> recording_rescue_state(DiskHandle disk, const RescueMap* map);

// The runs of the disk that recording number holds (1 the newest), in chain order, whole
// clusters; empty where its record cannot be read.
std::vector<SectorRun> recording_clusters(DiskHandle disk, const RescueMap* map, int number);

// The text of a recording's state: "Recording 2 (Title): 99.98 % rescued; unreadable
// 00:10:01 - 00:10:02, 00:20:00 - 00:20:01".
std::string recording_rescue_text(const RecordingRescue& r);

// A GNU ddrescue domain mapfile of the disk: the system area and the clusters of the chosen
// recordings (list numbers; empty: every listed one) marked finished, the rest not tried, so
// that 'ddrescue --domain-mapfile=FILE' rescues exactly those. Written under the one output
// rule (whole or not at all). False with the message otherwise; a number that names no
// recording is refused before anything is written.
bool write_domain_map(DiskHandle disk, const std::vector<int>& numbers, const std::string& path,
                      char* message);

}  // namespace quarrow
