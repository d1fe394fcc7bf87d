// Points the drive table at files or devices the test made, for the life of the object: every
// test that lists, erases or opens drives uses it, so that no drive of the machine is named.
#pragma once

#include <string>
#include <vector>

#include "support/temp_files.h"

namespace quarrow::test {

struct ScopedDrives {
    ScopedEnv env;
    explicit ScopedDrives(const std::vector<std::string>& paths)
        : env("QUARROW_DRIVES", drive_list(paths).c_str()) {}
};

}  // namespace quarrow::test
