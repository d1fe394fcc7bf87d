// Win32 half of sector access: CreateFileA handles on "\\.\PhysicalDriveN" and on files,
// SetFilePointer with 64-bit positions, ReadFile/WriteFile, the drive geometry ioctl.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "disk/drive_list.h"
#include "disk/file_identity.h"
#include "disk/sector_access.h"
#include "disk/system_error.h"

namespace quarrow {

bool identity_from_handle(HANDLE h, FileIdentity* out);  // file_identity_win32.cpp

namespace {

struct Win32File {
    HANDLE handle;
    // A file named in QUARROW_DRIVES stands for a drive in tests: its length and 512-byte
    // sectors play the geometry.
    bool file_as_drive;
};

HANDLE handle_of(Disk* disk) {
    return static_cast<Win32File*>(disk->impl)->handle;
}

// One seek and one synchronous transfer. A low part of 0xFFFFFFFF from the seek is a failure
// (sector-aligned offsets never have it).
bool seek_to(HANDLE h, int64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    DWORD low = SetFilePointer(h, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
    return low != 0xFFFFFFFF;
}

int64_t win32_read_at(Disk* disk, int64_t offset, void* buffer, uint32_t len) {
    HANDLE h = handle_of(disk);
    if (!seek_to(h, offset)) return -1;
    DWORD moved = 0;
    if (!ReadFile(h, buffer, len, &moved, nullptr)) {
        note_system_failure(nullptr);
        return -1;
    }
    return moved;
}

int64_t win32_write_at(Disk* disk, int64_t offset, const void* buffer, uint32_t len) {
    HANDLE h = handle_of(disk);
    if (!seek_to(h, offset)) return -1;
    DWORD moved = 0;
    if (!WriteFile(h, buffer, len, &moved, nullptr)) {
        note_system_failure(nullptr);
        return -1;
    }
    return moved;
}

bool win32_size_bytes(Disk* disk, uint64_t* bytes) {
    DWORD high = 0;
    // A size whose low part is 0xFFFFFFFF is told from a failure by the last error only, so it
    // must not be left over from an earlier call.
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(handle_of(disk), &high);
    if (low == 0xFFFFFFFF && GetLastError() != NO_ERROR) return false;
    *bytes = (static_cast<uint64_t>(high) << 32) | low;
    return true;
}

bool win32_geometry(Disk* disk, uint32_t* sector_size, uint64_t* bytes) {
    DISK_GEOMETRY g;
    DWORD got = 0;
    if (!DeviceIoControl(handle_of(disk), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g,
                         &got, nullptr)) {
        if (!static_cast<Win32File*>(disk->impl)->file_as_drive) return false;
        if (!win32_size_bytes(disk, bytes)) return false;
        *sector_size = SECTOR_SIZE;
        return true;
    }
    *sector_size = g.BytesPerSector;
    uint64_t size = static_cast<uint64_t>(g.BytesPerSector) * g.SectorsPerTrack;
    size *= g.TracksPerCylinder;
    size *= static_cast<uint64_t>(g.Cylinders.QuadPart);
    *bytes = size;
    return true;
}

bool win32_close(Disk* disk) {
    bool ok = CloseHandle(handle_of(disk)) != 0;
    delete static_cast<Win32File*>(disk->impl);
    delete disk;
    return ok;
}

bool win32_flush(Disk* disk) {
    if (FlushFileBuffers(handle_of(disk))) return true;
    // A handle opened without write access has nothing to flush and is refused for that.
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// A lock on the whole file, as far as a 64-bit offset reaches. Windows enforces it: while a
// writer holds it, other programs' reads and writes of the file fail.
DiskLockResult win32_lock(Disk* disk, bool exclusive) {
    OVERLAPPED at;
    memset(&at, 0, sizeof at);
    DWORD how = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(handle_of(disk), how, 0, MAXDWORD, MAXDWORD, &at)) return DISK_LOCKED;
    DWORD error = GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION
               ? DISK_IN_USE
               : DISK_LOCK_UNSUPPORTED;
}

void win32_unlock(Disk* disk) {
    OVERLAPPED at;
    memset(&at, 0, sizeof at);
    UnlockFileEx(handle_of(disk), 0, MAXDWORD, MAXDWORD, &at);
}

DiskHandle wrap_handle(HANDLE h, bool writable, bool file_as_drive = false,
                       const char* path = nullptr) {
    if (h == INVALID_HANDLE_VALUE) {
        note_system_failure(path);
        return nullptr;
    }
    auto* file = new (std::nothrow) Win32File{h, file_as_drive};
    auto* disk = new (std::nothrow) Disk{};
    if (!file || !disk) {
        delete file;
        delete disk;
        CloseHandle(h);
        return nullptr;
    }
    disk->read_at = win32_read_at;
    disk->write_at = win32_write_at;
    disk->size_bytes = win32_size_bytes;
    disk->geometry = win32_geometry;
    disk->close = win32_close;
    disk->flush = win32_flush;
    disk->lock = win32_lock;
    disk->unlock = win32_unlock;
    disk->impl = file;
    disk->writable = writable;
    return disk;
}

// The exact reader: a handle opened again with FILE_FLAG_NO_BUFFERING, reading into page-aligned
// memory of its own; the borrowed disk serves what the device will not take unbuffered.
constexpr DWORD EXACT_BOUNCE_BYTES = 1 << 20;

struct ExactFile {
    HANDLE handle;
    Disk* cached;
    void* bounce;
};

int64_t exact_read_at(Disk* disk, int64_t offset, void* buffer, uint32_t len) {
    auto* e = static_cast<ExactFile*>(disk->impl);
    if (offset % SECTOR_SIZE || len % SECTOR_SIZE)
        return win32_read_at(e->cached, offset, buffer, len);
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < len) {
        DWORD want = len - done < EXACT_BOUNCE_BYTES ? len - done : EXACT_BOUNCE_BYTES;
        DWORD moved = 0;
        if (!seek_to(e->handle, offset + done)) return done > 0 ? int64_t(done) : -1;
        if (!ReadFile(e->handle, e->bounce, want, &moved, nullptr)) {
            if (GetLastError() == ERROR_INVALID_PARAMETER) {
                // Sectors larger than 512 bytes: this transfer goes through the cache.
                int64_t got = win32_read_at(e->cached, offset + done, out + done, want);
                if (got < 0) return done > 0 ? int64_t(done) : -1;
                done += static_cast<uint32_t>(got);
                if (static_cast<DWORD>(got) < want) break;
                continue;
            }
            note_system_failure(nullptr);
            return done > 0 ? int64_t(done) : -1;
        }
        memcpy(out + done, e->bounce, moved);
        done += moved;
        if (moved < want) break;
    }
    return done;
}

int64_t exact_write_at(Disk*, int64_t, const void*, uint32_t) {
    return -1;
}

bool exact_size_bytes(Disk* disk, uint64_t* bytes) {
    return win32_size_bytes(static_cast<ExactFile*>(disk->impl)->cached, bytes);
}

bool exact_geometry(Disk* disk, uint32_t* sector_size, uint64_t* bytes) {
    return win32_geometry(static_cast<ExactFile*>(disk->impl)->cached, sector_size, bytes);
}

bool exact_close(Disk* disk) {
    auto* e = static_cast<ExactFile*>(disk->impl);
    bool ok = CloseHandle(e->handle) != 0;
    VirtualFree(e->bounce, 0, MEM_RELEASE);
    delete e;
    delete disk;
    return ok;
}

}  // namespace

ExactReaderResult open_exact_reader(DiskHandle disk, DiskHandle* exact) {
    *exact = nullptr;
    if (!disk || disk->close != win32_close) return EXACT_READER_NOT_NEEDED;
    // ReOpenFile came with Vista; found at run time so that the program still starts on XP.
    using ReOpen = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);
    auto reopen = reinterpret_cast<ReOpen>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ReOpenFile")));
    if (!reopen) {
        note_failure_reason(nullptr, "this Windows cannot open a file again unbuffered");
        return EXACT_READER_REFUSED;
    }
    HANDLE h = reopen(handle_of(disk), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_FLAG_NO_BUFFERING);
    if (h == INVALID_HANDLE_VALUE) {
        note_system_failure(nullptr);
        return EXACT_READER_REFUSED;
    }
    void* bounce =
        VirtualAlloc(nullptr, EXACT_BOUNCE_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    auto* e = new (std::nothrow) ExactFile{h, disk, bounce};
    auto* d = new (std::nothrow) Disk{};
    if (!bounce || !e || !d) {
        if (bounce) VirtualFree(bounce, 0, MEM_RELEASE);
        delete e;
        delete d;
        CloseHandle(h);
        note_failure_reason(nullptr, "not enough memory");
        return EXACT_READER_REFUSED;
    }
    d->read_at = exact_read_at;
    d->write_at = exact_write_at;
    d->size_bytes = exact_size_bytes;
    d->geometry = exact_geometry;
    d->close = exact_close;
    d->impl = e;
    d->writable = false;
    *exact = d;
    return EXACT_READER_OPENED;
}

DiskHandle open_physical_drive(int drive, bool want_write) {
    char path[MAX_PATH];
    if (!physical_drive_path(drive, path, sizeof path)) return nullptr;
    bool file_as_drive = getenv("QUARROW_DRIVES") != nullptr;
    if (want_write) {
        HANDLE h =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h != INVALID_HANDLE_VALUE) return wrap_handle(h, true, file_as_drive);
        note_system_failure(path);  // kept as the reason when only reading succeeds
    }
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return wrap_handle(h, false, file_as_drive, path);
}

DiskHandle open_image_file(const char* path, bool want_write) {
    if (!path || !*path) return nullptr;
    if (want_write) {
        HANDLE h =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h != INVALID_HANDLE_VALUE) return wrap_handle(h, true);
        note_system_failure(path);  // kept as the reason when only reading succeeds
    }
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return wrap_handle(h, false, false, path);
}

DiskHandle open_input_file(const char* path) {
    if (!path || !*path) return nullptr;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return wrap_handle(h, false, false, path);
}

DiskHandle create_output_file(const char* path) {
    if (!path || !*path) return nullptr;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return wrap_handle(h, true, false, path);
}

bool disk_identity(DiskHandle disk, FileIdentity* out) {
    if (!disk || disk->close != win32_close) return false;
    return identity_from_handle(handle_of(disk), out);
}

int get_os_family() {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(&info)) return 0;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return OS_FAMILY_WIN9X;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) return OS_FAMILY_NT;
    return 0;
}

bool can_reach_raw_drives() {
    return get_os_family() == OS_FAMILY_NT;
}

}  // namespace quarrow
