// POSIX half of sector access: file descriptors, pread/pwrite, block-device ioctls. Which device
// stands for a drive number is the drive table's business (drive_list.h).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#endif

#include "disk/drive_list.h"
#include "disk/file_identity.h"
#include "disk/sector_access.h"
#include "disk/system_error.h"

namespace quarrow {

void identity_from_stat(const struct stat& st, FileIdentity* out);  // file_identity_posix.cpp

namespace {

struct PosixFile {
    int fd;
    bool block_device;
};

int fd_of(Disk* disk) {
    return static_cast<PosixFile*>(disk->impl)->fd;
}

// pread and pwrite may move fewer bytes than asked (signals, large requests); loop until the
// whole range is done, the file ends, or the call fails.
int64_t posix_read_at(Disk* disk, int64_t offset, void* buffer, uint32_t len) {
    auto* p = static_cast<unsigned char*>(buffer);
    uint64_t done = 0;
    while (done < len) {
        ssize_t n = pread(fd_of(disk), p + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            note_system_failure(nullptr);
            return done > 0 ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t posix_write_at(Disk* disk, int64_t offset, const void* buffer, uint32_t len) {
    auto* p = static_cast<const unsigned char*>(buffer);
    uint64_t done = 0;
    while (done < len) {
        ssize_t n = pwrite(fd_of(disk), p + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            note_system_failure(nullptr);
            return done > 0 ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool posix_size_bytes(Disk* disk, uint64_t* bytes) {
    auto* file = static_cast<PosixFile*>(disk->impl);
#if defined(__linux__)
    if (file->block_device) {
        uint64_t size = 0;
        if (ioctl(file->fd, BLKGETSIZE64, &size) != 0) return false;
        *bytes = size;
        return true;
    }
#endif
    struct stat st;
    if (fstat(file->fd, &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

// A block device reports its logical sector size; a regular file standing in for a drive
// (QUARROW_DRIVES in tests) has 512-byte sectors and its own length.
bool posix_geometry(Disk* disk, uint32_t* sector_size, uint64_t* bytes) {
    auto* file = static_cast<PosixFile*>(disk->impl);
    *sector_size = SECTOR_SIZE;
#if defined(__linux__)
    if (file->block_device) {
        int ssz = 0;
        if (ioctl(file->fd, BLKSSZGET, &ssz) != 0 || ssz < 0) return false;
        *sector_size = static_cast<uint32_t>(ssz);
    }
#endif
    return posix_size_bytes(disk, bytes);
}

// A failed close can be the only report of a write that never reached the disk (NFS, a full
// file system with delayed allocation); EINTR is not a failure, the descriptor is gone.
bool posix_close(Disk* disk) {
    auto* file = static_cast<PosixFile*>(disk->impl);
    bool ok = ::close(file->fd) == 0 || errno == EINTR;
    delete file;
    delete disk;
    return ok;
}

bool posix_flush(Disk* disk) {
    int fd = fd_of(disk);
    while (fsync(fd) != 0) {
        if (errno == EINTR) continue;
        // A device or file system that keeps nothing to flush says so; that is not a loss.
        return errno == EINVAL || errno == EROFS;
    }
    return true;
}

// flock is what Linux tools agree on for block devices (udev, fsck, mkfs honour it) and works on
// image files alike. The lock belongs to this open file and ends when it is closed.
DiskLockResult posix_lock(Disk* disk, bool exclusive) {
    int how = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (flock(fd_of(disk), how) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? DISK_IN_USE : DISK_LOCK_UNSUPPORTED;
    }
    return DISK_LOCKED;
}

void posix_unlock(Disk* disk) {
    while (flock(fd_of(disk), LOCK_UN) != 0 && errno == EINTR) {
    }
}
#if defined(__linux__)
// sendfile writes at the target descriptor's file position; every other transfer of a disk goes
// by pread and pwrite, which neither use nor move it.
int64_t posix_copy_to(Disk* disk, Disk* target, int64_t offset, uint32_t len) {
    if (!target || target->close != posix_close) return -1;
    const int out = fd_of(target);
    if (lseek(out, static_cast<off_t>(offset), SEEK_SET) < 0) return -1;
    off_t from = static_cast<off_t>(offset);
    uint64_t done = 0;
    while (done < len) {
        ssize_t n = sendfile(out, fd_of(disk), &from, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
    }
    return done > 0 ? static_cast<int64_t>(done) : -1;
}
#endif

DiskHandle wrap_fd(int fd, bool writable) {
    struct stat st;
    bool block = fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
    auto* file = new (std::nothrow) PosixFile{fd, block};
    auto* disk = new (std::nothrow) Disk{};
    if (!file || !disk) {
        delete file;
        delete disk;
        ::close(fd);
        return nullptr;
    }
    disk->read_at = posix_read_at;
    disk->write_at = posix_write_at;
    disk->size_bytes = posix_size_bytes;
    disk->geometry = posix_geometry;
    disk->close = posix_close;
    disk->flush = posix_flush;
    disk->lock = posix_lock;
    disk->unlock = posix_unlock;
#if defined(__linux__)
    disk->copy_to = posix_copy_to;
#endif
    disk->impl = file;
    disk->writable = writable;
    return disk;
}

// Only regular files and block devices hold a disk or a backup. Anything else is refused before
// a byte is read: opening a FIFO for reading waits for a writer that never comes (hence
// O_NONBLOCK, taken off again once the kind is known), and a directory opens but reads nothing.
int open_disk_fd(const char* path, int flags) {
    int fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        note_system_failure(path);
        return -1;
    }
    struct stat st;
    const char* refused = nullptr;
    if (fstat(fd, &st) != 0)
        refused = strerror(errno);
    else if (S_ISDIR(st.st_mode))
        refused = "it is a directory";
    else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        refused = "it is not a regular file or a block device";
    if (refused) {
        note_failure_reason(path, refused);
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Read-write when asked and possible, else read-only: a caller that asked for writing may get a
// read-only handle, and its later writes then fail with the operation's own message.
DiskHandle open_existing(const char* path, bool want_write) {
    if (!path || !*path) return nullptr;
    if (want_write) {
        int fd = open_disk_fd(path, O_RDWR);
        if (fd >= 0) return wrap_fd(fd, true);
    }
    int fd = open_disk_fd(path, O_RDONLY);
    if (fd < 0) return nullptr;
    return wrap_fd(fd, false);
}

// The exact reader's own descriptor, opened with O_DIRECT, and the aligned memory its reads
// land in; the borrowed disk serves what the device will not take directly.
constexpr size_t EXACT_BOUNCE_BYTES = size_t(1) << 20;
constexpr size_t EXACT_ALIGNMENT = 4096;  // the largest logical sector of a disk in use

struct ExactFile {
    int fd;
    Disk* cached;
    void* bounce;
};

int64_t exact_read_at(Disk* disk, int64_t offset, void* buffer, uint32_t len) {
    auto* e = static_cast<ExactFile*>(disk->impl);
    // Only whole 512-byte sectors can go past the cache.
    if (offset % SECTOR_SIZE || len % SECTOR_SIZE)
        return posix_read_at(e->cached, offset, buffer, len);
    auto* out = static_cast<unsigned char*>(buffer);
    uint64_t done = 0;
    while (done < len) {
        size_t want = std::min<size_t>(len - done, EXACT_BOUNCE_BYTES);
        ssize_t n = pread(e->fd, e->bounce, want, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EINVAL) {
            // A drive of 4 KiB sectors, or a file system that takes direct reads only in its own
            // blocks: this transfer goes through the cache.
            int64_t got = posix_read_at(e->cached, offset + int64_t(done), out + done,
                                        static_cast<uint32_t>(want));
            if (got < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
            done += static_cast<uint64_t>(got);
            if (static_cast<size_t>(got) < want) break;
            continue;
        }
        if (n < 0) {
            note_system_failure(nullptr);
            return done > 0 ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0) break;
        memcpy(out + done, e->bounce, static_cast<size_t>(n));
        done += static_cast<uint64_t>(n);
        if (static_cast<size_t>(n) < want) break;
    }
    return static_cast<int64_t>(done);
}

int64_t exact_write_at(Disk*, int64_t, const void*, uint32_t) {
    return -1;
}

bool exact_size_bytes(Disk* disk, uint64_t* bytes) {
    return posix_size_bytes(static_cast<ExactFile*>(disk->impl)->cached, bytes);
}

bool exact_geometry(Disk* disk, uint32_t* sector_size, uint64_t* bytes) {
    return posix_geometry(static_cast<ExactFile*>(disk->impl)->cached, sector_size, bytes);
}

bool exact_close(Disk* disk) {
    auto* e = static_cast<ExactFile*>(disk->impl);
    bool ok = ::close(e->fd) == 0 || errno == EINTR;
    free(e->bounce);
    delete e;
    delete disk;
    return ok;
}

}  // namespace

ExactReaderResult open_exact_reader(DiskHandle disk, DiskHandle* exact) {
    *exact = nullptr;
    if (!disk || disk->close != posix_close) return EXACT_READER_NOT_NEEDED;
#if defined(__linux__) && defined(O_DIRECT)
    // A new open of the same file, not a dup: the direct flag belongs to the open file, and the
    // cached reads of the first handle stay as they are.
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd_of(disk));
    int fd = ::open(path, O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        note_system_failure(nullptr);
        return EXACT_READER_REFUSED;
    }
    void* bounce = nullptr;
    auto* e = new (std::nothrow) ExactFile{fd, disk, nullptr};
    auto* d = new (std::nothrow) Disk{};
    if (!e || !d || posix_memalign(&bounce, EXACT_ALIGNMENT, EXACT_BOUNCE_BYTES) != 0) {
        delete e;
        delete d;
        ::close(fd);
        note_failure_reason(nullptr, "not enough memory");
        return EXACT_READER_REFUSED;
    }
    e->bounce = bounce;
    d->read_at = exact_read_at;
    d->write_at = exact_write_at;
    d->size_bytes = exact_size_bytes;
    d->geometry = exact_geometry;
    d->close = exact_close;
    d->impl = e;
    d->writable = false;
    *exact = d;
    return EXACT_READER_OPENED;
#else
    note_failure_reason(nullptr, "this system has no direct reads");
    return EXACT_READER_REFUSED;
#endif
}

DiskHandle open_physical_drive(int drive, bool want_write) {
    char path[4096];
    if (!physical_drive_path(drive, path, sizeof path)) return nullptr;
    return open_existing(path, want_write);
}

DiskHandle open_image_file(const char* path, bool want_write) {
    return open_existing(path, want_write);
}

DiskHandle open_input_file(const char* path) {
    return open_existing(path, false);
}

DiskHandle create_output_file(const char* path) {
    if (!path || !*path) return nullptr;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        note_system_failure(path);
        return nullptr;
    }
    return wrap_fd(fd, true);
}

bool disk_identity(DiskHandle disk, FileIdentity* out) {
    if (!disk || disk->close != posix_close) return false;
    struct stat st;
    if (fstat(fd_of(disk), &st) != 0) return false;
    *out = FileIdentity{};
    identity_from_stat(st, out);
    return true;
}

int get_os_family() {
    return 0;
}

bool can_reach_raw_drives() {
    return true;
}

}  // namespace quarrow
