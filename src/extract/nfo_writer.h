// The .nfo file media libraries (Kodi, Jellyfin, Emby) read beside a video: a "movie" document
// with the recording's title, its channel as the studio, the day it was broadcast, its running
// time in minutes and its attributes as the list shows them ("Permanent, Locked") as tags. UTF-8
// XML, written under the output file rule like every output.
#pragma once

#include <cstdint>
#include <string>

#include "fs/recording_table.h"

namespace quarrow {

// The document for a recording; start_unix is its start in seconds since 1970 (UTC), -1 when
// unknown (the dates are then left out). The disk's Latin-1 texts become UTF-8, with the
// characters XML reserves escaped and control codes made spaces.
std::string nfo_document(const RecordingEntry& entry, int64_t start_unix);

// Writes the document to final_name, complete or not at all, dated with the start when known;
// false when the file could not be written.
bool write_nfo_file(const char* final_name, const RecordingEntry& entry, int64_t start_unix);

}  // namespace quarrow
