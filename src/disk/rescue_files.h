// The two files of a rescue, for both programs: the checks made before anything is written (an
// output that is the disk being rescued, one that is not a regular file, image and map one
// file) and the map that exists loaded so that the rescue resumes; the image itself is opened
// through the disk session (open_rescue_image).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/rescue_map.h"
#include "disk/sector_access.h"

namespace quarrow {

enum class RescueSetup {
    ready,          // the map is loaded (resumed) or started
    refused,        // the files cannot be used as given: the user must name others
    failed,         // the map could not be read, or belongs to another disk
    needs_consent,  // the image exists without its map: writing into it starts over
};

// Checks image and map_path against source (size bytes) and loads the map when it exists, else
// starts it when the image does not exist or consent is given (the user agreed to start over).
// message: why it is refused or failed, or the question needing consent; notices: what the user
// should read on the way (the rescue resumes, rescued bytes past a short image's end are read
// again).
RescueSetup prepare_rescue_files(DiskHandle source, int64_t size, const std::string& image,
                                 const std::string& map_path, bool consent, RescueMap* map,
                                 std::string* message, std::vector<std::string>* notices);

// How both programs refuse an output of a rescue: the disk being rescued itself, or something
// that is not a regular file (a device node would be overwritten).
std::string rescue_output_is_source(const std::string& path);
std::string rescue_output_not_regular(const std::string& path);

// "3.1 MB/s, 0:09 left": the pace of the bytes rescued in elapsed seconds and the time the
// bytes left would take at it ("--:--" until half a second has passed).
std::string rescue_pace_text(int64_t rescued, int64_t left, double elapsed);

// "1.5 MB", or "512 B" below a MiB: the sizes a rescue's progress and result show.
std::string rescue_size_text(int64_t bytes);

}  // namespace quarrow
