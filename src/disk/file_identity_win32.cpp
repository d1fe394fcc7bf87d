#include <windows.h>

#include "disk/file_identity.h"

namespace quarrow {

// Shared with sector_access_win32.cpp, which has the handle of an open disk. Raw drives
// ("\\.\PhysicalDriveN") give no file information and stay unknown.
bool identity_from_handle(HANDLE h, FileIdentity* out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    *out = FileIdentity{};
    out->volume = info.dwVolumeSerialNumber;
    out->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    out->mode_writable = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    return true;
}

bool path_identity(const char* path, FileIdentity* out) {
    if (!path || !*path) return false;
    // No access rights asked: the identity of a file another program holds open can be read too;
    // backup semantics let a folder be opened for its identity as well.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = identity_from_handle(h, out);
    CloseHandle(h);
    return ok;
}

}  // namespace quarrow
