// Sector access: the one kind of object through which every byte of a drive, a disk image, a
// backup file or an output file passes.
//
// A DiskHandle points to a small record that carries its own transfer functions, so the layers
// above never know whether they talk to a Win32 HANDLE, a POSIX file descriptor or a test image
// held in memory. Implementations: sector_access_posix.cpp, sector_access_win32.cpp, and
// tests/support/memory_disk.cpp (in-memory images with scripted faults).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quarrow {

constexpr int SECTOR_SIZE = 512;

constexpr int OS_FAMILY_WIN9X = 1;  // Windows 95/98/Me
constexpr int OS_FAMILY_NT = 2;     // Windows NT/2000/XP and later

// Every operation that must tell the user why it failed copies one fixed text into a caller
// buffer of this size.
constexpr size_t MESSAGE_SIZE = 128;

struct Disk;
using DiskHandle = Disk*;  // null: no disk

enum DiskLockResult {
    DISK_LOCKED,            // the lock is held until the handle is closed
    DISK_IN_USE,            // another program holds a lock that excludes ours
    DISK_LOCK_UNSUPPORTED,  // the file system or device keeps no such locks
};

struct Disk {
    // Move up to len bytes at a byte offset. Gives the bytes moved (short at the end of a file),
    // or -1 when the operating system refused the transfer.
    int64_t (*read_at)(Disk* disk, int64_t offset, void* buffer, uint32_t len);
    int64_t (*write_at)(Disk* disk, int64_t offset, const void* buffer, uint32_t len);
    // Size of the file or device in bytes; false when it cannot be asked.
    bool (*size_bytes)(Disk* disk, uint64_t* bytes);
    // Geometry of a drive: bytes per sector and the geometry's size in bytes; false on failure.
    bool (*geometry)(Disk* disk, uint32_t* sector_size, uint64_t* bytes);
    // Releases the implementation and the record itself; false when the operating system
    // reported a failure on closing (a write it could not complete after all).
    bool (*close)(Disk* disk);
    // Makes every write so far durable (fsync / FlushFileBuffers); false on failure. May be null
    // (an image in memory): nothing to flush.
    bool (*flush)(Disk* disk);
    // Takes the advisory lock of the file or device without waiting: shared for readers,
    // exclusive for a writer. May be null: no locking.
    DiskLockResult (*lock)(Disk* disk, bool exclusive);
    // Releases the lock taken by lock (a disk kept open between writes). May be null.
    void (*unlock)(Disk* disk);
    void* impl;
    // Where the next sequential file_read / file_write goes (output and backup files).
    int64_t position;
    // False when a write was asked for but only a read-only open succeeded.
    bool writable;
    // Copies len bytes at offset to the same offset of target inside the system, without passing
    // them through the caller's memory (sendfile on Linux: each byte copied once, not twice).
    // Gives the bytes copied; short or -1 when the read or the write failed, without telling
    // which, or when target is not of this kind (nothing is then copied). May be null.
    int64_t (*copy_to)(Disk* disk, Disk* target, int64_t offset, uint32_t len);
};

// Physical drive n as the drive table names it (physical_drive_path in drive_list.h).
DiskHandle open_physical_drive(int drive, bool want_write);
DiskHandle open_image_file(const char* path, bool want_write);
DiskHandle open_input_file(const char* path);
DiskHandle create_output_file(const char* path);
DiskHandle close_disk(DiskHandle disk);  // always gives null

// One writer at a time: a command that writes takes the exclusive lock for its whole run, one
// that only reads the shared lock, the convention of Linux tools on block devices (flock) and a
// whole-file LockFileEx on Windows. False only when another program holds a conflicting lock;
// a handle that cannot be locked at all counts as locked.
bool lock_disk(DiskHandle disk, bool exclusive);
constexpr const char* DISK_IN_USE_MESSAGE = "The disk is in use by another program.";
// Gives the lock up before the handle closes.
void unlock_disk(DiskHandle disk);

// Makes the writes so far durable; false when the system says they may be lost.
bool flush_disk(DiskHandle disk);
// Flushes, then closes: false when either failed, so that a change still in the page cache
// when the disk goes is not reported as done. The handle is released in any case.
bool flush_and_close(DiskHandle disk);

// Owns a handle and closes it when it goes: for a disk, image or file that a function opens and
// must close on every return path. A function that takes a plain DiskHandle only borrows it.
struct DiskCloser {
    void operator()(Disk* disk) const { close_disk(disk); }
};
using UniqueDisk = std::unique_ptr<Disk, DiskCloser>;

// Reads that fail only for the sectors that fail. Through the system's cache a drive is read in
// whole pages (4 KiB on Linux), so one bad sector fails the reads of its seven neighbours too.
// An exact reader is a second, read-only handle on the same file or device that reads past the
// cache (O_DIRECT, FILE_FLAG_NO_BUFFERING) into sector-aligned memory of its own, so callers
// pass any buffer. A transfer the device refuses to take directly (a length or place its sectors
// do not allow) goes through the cache after all. It borrows the disk: close it first.
enum ExactReaderResult {
    EXACT_READER_OPENED,      // *exact is the new handle
    EXACT_READER_REFUSED,     // the system refused direct access; last_system_failure says why
    EXACT_READER_NOT_NEEDED,  // the disk has no cache in between (an image held in memory)
};
ExactReaderResult open_exact_reader(DiskHandle disk, DiskHandle* exact);

int read_sectors(DiskHandle disk, void* buffer, int first_sector, int count, int sector_size);
int write_sectors(DiskHandle disk, const void* buffer, int first_sector, int count,
                  int sector_size);

// Sequential transfers on files from open_input_file / create_output_file.
// file_read gives the bytes read (0 at the end, -1 on failure); file_write is all or nothing.
int64_t file_read(DiskHandle disk, void* buffer, uint32_t len);
bool file_write(DiskHandle disk, const void* buffer, uint32_t len);

uint32_t drive_sector_size(DiskHandle disk);
uint64_t drive_size_mb(DiskHandle disk);
uint32_t image_size_mb(DiskHandle disk);

int get_os_family();
// Whether this platform may open raw drives at all: the NT family on Windows, always on POSIX.
bool can_reach_raw_drives();

// Copies a formatted message into a MESSAGE_SIZE buffer, cut to fit.
void put_message(char* message, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace quarrow
