// Points the drive table at files or devices the test made: QUARROW_DRIVES for the life of the
// object, the previous value restored after. Every test that lists, erases or opens drives
// uses it, so that no drive of the machine is ever named.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace quarrow::test {

#if defined(_WIN32)
constexpr char DRIVE_LIST_SEPARATOR = ';';
inline void set_env(const char* name, const char* value) {
    _putenv_s(name, value ? value : "");
}
#else
constexpr char DRIVE_LIST_SEPARATOR = ':';
inline void set_env(const char* name, const char* value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}
#endif

struct ScopedDrives {
    bool had = false;
    std::string old;
    explicit ScopedDrives(const std::vector<std::string>& paths) {
        if (const char* v = getenv("QUARROW_DRIVES")) {
            had = true;
            old = v;
        }
        std::string list;
        for (const std::string& p : paths) {
            if (!list.empty()) list += DRIVE_LIST_SEPARATOR;
            list += p;
        }
        // An empty table must still be a table: a lone separator names no drive.
        if (list.empty()) list = std::string(1, DRIVE_LIST_SEPARATOR);
        set_env("QUARROW_DRIVES", list.c_str());
    }
    ~ScopedDrives() { set_env("QUARROW_DRIVES", had ? old.c_str() : nullptr); }
    ScopedDrives(const ScopedDrives&) = delete;
    ScopedDrives& operator=(const ScopedDrives&) = delete;
};

}  // namespace quarrow::test
