#include "fs/damaged_disk.h"
#include "fs/allocation_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "disk/system_error.h"
#include "fs/chain_checks.h"
#include "fs/recording_table.h"

namespace quarrow {
namespace {

// Reads sectors, each unreadable or missing one noted in *bad (relative to first).
void read_marking(DiskHandle disk, const RescueMap* map, uint8_t* buffer, int first, int count,
                  std::vector<bool>* bad) {
    bad->assign(size_t(count), false);
    std::vector<SectorRun> failed;
    int64_t got = read_sectors_partial(disk, buffer, first, count, 1, &failed);
    if (got < count) memset(buffer + got * SECTOR_SIZE, 0, size_t(count - got) * SECTOR_SIZE);
    for (int64_t i = got; i < count; ++i)
        (*bad)[size_t(i)] = true;
    for (const SectorRun& r : failed)
        for (int64_t s = r.first; s < r.first + r.count; ++s)
            (*bad)[size_t(s - first)] = true;
    for (int i = 0; i < count; ++i)
        if (sectors_missing(map, first + i, 1)) (*bad)[size_t(i)] = true;
}

// Zeros every sector of [first, first + count) that holds a byte the map does not call finished
// and adds it to *runs, going by the map's blocks rather than sector by sector: a cluster read
// spans thousands of sectors and the map has few blocks.
void zero_unfinished_sectors(const RescueMap& map, int64_t first, int64_t count, uint8_t* buffer,
                             std::vector<SectorRun>* runs) {
    const int64_t from = first * SECTOR_SIZE, end = (first + count) * SECTOR_SIZE;
    auto mark = [&](int64_t a, int64_t b) {  // bytes [a, b), within [from, end)
        int64_t s = a / SECTOR_SIZE, last = (b + SECTOR_SIZE - 1) / SECTOR_SIZE;
        if (!runs->empty() && runs->back().first + runs->back().count > s) {
            // A sector shared with the block before is marked already.
            s = runs->back().first + runs->back().count;
            if (s >= last) return;
        }
        memset(buffer + (s - first) * SECTOR_SIZE, 0, size_t(last - s) * SECTOR_SIZE);
        add_sector_run(runs, s, last - s);
    };
    auto it = std::upper_bound(map.blocks.begin(), map.blocks.end(), from,
                               [](int64_t p, const MapBlock& b) { return p < b.pos; });
    if (it != map.blocks.begin()) --it;
    for (; it != map.blocks.end() && it->pos < end; ++it) {
        int64_t a = std::max(it->pos, from), b = std::min(it->end(), end);
        if (it->status != MAP_FINISHED && a < b) mark(a, b);
    }
    // What the map does not reach was never tried.
    if (end > map.size()) mark(std::max(from, map.size()), end);
}

// Joins two lists of ascending runs into one of ascending runs that neither overlap nor touch.
std::vector<SectorRun> join_runs(const std::vector<SectorRun>& a, const std::vector<SectorRun>& b) {
    std::vector<SectorRun> all(a);
    all.insert(all.end(), b.begin(), b.end());
    std::sort(all.begin(), all.end(),
              [](const SectorRun& x, const SectorRun& y) { return x.first < y.first; });
    std::vector<SectorRun> out;
    for (const SectorRun& r : all) {
        if (!out.empty() && r.first <= out.back().first + out.back().count) {
            out.back().count =
                std::max(out.back().first + out.back().count, r.first + r.count) - out.back().first;
            continue;
        }
        out.push_back(r);
    }
    return out;
}

int count_true(const std::vector<bool>& v) {
    int n = 0;
    for (bool b : v)
        n += b;
    return n;
}

}  // namespace

bool sectors_missing(const RescueMap* map, int64_t first, int64_t count) {
    if (!map) return false;
    return map_unfinished_bytes(*map, first * SECTOR_SIZE, (first + count) * SECTOR_SIZE) > 0;
}

FatDamage read_fat_around_damage(DiskHandle disk, const RescueMap* map, uint8_t* table) {
    FatDamage damage;
    std::vector<bool> bad;
    read_marking(disk, map, table, FAT_SECTOR, FAT_SECTORS, &bad);
    damage.first_table_bad = count_true(bad);
    if (damage.first_table_bad == 0) return damage;
    uint8_t sector[SECTOR_SIZE];
    for (int i = 0; i < FAT_SECTORS; ++i) {
        if (!bad[size_t(i)]) continue;
        std::vector<bool> copy_bad;
        read_marking(disk, map, sector, FAT_COPY_SECTOR + i, 1, &copy_bad);
        if (copy_bad[0]) {
            memset(table + i * SECTOR_SIZE, 0, SECTOR_SIZE);
            ++damage.lost;
        } else {
            memcpy(table + i * SECTOR_SIZE, sector, SECTOR_SIZE);
            ++damage.from_copy;
        }
    }
    return damage;
}

SystemAreaDamage check_system_area(DiskHandle disk, const RescueMap* map) {
    SystemAreaDamage damage;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[FAT_BYTES]);
    if (!buffer) return damage;
    std::vector<bool> bad;
    read_marking(disk, map, buffer.get(), BOOT_AREA, BOOT_AREA_SECTORS, &bad);
    damage.boot_area = count_true(bad) > 0;
    read_marking(disk, map, buffer.get(), FAT_SECTOR, FAT_SECTORS, &bad);
    damage.fat_bad = count_true(bad);
    read_marking(disk, map, buffer.get(), FAT_COPY_SECTOR, FAT_SECTORS, &bad);
    damage.fat_copy_bad = count_true(bad);
    uint8_t toc[TOC_BYTES];
    read_marking(disk, map, toc, TOC_SECTOR, TOC_SECTORS, &bad);
    damage.toc = count_true(bad) > 0;
    if (damage.toc) return damage;
    int n = toc_count(toc);
    if (n > MAX_RECORDINGS) n = MAX_RECORDINGS;
    for (int slot = 0; slot < n; ++slot) {
        uint32_t offset = toc_slot_record_offset(toc, slot);
        if (!record_offset_usable(offset)) continue;
        read_marking(disk, map, buffer.get(), int(TOC_SECTOR + offset), RECORD_SECTORS, &bad);
        damage.records_bad += count_true(bad) > 0;
    }
    return damage;
}

DiskHandle exact_reader_of(DiskHandle disk, UniqueDisk* exact, bool* tried, std::string* refusal) {
    if (!*tried) {
        *tried = true;
        DiskHandle opened = nullptr;
        clear_system_failure();
        if (open_exact_reader(disk, &opened) == EXACT_READER_REFUSED) {
            *refusal = last_system_failure().reason;
            if (refusal->empty()) *refusal = "refused";
        }
        exact->reset(opened);
    }
    return *exact ? exact->get() : disk;
}

int64_t read_damaged(DiskHandle disk, uint8_t* buffer, int64_t first, int64_t count,
                     int64_t recording_sector, DamagedReads* damaged) {
    std::vector<SectorRun> bad;
    int64_t got = 0;
    if (damaged->skip_bad) {
        // Healthy stretches in one cached read; what follows a failure, sector by sector past
        // the cache.
        got = read_sectors(disk, buffer, static_cast<int>(first), static_cast<int>(count),
                           SECTOR_SIZE);
        if (got < count) {
            DiskHandle again = exact_reader_of(disk, &damaged->exact, &damaged->exact_tried,
                                               &damaged->exact_refusal);
            got += read_sectors_partial(again, buffer + got * SECTOR_SIZE, first + got, count - got,
                                        damaged->retries, &bad);
        }
    } else {
        got = read_sectors(disk, buffer, static_cast<int>(first), static_cast<int>(count),
                           SECTOR_SIZE);
        if (got < count) return got;
    }
    // Sectors past the end of an image cut short (a dump of a few clusters) are as lost as
    // unreadable ones: zeros in their place, named, and the operation goes on to what follows.
    if (damaged->skip_bad && got >= 0 && got < count) {
        memset(buffer + got * SECTOR_SIZE, 0, size_t(count - got) * SECTOR_SIZE);
        add_sector_run(&bad, first + got, count - got);
        got = count;
    }
    // Sectors the rescue never copied hold zeros or stale bytes in the image: zeros, and named.
    if (damaged->map &&
        map_unfinished_bytes(*damaged->map, first * SECTOR_SIZE, (first + got) * SECTOR_SIZE) > 0) {
        std::vector<SectorRun> missing;
        zero_unfinished_sectors(*damaged->map, first, got, buffer, &missing);
        bad = join_runs(bad, missing);
    }
    for (const SectorRun& r : bad) {
        int64_t at = recording_sector + (r.first - first);
        std::vector<DamagedRun>& found = damaged->found;
        if (!found.empty() && found.back().disk_sector + found.back().count == r.first &&
            found.back().recording_sector + found.back().count == at)
            found.back().count += r.count;
        else
            found.push_back({r.first, r.count, at});
    }
    return got;
}

std::string recording_time_text(const RecordingEntry& e, int64_t recording_sector) {
    int64_t total = int64_t(e.hours) * 3600 + int64_t(e.minutes) * 60 + e.seconds;
    int64_t at = recording_sector - int64_t(e.start_offset);
    int64_t seconds = e.length > 0 ? at * total / int64_t(e.length) : 0;
    seconds = std::max<int64_t>(0, std::min(seconds, total));
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
             static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

int64_t recording_missing_sectors(const RescueMap& map, const uint8_t* table,
                                  uint16_t first_cluster, uint32_t start, uint32_t length) {
    int64_t missing = 0;
    int64_t from = start, end = int64_t(start) + length;  // recording sectors of the data
    std::vector<bool> seen(size_t(FAT_ENTRIES), false);
    uint16_t c = first_cluster;
    int64_t covered = 0;
    for (int64_t k = 0; c < FAT_ENTRIES && !seen[c] && k * CLUSTER_DATA_SECTORS < end; ++k) {
        seen[c] = true;
        int64_t a = std::max(from, k * CLUSTER_DATA_SECTORS);
        int64_t b = std::min(end, (k + 1) * CLUSTER_DATA_SECTORS);
        if (a < b) {
            int64_t disk = cluster_data_sector(c) + (a - k * CLUSTER_DATA_SECTORS);
            missing += map_unfinished_bytes(map, disk * SECTOR_SIZE, (disk + b - a) * SECTOR_SIZE) /
                       SECTOR_SIZE;
        }
        c = next_cluster(table, c);
        covered = (k + 1) * CLUSTER_DATA_SECTORS;
    }
    // Sectors past the end of the chain the table gives lie in clusters nobody can find: as
    // unreadable as the ones the rescue could not read (a lost table makes them all so).
    if (covered < end) missing += end - std::max(from, covered);
    return missing;
}

std::vector<SectorRun> recording_areas(DiskHandle disk, const RescueMap* map) {
    std::vector<SectorRun> areas;
    uint8_t toc[TOC_BYTES];
    // Another kind of disk has no recordings to put first: its sectors are copied in order.
    if (sectors_missing(map, TOC_SECTOR, TOC_SECTORS) || !is_mediamaster_disk(disk) ||
        !read_toc(disk, toc))
        return areas;
    std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[FAT_BYTES]);
    if (!table) return areas;
    read_fat_around_damage(disk, map, table.get());
    // Without a readable cluster count every link the table holds is followed, each at most once.
    uint16_t last =
        sectors_missing(map, BOOT_AREA, BOOT_AREA_SECTORS) ? 0 : read_last_cluster_index(disk);
    uint32_t limit = last ? uint32_t(last) : uint32_t(MAX_CLUSTER_COUNT - 1);
    std::vector<bool> seen(size_t(FAT_ENTRIES), false);
    int n = toc_count(toc);
    if (n > MAX_RECORDINGS) n = MAX_RECORDINGS;
    RecordingInfoRecord record;
    for (int slot = n - 1; slot >= 0; --slot) {  // the newest recording is the last slot
        uint32_t offset = toc_slot_record_offset(toc, slot);
        if (!record_offset_usable(offset)) continue;
        int sector = int(TOC_SECTOR + offset);
        if (sectors_missing(map, sector, RECORD_SECTORS) ||
            read_sectors(disk, record.bytes, sector, RECORD_SECTORS, SECTOR_SIZE) != RECORD_SECTORS)
            continue;
        uint16_t c = static_cast<uint16_t>(read_be16(record.bytes + REC_FIRST_CLUSTER));
        while (c != NO_CLUSTER && c <= limit && !seen[c]) {
            seen[c] = true;
            int64_t first = cluster_first_sector(c);
            if (!areas.empty() && areas.back().first + areas.back().count == first)
                areas.back().count += CLUSTER_SECTORS;
            else
                areas.push_back({first, CLUSTER_SECTORS});
            c = next_cluster(table.get(), c);
        }
    }
    return areas;
}

}  // namespace quarrow
