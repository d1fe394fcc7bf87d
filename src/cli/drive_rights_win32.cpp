// Windows: quarrow-cli.exe runs with the rights of its console, and a console that was not opened
// with "Run as administrator" gets ERROR_ACCESS_DENIED for \\.\PhysicalDriveN; the user is told
// how to run it elevated.
#include <windows.h>

#include <cstring>
#include <iostream>

#include "cli/cli_common.h"

namespace quarrow::cli {

bool explain_refused_drive(const char* path) {
    // Only devices (\\.\PhysicalDriveN and the like): a refused image file has other causes.
    if (!path || strncmp(path, "\\\\.\\", 4) != 0) return false;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    std::cerr << "Access denied opening " << path
              << ": reading a physical drive needs administrator rights. Open a Command Prompt "
                 "with \"Run as administrator\" and run quarrow-cli.exe again.\n";
    return true;
}

}  // namespace quarrow::cli
