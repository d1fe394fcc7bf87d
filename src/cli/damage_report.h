// What the commands that read a damaged disk share: the --map option (the map of an image made by
// 'quarrow rescue' or GNU ddrescue) and the report of what was unreadable, with the recording
// times that the damaged sectors stand for.
#pragma once

#include <cstdint>
#include <string>

#include "disk/rescue_map.h"
#include "fs/damaged_disk.h"
#include "fs/recording_table.h"

namespace quarrow::cli {

// Reads the map file; prints why on stderr and gives false when it cannot be read or parsed.
bool load_map_option(const std::string& path, RescueMap* map);

// Before the image is opened: true, with the reason on stderr, when the map says the Table of
// Contents was not rescued (unreadable, not tried, or past the map's end). The image then holds
// zeros there, and its refusal would otherwise blame a missing signature.
bool refuse_unrescued_toc(const std::string& path, const RescueMap& map);

// Fits the map to the opened image: a map of more bytes than the image is refused naming both
// sizes; a shorter one (or an empty one) is taken, the bytes it does not reach counting as not
// tried, that is unreadable, with a notice. False with the reason on stderr.
bool fit_map_option(const std::string& path, DiskHandle disk, RescueMap* map);

// The recording time, HH:MM:SS, that a sector of the recording stands for, estimated from its
// place between the recording's start offset and its end.
std::string recording_time(const RecordingEntry& e, int64_t recording_sector);

// Prints on stderr what the damaged reads found within the recording's sectors [from, to): the
// allocation table's unreadable sectors, then each damaged time range. Gives the number of
// unreadable sectors (0: nothing was damaged).
int64_t report_damage(const DamagedReads& damaged, const RecordingEntry& e, int64_t from,
                      int64_t to);

// One line on the system area's state by the map: "whole", or which parts hold unreadable sectors.
std::string system_area_text(const SystemAreaDamage& d);

}  // namespace quarrow::cli
