// The map of a rescue: which bytes of the source have been copied to the image, which failed and
// which are still to be tried, in GNU ddrescue's mapfile format, so that ddrescue, ddrescuelog
// and quarrow read and continue each other's maps. Knows nothing of the disk format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/sector_access.h"

namespace quarrow {

// Status of a block of the map, as the mapfile writes it.
constexpr char MAP_NON_TRIED = '?';    // not read yet
constexpr char MAP_NON_TRIMMED = '*';  // a large read failed here; not split yet
constexpr char MAP_NON_SCRAPED = '/';  // split, but sectors inside still to read one by one
constexpr char MAP_BAD = '-';          // sectors that failed every read
constexpr char MAP_FINISHED = '+';     // copied to the image

struct MapBlock {
    int64_t pos;
    int64_t size;
    char status;
    int64_t end() const { return pos + size; }
};

struct RescueMap {
    // Where the rescue was and in which phase ('?' copying, '*' trimming, '/' scraping,
    // '-' retrying, 'F' filling, 'G' generating, '+' finished) and pass; ddrescue reads these to
    // continue where it stopped.
    int64_t current_pos = 0;
    char current_status = MAP_NON_TRIED;
    int current_pass = 1;
    // Ascending and contiguous from byte 0; neighbours never share a status.
    std::vector<MapBlock> blocks;
    int64_t size() const { return blocks.empty() ? 0 : blocks.back().end(); }
};

// A map of size bytes that nothing has been tried of.
void init_rescue_map(RescueMap* map, int64_t size);

// Parses a mapfile's text. Comment lines (#) and blank lines are skipped; the first other line is
// the current position, status and optional pass; the others are blocks "pos size status", each
// starting where the one before it ends, numbers in C notation (0x hexadecimal as ddrescue writes
// them, or decimal). Bytes before the first block are not tried; neighbours of one status are
// joined, so that formatting the map and parsing it again gives the same map. A gap, an overlap
// or an empty block is refused, as ddrescuelog refuses it. False with a message naming the line.
bool parse_rescue_map(const std::string& text, RescueMap* map, char* message);

// The mapfile text of a map, as ddrescue writes it.
std::string format_rescue_map(const RescueMap& map, const char* comment);

// Makes the map cover exactly size bytes: what it does not name is not tried. False when the map
// names bytes past size (a map of another, larger source).
bool fit_rescue_map(RescueMap* map, int64_t size);

// Gives bytes pos ... pos + size - 1 the status, within the map's size.
void set_map_status(RescueMap* map, int64_t pos, int64_t size, char status);

// The first stretch of blocks of the status inside [from, end), cut to that window: its position
// and size; false when there is none.
bool find_map_status(const RescueMap& map, char status, int64_t from, int64_t end, int64_t* pos,
                     int64_t* size);

// Bytes of the status in the whole map.
int64_t map_status_bytes(const RescueMap& map, char status);

// Bytes of [from, end) that are not finished ('?', '*', '/' or '-'): unreadable or unread. Bytes
// past the map's end count as not tried.
int64_t map_unfinished_bytes(const RescueMap& map, int64_t from, int64_t end);

// Finished bytes at pos and after it, and the end of the last finished block (0: none): what an
// image cut short at pos has lost of what the map calls rescued.
int64_t map_finished_past(const RescueMap& map, int64_t pos);
int64_t map_finished_end(const RescueMap& map);

// Saves the map as path: written beside it under a temporary name, flushed, and renamed over the
// old map only when whole, so that a failed save (a full disk) keeps the map saved before and
// leaves no temporary file. False with a message naming the system's reason.
bool save_rescue_map(const std::string& path, const RescueMap& map, const char* comment,
                     char* message);

}  // namespace quarrow
