#include "fs/disk_rescue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>

#include "disk/output_file.h"
#include "disk/system_error.h"
#include "fs/chain_checks.h"

namespace quarrow {
namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A listed recording's record as the disk (and its map) give it: the list number, the entry and
// where its record lies; false when the record was not rescued or cannot be read.
struct Listed {
    int number;
    RecordingEntry entry;
};

std::vector<Listed> listed_recordings(DiskHandle disk, const RescueMap* map) {
    std::vector<Listed> out;
    uint8_t toc[TOC_BYTES];
    if (sectors_missing(map, TOC_SECTOR, TOC_SECTORS) || !is_mediamaster_disk(disk) ||
        !read_toc(disk, toc))
        return out;
    std::unique_ptr<RecordingEntry[]> entries(new (std::nothrow) RecordingEntry[MAX_RECORDINGS]);
    std::unique_ptr<bool[]> unreadable(new (std::nothrow) bool[MAX_RECORDINGS]());
    if (!entries || !unreadable) return out;
    int n = load_readable_recordings(disk, entries.get(), unreadable.get());
    if (n > MAX_RECORDINGS) return out;
    for (int i = 0; i < n; ++i) {
        uint32_t offset = toc_slot_record_offset(toc, slot_of_index(n, i));
        if (unreadable[i] || !record_offset_usable(offset) ||
            sectors_missing(map, TOC_SECTOR + int64_t(offset), RECORD_SECTORS))
            continue;
        out.push_back({i + 1, entries[i]});
    }
    return out;
}

// The clusters a chain holds, in order, each at most once and within the disk's cluster count.
std::vector<uint16_t> chain_of(const uint8_t* table, uint16_t first, uint32_t limit) {
    std::vector<uint16_t> chain;
    std::vector<bool> seen(size_t(FAT_ENTRIES), false);
    for (uint16_t c = first; c != NO_CLUSTER && c <= limit && c < FAT_ENTRIES && !seen[c];
         c = next_cluster(table, c)) {
        seen[c] = true;
        chain.push_back(c);
    }
    return chain;
}

uint32_t cluster_limit(DiskHandle disk, const RescueMap* map) {
    // Without a readable cluster count every link the table holds is followed.
    uint16_t last =
        sectors_missing(map, BOOT_AREA, BOOT_AREA_SECTORS) ? 0 : read_last_cluster_index(disk);
    return last ? uint32_t(last) : uint32_t(MAX_CLUSTER_COUNT - 1);
}

void add_damaged(std::vector<DamagedRun>* runs, int64_t disk_sector, int64_t count, int64_t at) {
    if (count <= 0) return;
    if (!runs->empty()) {
        DamagedRun& last = runs->back();
        bool joins_disk =
            disk_sector < 0 ? last.disk_sector < 0 : last.disk_sector + last.count == disk_sector;
        if (joins_disk && last.recording_sector + last.count == at) {
            last.count += count;
            return;
        }
    }
    runs->push_back({disk_sector, count, at});
}

// The unreadable runs of a recording's range [start, start + length) in recording sectors: not
// finished in the map, or past the end of the chain the table gives (their clusters cannot be
// found, so they cannot be read; disk_sector -1).
RecordingRescue state_of(const Listed& l, const RescueMap* map, const uint8_t* table,
                         uint32_t limit) {
    RecordingRescue r;
    r.number = l.number;
    r.entry = l.entry;
    const int64_t from = l.entry.start_offset, end = from + int64_t(l.entry.length);
    r.sectors = end - from;
    std::vector<uint16_t> chain = chain_of(table, l.entry.first_cluster, limit);
    int64_t reached = 0;  // recording sectors the chain covers
    for (size_t k = 0; k < chain.size() && int64_t(k) * CLUSTER_DATA_SECTORS < end; ++k) {
        int64_t base = int64_t(k) * CLUSTER_DATA_SECTORS;
        reached = base + CLUSTER_DATA_SECTORS;
        int64_t a = std::max(from, base), b = std::min(end, reached);
        if (a >= b || !map) continue;
        int64_t disk = cluster_data_sector(chain[k]) + (a - base);
        // Walk the map's blocks over [disk, disk + b - a).
        int64_t pos = disk * SECTOR_SIZE, stop = (disk + b - a) * SECTOR_SIZE;
        while (pos < stop) {
            int64_t next = stop;
            bool unfinished = false;
            if (pos >= map->size()) {
                unfinished = true;
            } else {
                int64_t fp = 0, fs = 0;
                if (find_map_status(*map, MAP_FINISHED, pos, stop, &fp, &fs)) {
                    if (fp == pos) {
                        next = fp + fs;
                    } else {
                        unfinished = true;
                        next = fp;
                    }
                } else {
                    unfinished = true;
                }
            }
            if (unfinished) {
                // Whole sectors: a sector any byte of which is missing is unreadable.
                int64_t s0 = pos / SECTOR_SIZE, s1 = (next + SECTOR_SIZE - 1) / SECTOR_SIZE;
                add_damaged(&r.unreadable, s0, s1 - s0, a + (s0 - disk));
                next = s1 * SECTOR_SIZE;
            }
            pos = next;
        }
    }
    if (reached < end) {
        int64_t a = std::max(from, reached);
        add_damaged(&r.unreadable, -1, end - a, a);
    }
    for (const DamagedRun& d : r.unreadable)
        r.missing += d.count;
    return r;
}

struct Run {
    DiskRescueRequest* request;
    const OperationHooks* hooks;
    RescueRequest passes;
    double last_save = 0;
    bool save_failed = false;
    char save_message[MESSAGE_SIZE] = "";
    int64_t size = 0;
};

// The image's writes are made durable before a map that claims them is saved.
bool save_now(Run* run) {
    if (!flush_disk(run->request->image)) {
        const std::string& reason = last_system_failure().reason;
        put_message(run->save_message, "The system could not confirm the image's writes (%s).",
                    reason.empty() ? "no reason given" : reason.c_str());
        return false;
    }
    return save_rescue_map(run->request->map_path, *run->request->map,
                           run->request->map_comment.c_str(), run->save_message);
}

bool checkpoint(void* context, const RescueMap& map) {
    auto* run = static_cast<Run*>(context);
    double t = now_seconds();
    if (t - run->last_save >= run->request->save_seconds) {
        if (!save_now(run)) {
            run->save_failed = true;
            return false;
        }
        run->last_save = t;
    }
    hook_progress(run->hooks, map_status_bytes(map, MAP_FINISHED), run->size);
    return !hook_cancelled(run->hooks);
}

RescueResult copy_and_split(Run* run, const std::vector<SectorRun>& areas, char* message) {
    RescueResult result = rescue_copy_pass(&run->passes, areas, message);
    if (result == RESCUE_DONE) result = rescue_split_pass(&run->passes, areas, message);
    return result;
}

void tell_refused_direct_reads(Run* run, bool* told) {
    if (*told || run->passes.exact_refusal.empty()) return;
    *told = true;
    std::string text = "Direct reads of the source are refused (" + run->passes.exact_refusal +
                       "); its sectors are read through the system's cache, where one bad "
                       "sector costs its whole 4 KiB page.";
    hook_notice(run->hooks, text.c_str());
}

}  // namespace

std::vector<RecordingRescue> recording_rescue_state(DiskHandle disk, const RescueMap* map) {
    std::vector<RecordingRescue> out;
    std::vector<Listed> listed = listed_recordings(disk, map);
    if (listed.empty()) return out;
    std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[FAT_BYTES]);
    if (!table) return out;
    read_fat_around_damage(disk, map, table.get());
    uint32_t limit = cluster_limit(disk, map);
    for (const Listed& l : listed)
        out.push_back(state_of(l, map, table.get(), limit));
    return out;
}

std::vector<SectorRun> recording_clusters(DiskHandle disk, const RescueMap* map, int number) {
    std::vector<SectorRun> areas;
    std::vector<Listed> listed = listed_recordings(disk, map);
    auto it = std::find_if(listed.begin(), listed.end(),
                           [number](const Listed& l) { return l.number == number; });
    if (it == listed.end()) return areas;
    std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[FAT_BYTES]);
    if (!table) return areas;
    read_fat_around_damage(disk, map, table.get());
    for (uint16_t c : chain_of(table.get(), it->entry.first_cluster, cluster_limit(disk, map))) {
        int64_t first = cluster_first_sector(c);
        if (!areas.empty() && areas.back().first + areas.back().count == first)
            areas.back().count += CLUSTER_SECTORS;
        else
            areas.push_back({first, CLUSTER_SECTORS});
    }
    return areas;
}

std::string recording_rescue_text(const RecordingRescue& r) {
    char head[160];
    double share = r.sectors > 0 ? 100.0 * double(r.sectors - r.missing) / double(r.sectors) : 100;
    // Never "100.00 %" while a sector is missing, never less than it is.
    if (r.missing > 0 && share > 99.99) share = 99.99;
    const char* title = r.entry.display_title[0] ? r.entry.display_title : "no title";
    snprintf(head, sizeof head, "Recording %d (%.60s): %.2f %% rescued", r.number, title, share);
    std::string text = head;
    if (r.missing == 0) return text;
    text += "; unreadable ";
    for (size_t i = 0; i < r.unreadable.size(); ++i) {
        const DamagedRun& d = r.unreadable[i];
        if (i) text += ", ";
        if (i == 8) {
            text += "and " + std::to_string(r.unreadable.size() - 8) + " more ranges";
            break;
        }
        text += recording_time_text(r.entry, d.recording_sector) + " - " +
                recording_time_text(r.entry, d.recording_sector + d.count);
    }
    return text;
}

DiskRescueResult rescue_disk(DiskRescueRequest* request, const OperationHooks* hooks,
                             char* message) {
    DiskRescueResult out;
    Run run;
    run.request = request;
    run.hooks = hooks;
    run.size = request->map->size();
    run.passes.source = request->source;
    run.passes.image = request->image;
    run.passes.map = request->map;
    run.passes.retries = request->retries;
    run.passes.context = &run;
    run.passes.checkpoint = checkpoint;
    // Bad sectors of an earlier run get another round of tries.
    retry_bad_sectors(request->map);
    // A map before the first write: a run that fails at once still leaves one beside the image.
    if (!save_rescue_map(request->map_path, *request->map, request->map_comment.c_str(), message))
        return out;
    run.last_save = now_seconds();
    bool told = false;
    request->current_recording = 0;
    RescueResult result = copy_and_split(&run, {system_area()}, message);
    tell_refused_direct_reads(&run, &told);
    if (result == RESCUE_DONE && !save_now(&run)) run.save_failed = true;
    if (result == RESCUE_DONE && !run.save_failed) {
        // The recordings as the rescued system area tells them, newest first; each whole before
        // the next.
        for (const Listed& l : listed_recordings(request->image, request->map)) {
            std::vector<SectorRun> areas =
                recording_clusters(request->image, request->map, l.number);
            if (areas.empty()) continue;
            request->current_recording = l.number;
            result = copy_and_split(&run, areas, message);
            tell_refused_direct_reads(&run, &told);
            if (result != RESCUE_DONE) break;
            // A recording done is saved at once: a disk that fills up later keeps it.
            if (!save_now(&run)) {
                run.save_failed = true;
                break;
            }
            run.last_save = now_seconds();
            std::vector<RecordingRescue> now = recording_rescue_state(request->image, request->map);
            for (const RecordingRescue& r : now)
                if (r.number == l.number) hook_notice(hooks, recording_rescue_text(r).c_str());
        }
    }
    request->current_recording = 0;
    if (result == RESCUE_DONE && !run.save_failed) {
        int64_t sectors = (run.size + SECTOR_SIZE - 1) / SECTOR_SIZE;
        result = copy_and_split(&run, {{0, sectors}}, message);
        tell_refused_direct_reads(&run, &told);
    }
    finish_rescue_map(request->map);
    out.recordings = recording_rescue_state(request->image, request->map);
    out.map_saved = !run.save_failed && save_now(&run);
    out.status = result;
    if (!out.map_saved) {
        // The map saved before stays; what was read since is read again next time.
        out.map_message = run.save_message;
        if (result != RESCUE_FAILED) put_message(message, "%s", run.save_message);
        out.status = RESCUE_FAILED;
    }
    return out;
}

bool write_domain_map(DiskHandle disk, const std::vector<int>& numbers, const std::string& path,
                      char* message) {
    uint64_t size = 0;
    if (!disk->size_bytes || !disk->size_bytes(disk, &size) || size == 0) {
        put_message(message, "Could not tell the size of the disk.");
        return false;
    }
    std::vector<Listed> listed = listed_recordings(disk, nullptr);
    if (listed.empty() && !is_mediamaster_disk(disk)) {
        put_message(message, "The Table of Contents could not be read: no recordings to choose.");
        return false;
    }
    std::vector<int> chosen = numbers;
    if (chosen.empty())
        for (const Listed& l : listed)
            chosen.push_back(l.number);
    for (int n : chosen)
        if (std::none_of(listed.begin(), listed.end(),
                         [n](const Listed& l) { return l.number == n; })) {
            put_message(message, "There is no readable recording %d on this disk.", n);
            return false;
        }
    RescueMap domain;
    init_rescue_map(&domain, int64_t(size));
    set_map_status(&domain, 0, int64_t(system_area().count) * SECTOR_SIZE, MAP_FINISHED);
    for (int n : chosen)
        for (const SectorRun& r : recording_clusters(disk, nullptr, n))
            set_map_status(&domain, r.first * SECTOR_SIZE, r.count * SECTOR_SIZE, MAP_FINISHED);
    domain.current_status = MAP_FINISHED;
    domain.current_pos = 0;
    return save_rescue_map(path, domain, "Domain: the system area and the chosen recordings",
                           message);
}

}  // namespace quarrow
