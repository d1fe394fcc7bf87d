// The words of a progress report, shared by the command line's bar and the Windows program's
// status line: how much of the work is done (MB, or units for work not counted in bytes), the
// pace, and the time left or, at the end, the time taken. Pure formatting: the caller measures.
#pragma once

#include <cstdint>
#include <string>

namespace quarrow {

struct ProgressFigures {
    int64_t done = 0;
    int64_t total = 0;
    // Bytes a unit stands for; 0 or less for work counted in units (the clusters a scan looks at).
    int64_t bytes_per_unit = 512;
    const char* unit = "sectors";
    double elapsed_seconds = 0;
    // The last report: the time taken instead of the time left.
    bool final_line = false;
};

// "12 s", "4:05", "1:02:03".
std::string duration_text(double seconds);

// "12.0 of 100.0 MB  3.2 MB/s  0:27 left" (done is clamped to total).
std::string progress_text(const ProgressFigures& figures);

}  // namespace quarrow
