#include "fs/disk_session.h"

#include <cstring>

#include "disk/drive_list.h"
#include "disk/file_identity.h"
#include "disk/rescue_files.h"
#include "disk/system_error.h"
#include "fs/disk_detection.h"
#include "fs/layout.h"

namespace quarrow {
namespace {

bool refuse(DiskSession* s, SessionStatus status, const char* text) {
    s->status = status;
    put_message(s->message, "%s", text);
    return false;
}

// The status line of a disk that opened, in the words the detection uses.
void describe_open(DiskSession* s) {
    const int n = s->count;
    if (s->unreadable_count > 0)
        put_message(s->message, "%i Recordings found; %i of them cannot be read.", n,
                    s->unreadable_count);
    else if (s->scan && n == 0)
        put_message(s->message, "No Recordings found on this disk.");
    else if (s->scan)
        put_message(s->message, "Detected MediaMaster Disk (%i GB) with %i Recordings.",
                    static_cast<int>(drive_size_gb(drive_size_mb(s->disk))), n);
    else if (n == 0)
        put_message(s->message, "No Recordings found in this image.");
    else
        put_message(s->message, "MediaMaster Disk Image with %i Recordings (%i MB).", n,
                    static_cast<int>(image_size_mb(s->disk)));
}

// What every open shares once the handle is there: the write check, the lock, the table.
bool settle(DiskSession* s, bool for_writing) {
    s->for_writing = for_writing;
    if (for_writing) {
        // Root may write to any file; an image whose owner took every write permission away is
        // still meant to stay as it is, so the mode is asked, not only the open.
        FileIdentity id;
        s->mode_read_only = disk_identity(s->disk, &id) && id.regular && !id.mode_writable;
        if (!s->disk->writable || s->mode_read_only)
            return refuse(s, SESSION_READ_ONLY, "The disk cannot be opened for writing.");
    }
    if (!lock_disk(s->disk, for_writing)) return refuse(s, SESSION_IN_USE, DISK_IN_USE_MESSAGE);
    // Loaded only now: what another writer changed before the lock is what the session sees.
    int n = load_readable_recordings(s->disk, s->entries.get(), s->unreadable.get());
    if (n > MAX_RECORDINGS)
        return refuse(s, SESSION_TOO_MANY,
                      s->scan ? "Too many recordings on this disk."
                              : "Too many recordings in "
                                "this image.");
    s->count = n;
    s->unreadable_count = 0;
    for (int i = 0; i < n; ++i)
        s->unreadable_count += s->unreadable[i] ? 1 : 0;
    s->status = SESSION_OPEN;
    describe_open(s);
    return true;
}

// The drive a scan finds by its MediaMaster mark.
bool open_scanned(DiskSession* s, bool for_writing) {
    if (get_os_family() == OS_FAMILY_WIN9X)
        return refuse(s, SESSION_NO_DISK,
                      "No physical disk access from Win9x/Me! Use a disk image.");
    s->disk = scan_physical_drives(for_writing);
    if (!s->disk) return refuse(s, SESSION_NO_DISK, "Could not find MediaMaster Disk.");
    return true;
}

}  // namespace

bool open_session(DiskSession* s, const char* source, bool for_writing) {
    close_session(s);
    s->scan = !source || strcmp(source, "scan") == 0;
    if (s->scan) {
        if (!open_scanned(s, for_writing)) return false;
    } else {
        s->disk = open_image_file(source, for_writing);
        if (!s->disk) return refuse(s, SESSION_CANNOT_OPEN, "Invalid image file.");
        if (!is_mediamaster_disk(s->disk))
            return refuse(s, SESSION_NOT_MEDIAMASTER, "Invalid image file.");
    }
    return settle(s, for_writing);
}

bool adopt_disk(DiskSession* s, DiskHandle disk, bool for_writing) {
    close_session(s);
    s->scan = false;
    s->disk = disk;
    if (!disk) return refuse(s, SESSION_CANNOT_OPEN, "Invalid image file.");
    return settle(s, for_writing);
}

bool open_rescue_source(DiskSession* s, const char* source) {
    close_session(s);
    s->raw = true;
    s->for_writing = false;
    s->scan = !source || strcmp(source, "scan") == 0;
    if (s->scan) {
        if (!open_scanned(s, false)) return false;
    } else {
        s->disk = open_image_file(source, false);
        if (!s->disk) return refuse(s, SESSION_CANNOT_OPEN, "Could not open input file.");
    }
    if (!lock_disk(s->disk, false)) return refuse(s, SESSION_IN_USE, DISK_IN_USE_MESSAGE);
    s->status = SESSION_OPEN;
    put_message(s->message, "Opened for the rescue.");
    return true;
}

bool open_rescue_image(DiskSession* s, DiskHandle source, const char* path, int64_t size) {
    close_session(s);
    s->raw = true;
    s->for_writing = true;
    s->scan = false;
    clear_system_failure();
    switch (check_output(source, path)) {
        case OUTPUT_IS_SOURCE:
            return refuse(s, SESSION_IS_SOURCE, OUTPUT_IS_OPEN_DISK_MESSAGE);
        case OUTPUT_NOT_REGULAR:
            return refuse(s, SESSION_NOT_A_FILE, OUTPUT_NOT_A_FILE_MESSAGE);
        case OUTPUT_USABLE:
            break;
    }
    FileIdentity id;
    if (!path_identity(path, &id)) {
        // Created empty, closed, and opened again like an existing image: the size comes only
        // under the lock.
        DiskHandle created = create_output_file(path);
        if (!created) return refuse(s, SESSION_CANNOT_OPEN, "Could not create the image.");
        if (!flush_and_close(created))
            return refuse(s, SESSION_CANNOT_OPEN, "Could not create the image.");
    }
    s->disk = open_image_file(path, true);
    if (!s->disk || !s->disk->writable)
        return refuse(s, SESSION_CANNOT_OPEN, "Could not open the image for writing.");
    // A name that changed hands between the check and the open (a link made meanwhile) is
    // asked once more, of the open handle.
    FileIdentity a, b;
    if (source && disk_identity(s->disk, &a) && disk_identity(source, &b) && same_file(a, b))
        return refuse(s, SESSION_IS_SOURCE, OUTPUT_IS_OPEN_DISK_MESSAGE);
    if (!lock_disk(s->disk, true)) return refuse(s, SESSION_IN_USE, DISK_IN_USE_MESSAGE);
    uint64_t length = 0;
    if (!s->disk->size_bytes || !s->disk->size_bytes(s->disk, &length))
        return refuse(s, SESSION_CANNOT_OPEN, "Could not tell the size of the image.");
    if (size > 0 && int64_t(length) < size) {
        // One zero byte at the end makes the file whole in length and leaves the rest a hole,
        // on every system; a byte past the old end was never the source's.
        const uint8_t zero = 0;
        clear_system_failure();
        if (s->disk->write_at(s->disk, size - 1, &zero, 1) != 1)
            return refuse(s, SESSION_CANNOT_OPEN, "Could not make the image as long as the disk.");
    }
    s->status = SESSION_OPEN;
    put_message(s->message, "Opened for the rescue.");
    return true;
}

std::string rescue_image_refusal(const DiskSession& s, const std::string& path) {
    switch (s.status) {
        case SESSION_IS_SOURCE:
            return rescue_output_is_source(path);
        case SESSION_NOT_A_FILE:
            return rescue_output_not_regular(path);
        case SESSION_IN_USE:
            return DISK_IN_USE_MESSAGE;
        default: {
            const SystemFailure& f = last_system_failure();
            std::string reason;
            if (!f.reason.empty())
                reason =
                    f.path.empty() ? " (" + f.reason + ")" : " (" + f.path + ": " + f.reason + ")";
            return std::string(s.message) + " (" + path + reason + ")";
        }
    }
}

OutputCheck check_output(DiskHandle disk, const char* path) {
    if (disk && path_is_disk(path, disk)) return OUTPUT_IS_SOURCE;
    FileIdentity id;
    if (path_identity(path, &id) && !id.regular) return OUTPUT_NOT_REGULAR;
    return OUTPUT_USABLE;
}

bool commit_session(DiskSession* s) {
    bool done = flush_and_close(s->disk);
    s->disk = nullptr;
    s->status = SESSION_NO_DISK;
    return done;
}

void close_session(DiskSession* s) {
    s->disk = close_disk(s->disk);
    s->status = SESSION_NO_DISK;
    s->count = 0;
    s->unreadable_count = 0;
    s->mode_read_only = false;
    s->raw = false;
    s->message[0] = 0;
}

bool begin_disk_write(DiskHandle disk, WritableDisk* out, char* message) {
    *out = WritableDisk();
    if (!disk || !disk->writable) {
        put_message(message, "The disk is not open for writing.");
        return false;
    }
    if (!lock_disk(disk, true)) {
        put_message(message, "%s", DISK_IN_USE_MESSAGE);
        return false;
    }
    *out = WritableDisk(disk);
    return true;
}

bool end_disk_write(WritableDisk* disk) {
    bool flushed = flush_disk(disk->handle());
    unlock_disk(disk->handle());
    *disk = WritableDisk();
    return flushed;
}

}  // namespace quarrow
