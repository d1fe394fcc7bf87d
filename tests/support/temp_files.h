// Temporary files and environment for tests that go through the real platform layer: image files
// (sparse where large), drive tables named through QUARROW_DRIVES, and the command-line program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow::test {

// A fresh directory under the system's temporary folder, removed with everything in it when the
// object goes.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // path + separator + name.
    std::string file(const std::string& name) const;
};

// Sets (or, with a null value, removes) an environment variable for the object's lifetime, then
// restores what was there.
struct ScopedEnv {
    std::string name;
    bool had = false;
    std::string old;
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
};

// The separator of QUARROW_DRIVES: ':' on POSIX, ';' on Windows (where paths hold colons).
char drive_list_separator();
// QUARROW_DRIVES text for these paths, in drive order; for no paths, no_drives().
std::string drive_list(const std::vector<std::string>& paths);
// QUARROW_DRIVES text that names no drive: one empty entry (a drive 0 that does not open).
// An empty value cannot be used: Windows removes a variable set to "", and the program would then
// reach the machine's real drives.
std::string no_drives();

// Text that tells this process from others (its process id), for naming temporary files that
// test programs running at the same time on one machine must not share.
std::string process_tag();

// Writes bytes to a new file (replacing it); false on failure.
bool write_file(const std::string& path, const std::vector<uint8_t>& bytes);
// Makes the file exactly size bytes long, extending with a hole or cutting.
bool resize_file(const std::string& path, uint64_t size);
// The file's size in bytes; -1 when it cannot be asked.
int64_t file_size(const std::string& path);
// Reads len bytes at a 64-bit offset, independently of the code under test.
std::vector<uint8_t> read_file_at(const std::string& path, uint64_t offset, size_t len);

}  // namespace quarrow::test
