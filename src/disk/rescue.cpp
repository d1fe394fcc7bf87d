#include "disk/rescue.h"

#include "disk/system_error.h"

#include <algorithm>
#include <memory>
#include <new>

namespace quarrow {
namespace {

bool write_image(RescueRequest* r, int64_t pos, const uint8_t* bytes, int64_t len, char* message) {
    if (len <= 0) return true;
    clear_system_failure();
    int64_t moved = r->image->write_at(r->image, pos, bytes, static_cast<uint32_t>(len));
    if (moved == len) return true;
    const std::string& reason = last_system_failure().reason;
    put_message(
        message, "Could not write %lld bytes to the image at byte %lld (%s).",
        static_cast<long long>(len), static_cast<long long>(pos),
        reason.empty() ? (moved >= 0 ? "the write was cut short" : "refused") : reason.c_str());
    return false;
}

bool keep_going(RescueRequest* r) {
    return !r->checkpoint || r->checkpoint(r->context, *r->map);
}

std::unique_ptr<uint8_t[]> buffer_of(int64_t sectors, char* message) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(sectors) * SECTOR_SIZE]);
    if (!buffer) put_message(message, "Not enough memory for the rescue's buffer.");
    return buffer;
}

// Bytes of an area within the map.
void area_bytes(const RescueMap& map, const SectorRun& area, int64_t* from, int64_t* end) {
    *from = std::min(area.first * SECTOR_SIZE, map.size());
    *end = std::min((area.first + area.count) * SECTOR_SIZE, map.size());
}

// The first block still to split in [from, end): non-trimmed or non-scraped, whichever comes first.
bool next_to_split(const RescueMap& map, int64_t from, int64_t end, int64_t* pos, int64_t* size) {
    int64_t p1 = 0, s1 = 0, p2 = 0, s2 = 0;
    bool a = find_map_status(map, MAP_NON_TRIMMED, from, end, &p1, &s1);
    bool b = find_map_status(map, MAP_NON_SCRAPED, from, end, &p2, &s2);
    if (!a && !b) return false;
    if (a && (!b || p1 < p2)) {
        *pos = p1;
        *size = s1;
    } else {
        *pos = p2;
        *size = s2;
    }
    return true;
}

// A piece shorter than a sector (the source's last bytes, or the edge of a block of a map that
// is not sector-aligned): one read, finished or bad as a whole.
bool split_piece(RescueRequest* r, uint8_t* buffer, int64_t pos, int64_t len, char* message) {
    if (len <= 0) return true;
    DiskHandle source = r->exact ? r->exact.get() : r->source;
    int64_t moved = source->read_at(source, pos, buffer, static_cast<uint32_t>(len));
    if (moved == len) {
        if (!write_image(r, pos, buffer, len, message)) return false;
        set_map_status(r->map, pos, len, MAP_FINISHED);
    } else {
        set_map_status(r->map, pos, len, MAP_BAD);
    }
    return true;
}

// One unit of the splitting pass: whole sectors read by halving, readable runs written and
// finished, unreadable sectors bad.
bool split_unit(RescueRequest* r, uint8_t* buffer, int64_t pos, int64_t len, char* message) {
    int64_t head = pos % SECTOR_SIZE ? std::min(len, SECTOR_SIZE - pos % SECTOR_SIZE) : 0;
    if (!split_piece(r, buffer, pos, head, message)) return false;
    pos += head;
    len -= head;
    int64_t first = pos / SECTOR_SIZE;
    int64_t whole = len / SECTOR_SIZE;
    std::vector<SectorRun> bad;
    int64_t got = whole > 0 ? read_sectors_partial(r->exact ? r->exact.get() : r->source, buffer,
                                                   first, whole, r->retries, &bad)
                            : 0;
    // Write the readable runs between the bad ones: the image keeps holes where nothing was read.
    int64_t at = first;
    for (size_t i = 0; i <= bad.size(); ++i) {
        int64_t run_end = i < bad.size() ? bad[i].first : first + got;
        if (run_end > at) {
            const uint8_t* bytes = buffer + (at - first) * SECTOR_SIZE;
            if (!write_image(r, at * SECTOR_SIZE, bytes, (run_end - at) * SECTOR_SIZE, message))
                return false;
            set_map_status(r->map, at * SECTOR_SIZE, (run_end - at) * SECTOR_SIZE, MAP_FINISHED);
        }
        if (i < bad.size()) {
            set_map_status(r->map, bad[i].first * SECTOR_SIZE, bad[i].count * SECTOR_SIZE, MAP_BAD);
            at = bad[i].first + bad[i].count;
        }
    }
    if (got < whole) {
        // The source ended before the map does: what it would not deliver is bad.
        set_map_status(r->map, pos + got * SECTOR_SIZE, len - got * SECTOR_SIZE, MAP_BAD);
        return true;
    }
    return split_piece(r, buffer, pos + whole * SECTOR_SIZE, len - whole * SECTOR_SIZE, message);
}

// Bytes of [pos, pos + len) copied to the image inside the system and finished in the map.
int64_t copy_in_system(RescueRequest* r, int64_t pos, int64_t len) {
    if (!r->copy_in_system || !r->source->copy_to) return 0;
    int64_t copied = r->source->copy_to(r->source, r->image, pos, static_cast<uint32_t>(len));
    if (copied < len) r->copy_in_system = false;
    if (copied <= 0) return 0;
    set_map_status(r->map, pos, copied, MAP_FINISHED);
    return copied;
}

void open_exact(RescueRequest* r) {
    if (r->exact_tried) return;
    r->exact_tried = true;
    DiskHandle exact = nullptr;
    clear_system_failure();
    if (open_exact_reader(r->source, &exact) == EXACT_READER_REFUSED) {
        r->exact_refusal = last_system_failure().reason;
        if (r->exact_refusal.empty()) r->exact_refusal = "refused";
    }
    r->exact.reset(exact);
}

}  // namespace

RescueResult rescue_copy_pass(RescueRequest* r, const std::vector<SectorRun>& areas,
                              char* message) {
    std::unique_ptr<uint8_t[]> buffer = buffer_of(r->copy_sectors, message);
    if (!buffer) return RESCUE_FAILED;
    RescueMap& map = *r->map;
    int64_t chunk = r->copy_sectors * SECTOR_SIZE;
    for (const SectorRun& area : areas) {
        int64_t from = 0, end = 0, pos = 0, size = 0;
        area_bytes(map, area, &from, &end);
        while (find_map_status(map, MAP_NON_TRIED, from, end, &pos, &size)) {
            int64_t len = std::min(size, chunk);
            int64_t copied = copy_in_system(r, pos, len);
            int64_t rest = len - copied;
            int64_t moved = rest > 0 ? r->source->read_at(r->source, pos + copied, buffer.get(),
                                                          static_cast<uint32_t>(rest))
                                     : 0;
            if (moved > 0) {
                if (!write_image(r, pos + copied, buffer.get(), moved, message))
                    return RESCUE_FAILED;
                set_map_status(&map, pos + copied, moved, MAP_FINISHED);
            }
            // A failed read, or the rest of one that stopped early: skipped now, split later.
            if (moved < rest) {
                int64_t good = copied + (moved > 0 ? moved : 0);
                set_map_status(&map, pos + good, len - good, MAP_NON_TRIMMED);
            }
            map.current_pos = pos + len;
            map.current_status = MAP_NON_TRIED;
            from = pos + len;
            if (!keep_going(r)) return RESCUE_STOPPED;
        }
    }
    return RESCUE_DONE;
}

RescueResult rescue_split_pass(RescueRequest* r, const std::vector<SectorRun>& areas,
                               char* message) {
    std::unique_ptr<uint8_t[]> buffer = buffer_of(r->split_sectors + 1, message);
    if (!buffer) return RESCUE_FAILED;
    RescueMap& map = *r->map;
    int64_t unit = r->split_sectors * SECTOR_SIZE;
    for (const SectorRun& area : areas) {
        int64_t from = 0, end = 0, pos = 0, size = 0;
        area_bytes(map, area, &from, &end);
        while (next_to_split(map, from, end, &pos, &size)) {
            open_exact(r);
            int64_t len = std::min(size, unit);
            map.current_pos = pos;
            map.current_status = MAP_NON_SCRAPED;
            if (!split_unit(r, buffer.get(), pos, len, message)) return RESCUE_FAILED;
            from = pos + len;
            if (!keep_going(r)) return RESCUE_STOPPED;
        }
    }
    return RESCUE_DONE;
}

void retry_bad_sectors(RescueMap* map) {
    std::vector<MapBlock> blocks;
    for (MapBlock b : map->blocks) {
        if (b.status == MAP_BAD) b.status = MAP_NON_SCRAPED;
        if (!blocks.empty() && blocks.back().status == b.status)
            blocks.back().size += b.size;
        else
            blocks.push_back(b);
    }
    map->blocks = std::move(blocks);
}

void finish_rescue_map(RescueMap* map) {
    for (const MapBlock& b : map->blocks)
        if (b.status == MAP_NON_TRIED || b.status == MAP_NON_TRIMMED || b.status == MAP_NON_SCRAPED)
            return;
    map->current_status = MAP_FINISHED;
    map->current_pos = map->size();
}

}  // namespace quarrow
