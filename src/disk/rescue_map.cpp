#include "disk/rescue_map.h"

#include "disk/output_file.h"
#include "disk/system_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarrow {
namespace {

bool is_block_status(char c) {
    return strchr("?*/-+", c) != nullptr && c != 0;
}

bool is_current_status(char c) {
    return strchr("?*/-FG+", c) != nullptr && c != 0;
}

// A number in C notation at p (after blanks); false when there is none or it is negative or
// does not fit.
bool parse_number(const char*& p, int64_t* value) {
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(p, &end, 0);
    if (end == p || errno == ERANGE || v < 0) return false;
    p = end;
    *value = v;
    return true;
}

bool parse_char(const char*& p, char* c) {
    while (*p == ' ' || *p == '\t')
        ++p;
    if (!*p || *p == '\n' || *p == '\r') return false;
    *c = *p++;
    return true;
}

// The rest of a line may hold only blanks.
bool rest_is_blank(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\r')
        ++p;
    return *p == 0;
}

// Index of the block that holds byte pos (the map covers it).
size_t block_at(const RescueMap& map, int64_t pos) {
    auto it = std::upper_bound(map.blocks.begin(), map.blocks.end(), pos,
                               [](int64_t p, const MapBlock& b) { return p < b.pos; });
    return static_cast<size_t>(it - map.blocks.begin()) - 1;
}

// Joins neighbours of one status between indexes from and to (inclusive, clipped).
void merge_around(RescueMap* map, size_t from, size_t to) {
    auto& b = map->blocks;
    if (to >= b.size()) to = b.size() - 1;
    for (size_t i = to; i > from && i < b.size(); --i) {
        if (b[i - 1].status == b[i].status) {
            b[i - 1].size += b[i].size;
            b.erase(b.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

}  // namespace

void init_rescue_map(RescueMap* map, int64_t size) {
    *map = RescueMap{};
    if (size > 0) map->blocks.push_back({0, size, MAP_NON_TRIED});
}

bool parse_rescue_map(const std::string& text, RescueMap* map, char* message) {
    RescueMap parsed;
    bool have_current = false;
    int line_number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(start, nl - start);
        start = nl + 1;
        ++line_number;
        const char* p = line.c_str();
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '#' || rest_is_blank(p)) continue;
        if (!have_current) {
            int64_t pos = 0, pass = 1;
            char status = 0;
            if (!parse_number(p, &pos) || !parse_char(p, &status) || !is_current_status(status)) {
                put_message(message, "Map file line %d: expected the current position and status.",
                            line_number);
                return false;
            }
            const char* q = p;
            if (parse_number(q, &pass)) p = q;
            if (!rest_is_blank(p) || pass < 1 || pass > INT32_MAX) {
                put_message(message, "Map file line %d: unexpected text after the status.",
                            line_number);
                return false;
            }
            parsed.current_pos = pos;
            parsed.current_status = status;
            parsed.current_pass = static_cast<int>(pass);
            have_current = true;
            continue;
        }
        int64_t pos = 0, size = 0;
        char status = 0;
        if (!parse_number(p, &pos) || !parse_number(p, &size) || !parse_char(p, &status) ||
            !rest_is_blank(p)) {
            put_message(message, "Map file line %d: expected a block: position, size, status.",
                        line_number);
            return false;
        }
        if (!is_block_status(status)) {
            put_message(message, "Map file line %d: unknown status '%c'.", line_number, status);
            return false;
        }
        if (size <= 0 || pos > INT64_MAX - size) {
            put_message(message, "Map file line %d: empty block, or one past the largest size.",
                        line_number);
            return false;
        }
        // Blocks follow each other without a gap or an overlap, as ddrescue writes them; only
        // the first may start late (a map of a part of the disk): what lies before it is not
        // tried.
        if (parsed.blocks.empty() && pos > 0) {
            parsed.blocks.push_back({0, pos, MAP_NON_TRIED});
        } else if (pos != parsed.size()) {
            put_message(message,
                        "Map file line %d: the block starts at byte %lld, the one before it ends "
                        "at %lld.",
                        line_number, static_cast<long long>(pos),
                        static_cast<long long>(parsed.size()));
            return false;
        }
        if (!parsed.blocks.empty() && parsed.blocks.back().status == status)
            parsed.blocks.back().size += size;
        else
            parsed.blocks.push_back({pos, size, status});
    }
    if (!have_current) {
        put_message(message, "Map file holds no current position: not a rescue map.");
        return false;
    }
    *map = std::move(parsed);
    return true;
}

std::string format_rescue_map(const RescueMap& map, const char* comment) {
    std::string out = "# Mapfile. Created by Quarrow rescue\n";
    if (comment && *comment) out += std::string("# ") + comment + "\n";
    char line[128];
    out += "# current_pos  current_status  current_pass\n";
    snprintf(line, sizeof line, "0x%08llX     %c               %d\n",
             static_cast<unsigned long long>(map.current_pos), map.current_status,
             map.current_pass);
    out += line;
    out += "#      pos        size  status\n";
    for (const MapBlock& b : map.blocks) {
        snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n",
                 static_cast<unsigned long long>(b.pos), static_cast<unsigned long long>(b.size),
                 b.status);
        out += line;
    }
    return out;
}

bool fit_rescue_map(RescueMap* map, int64_t size) {
    if (map->size() > size) return false;
    if (map->size() < size) {
        if (!map->blocks.empty() && map->blocks.back().status == MAP_NON_TRIED)
            map->blocks.back().size += size - map->size();
        else
            map->blocks.push_back({map->size(), size - map->size(), MAP_NON_TRIED});
    }
    return true;
}

void set_map_status(RescueMap* map, int64_t pos, int64_t size, char status) {
    int64_t end = pos + size;
    if (pos < 0) pos = 0;
    if (end > map->size()) end = map->size();
    if (pos >= end) return;
    auto& b = map->blocks;
    size_t i = block_at(*map, pos);
    size_t j = block_at(*map, end - 1);
    MapBlock first = b[i], last = b[j];
    std::vector<MapBlock> middle;
    if (first.pos < pos) middle.push_back({first.pos, pos - first.pos, first.status});
    middle.push_back({pos, end - pos, status});
    if (last.end() > end) middle.push_back({end, last.end() - end, last.status});
    b.erase(b.begin() + static_cast<std::ptrdiff_t>(i),
            b.begin() + static_cast<std::ptrdiff_t>(j) + 1);
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(i), middle.begin(), middle.end());
    merge_around(map, i > 0 ? i - 1 : 0, i + middle.size());
}

bool find_map_status(const RescueMap& map, char status, int64_t from, int64_t end, int64_t* pos,
                     int64_t* size) {
    if (from < 0) from = 0;
    if (end > map.size()) end = map.size();
    if (from >= end) return false;
    for (size_t i = block_at(map, from); i < map.blocks.size(); ++i) {
        const MapBlock& b = map.blocks[i];
        if (b.pos >= end) break;
        if (b.status != status) continue;
        *pos = std::max(b.pos, from);
        *size = std::min(b.end(), end) - *pos;
        return true;
    }
    return false;
}

int64_t map_status_bytes(const RescueMap& map, char status) {
    int64_t total = 0;
    for (const MapBlock& b : map.blocks)
        if (b.status == status) total += b.size;
    return total;
}

int64_t map_unfinished_bytes(const RescueMap& map, int64_t from, int64_t end) {
    if (from < 0) from = 0;
    if (from >= end) return 0;
    // What the map does not reach was never tried.
    int64_t total = end > map.size() ? end - std::max(from, map.size()) : 0;
    if (end > map.size()) end = map.size();
    if (from >= end) return total;
    for (size_t i = block_at(map, from); i < map.blocks.size(); ++i) {
        const MapBlock& b = map.blocks[i];
        if (b.pos >= end) break;
        if (b.status != MAP_FINISHED) total += std::min(b.end(), end) - std::max(b.pos, from);
    }
    return total;
}

int64_t map_finished_past(const RescueMap& map, int64_t pos) {
    int64_t total = 0;
    for (const MapBlock& b : map.blocks)
        if (b.status == MAP_FINISHED && b.end() > pos) total += b.end() - std::max(b.pos, pos);
    return total;
}

int64_t map_finished_end(const RescueMap& map) {
    for (auto it = map.blocks.rbegin(); it != map.blocks.rend(); ++it)
        if (it->status == MAP_FINISHED) return it->end();
    return 0;
}

bool save_rescue_map(const std::string& path, const RescueMap& map, const char* comment,
                     char* message) {
    clear_system_failure();
    const std::string text = format_rescue_map(map, comment);
    OutputFilePtr file(begin_output_file(path.c_str()));
    bool ok = file && output_write(file.get(), text.data(), text.size()) &&
              output_flush(file.get()) && commit_output_file(file.release());
    if (ok) return true;
    const std::string& reason = last_system_failure().reason;
    // The reason first: a long path is what the message buffer cuts.
    put_message(message, "Could not write the map (%s): %s",
                reason.empty() ? "the system gave no reason" : reason.c_str(), path.c_str());
    return false;
}

}  // namespace quarrow
