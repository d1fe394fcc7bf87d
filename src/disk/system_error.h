// The operating system's own reason for the last open, read or write of this thread that failed,
// kept by the platform halves of sector access where the failing call was made. The operations
// report their fixed texts ("Could not create output file.", "Error while writing to disk."); the
// command line adds this reason and the path after them. Implemented in system_error_posix.cpp
// (strerror) and system_error_win32.cpp (FormatMessage).
#pragma once

#include <string>

namespace quarrow {

struct SystemFailure {
    std::string path;    // the file or device whose open failed; empty for a transfer
    std::string reason;  // "No space left on device"; empty when nothing failed
};

// Records the system's current error (errno / GetLastError) for path (may be null).
void note_system_failure(const char* path);
// Records a reason of the program's own ("it is a directory").
void note_failure_reason(const char* path, const char* reason);
// What failed last on this thread since clear_system_failure.
const SystemFailure& last_system_failure();
void clear_system_failure();

}  // namespace quarrow
