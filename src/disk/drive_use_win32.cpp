// Win32 half of the drive claim: a physical drive is in use when a volume with a drive letter
// (the Windows volume among them) lies on it. Files standing for drives (QUARROW_DRIVES) carry
// no volumes.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "disk/drive_use.h"
#include "disk/sector_access.h"

namespace quarrow {
namespace {

// The N of "\\.\PhysicalDriveN"; false for any other path.
bool physical_drive_number(const char* path, DWORD* number) {
    static const char prefix[] = "\\\\.\\PhysicalDrive";
    size_t n = sizeof prefix - 1;
    if (_strnicmp(path, prefix, n) != 0 || path[n] < '0' || path[n] > '9') return false;
    char* end = nullptr;
    unsigned long v = strtoul(path + n, &end, 10);
    if (*end) return false;
    *number = static_cast<DWORD>(v);
    return true;
}

// Whether the volume of a drive letter has an extent on physical drive number. A volume that
// cannot be asked (no medium, a network drive, a driver without the request) has none.
bool volume_on_drive(char letter, DWORD number) {
    char volume[8];
    snprintf(volume, sizeof volume, "\\\\.\\%c:", letter);
    HANDLE h = CreateFileA(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // Room for a volume spanning up to 32 disks.
    union {
        VOLUME_DISK_EXTENTS extents;
        unsigned char bytes[sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT)];
    } out;
    memset(&out, 0, sizeof out);
    DWORD got = 0;
    bool on = false;
    if (DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &out, sizeof out, &got,
                        nullptr)) {
        DWORD count = out.extents.NumberOfDiskExtents;
        if (count > 32) count = 32;
        for (DWORD i = 0; i < count; ++i)
            if (out.extents.Extents[i].DiskNumber == number) on = true;
    }
    CloseHandle(h);
    return on;
}

}  // namespace

bool claim_drive(int drive, const char* path, DriveClaim* claim, char* message) {
    claim->token = -1;
    if (!path) {
        put_message(message, "Could not open drive %d. Nothing was erased.", drive);
        return false;
    }
    DWORD number = 0;
    if (!physical_drive_number(path, &number)) return true;
    DWORD letters = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(letters & (1u << i))) continue;
        char letter = static_cast<char>('A' + i);
        if (volume_on_drive(letter, number)) {
            put_message(message, "Drive %d is in use: volume %c: lies on it. Nothing was erased.",
                        drive, letter);
            return false;
        }
    }
    return true;
}

bool release_drive_claim(DriveClaim* claim) {
    claim->token = -1;
    return true;
}

}  // namespace quarrow
