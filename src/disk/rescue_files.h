// The two files of a rescue, for both programs: the checks made before anything is written (an
// output that is the disk being rescued, one that is not a regular file, image and map one
// file), the map that exists loaded so that the rescue resumes, and the image opened under the
// one-writer lock and grown to the source's size.
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

// Opens (creating it where missing) the image for writing under the one-writer lock, and only
// then grows it to size: an image another rescue holds is left as it is. Null with the reason in
// message when it cannot be had.
DiskHandle open_rescue_image(const std::string& path, int64_t size, std::string* message);

// "1.5 MB", or "512 B" below a MiB: the sizes a rescue's progress and result show.
std::string rescue_size_text(int64_t bytes);

}  // namespace quarrow
