// The disk session: the one way both front ends open a MediaMaster disk, so that neither writes a
// safety step of its own. A session opens a source for reading or for writing (readers share the
// lock, there is one writer), loads the recording table once under the lock, checks the outputs
// of a command against the disk it reads (by identity, not by spelling), and reports success of
// a change only after the flush: a failed flush or close is a failed write.
//
// The command line opens one session per command (cli/cli_common.cpp). The Windows program keeps
// its disk open between commands (ui/app_state.h) and takes the lock for each write with
// begin_disk_write; the write flushes before the window says it is done.
//
// A maintenance operation that changes the disk takes a WritableDisk, which only the session
// issues: a disk that was not opened for writing and locked cannot reach one.
#pragma once

#include <memory>
#include <string>

#include "disk/sector_access.h"
#include "fs/recording_table.h"

namespace quarrow {

// The refusals of an output and of a change the system could not confirm, for both front ends.
constexpr const char* OUTPUT_IS_OPEN_DISK_MESSAGE =
    "The chosen file is the open disk; choose another file.";
constexpr const char* OUTPUT_NOT_A_FILE_MESSAGE =
    "The chosen file is not a regular file; choose another file.";
constexpr const char* FLUSH_FAILED_MESSAGE =
    "The system could not confirm that the changes reached the disk; they may be lost.";

// Why a session did not open; the front ends word their refusal from this, never from the text.
enum SessionStatus {
    SESSION_OPEN,             // open, locked, the recording table loaded
    SESSION_NO_DISK,          // a scan found no MediaMaster disk (or drives are out of reach)
    SESSION_CANNOT_OPEN,      // the system would not open the image or device (its reason is in
                              // last_system_failure)
    SESSION_NOT_MEDIAMASTER,  // it opened but holds no MediaMaster disk
    SESSION_READ_ONLY,        // writing was asked for but only reading is possible
    SESSION_IN_USE,           // another program holds a lock that excludes this one
    SESSION_TOO_MANY,         // the table lists more recordings than the program takes
    SESSION_IS_SOURCE,        // an output to open is the disk being read (by identity)
    SESSION_NOT_A_FILE,       // an output to open exists but is not a regular file
};

// A disk opened for writing and locked by a session: what every operation that changes the disk
// takes as its first parameter. Made only by open_session / adopt_disk for writing and by
// begin_disk_write; it borrows the session's handle.
class WritableDisk {
  public:
    WritableDisk() = default;
    DiskHandle handle() const { return disk_; }
    explicit operator bool() const { return disk_ != nullptr; }

  private:
    explicit WritableDisk(DiskHandle disk) : disk_(disk) {}
    DiskHandle disk_ = nullptr;
    friend struct DiskSession;
    friend bool begin_disk_write(DiskHandle, WritableDisk*, char*);
};

struct DiskSession {
    DiskHandle disk = nullptr;
    bool for_writing = false;
    bool scan = false;  // the disk was found among the physical drives
    // Opened by the rescue (open_rescue_source / open_rescue_image): neither the MediaMaster mark
    // nor the recording table was asked for, so the session lists nothing and issues no
    // WritableDisk.
    bool raw = false;
    SessionStatus status = SESSION_NO_DISK;
    // With SESSION_READ_ONLY: the file's mode allows no writing (also for root, whom the system
    // would let write); otherwise only a read-only open succeeded.
    bool mode_read_only = false;
    int count = 0;
    std::unique_ptr<RecordingEntry[]> entries{new RecordingEntry[MAX_RECORDINGS]()};
    // Recordings whose record cannot be read: listed by number, never acted on.
    std::unique_ptr<bool[]> unreadable{new bool[MAX_RECORDINGS]()};
    int unreadable_count = 0;
    // The status line of the open ("MediaMaster Disk Image with 3 Recordings (104 MB)."), or the
    // fixed text of the refusal.
    char message[MESSAGE_SIZE] = {0};

    // The disk for the maintenance operations; empty unless the session is open for writing.
    WritableDisk writable() const {
        return WritableDisk(status == SESSION_OPEN && for_writing && !raw ? disk : nullptr);
    }

    DiskSession() = default;
    DiskSession(const DiskSession&) = delete;
    DiskSession& operator=(const DiskSession&) = delete;
    ~DiskSession() { disk = close_disk(disk); }
};

// Opens source (a disk image or whole-disk device path; null or "scan" finds the disk among the
// physical drives), refuses it for writing when only reading is possible, takes the lock
// (exclusive for writing, shared for reading) and loads the recording table under it, so that a
// number means what the disk holds while the session lasts. A record that cannot be read hides
// only its own recording. False with the status and the fixed message on refusal; a disk that
// opened stays in the session until it closes (for the front end's further questions).
bool open_session(DiskSession* session, const char* source, bool for_writing);

// The same over a handle the caller opened (a test's memory image); the session takes it over.
bool adopt_disk(DiskSession* session, DiskHandle disk, bool for_writing);

// For the rescue of a failing disk, whose system area may be the very thing that fails: opens
// source for reading under the shared lock as open_session does (a writer changing it meanwhile
// would make the copy a mix of two disks), but asks neither for the MediaMaster mark nor for the
// recording table; count stays 0. "scan" still finds the drive by its mark. Refusals:
// SESSION_NO_DISK, SESSION_CANNOT_OPEN (the reason in last_system_failure), SESSION_IN_USE.
bool open_rescue_source(DiskSession* s, const char* source);

// The rescue's image at path, for writing under the exclusive lock: refused when it is source's
// disk (SESSION_IS_SOURCE, by identity) or exists and is not a regular file (SESSION_NOT_A_FILE);
// created where missing, and grown to size bytes (a hole) only once the lock is held, so that an
// image another rescue holds stays as it is. It is written in place: unread sectors stay holes,
// and its map says which bytes hold the source's. SESSION_CANNOT_OPEN when it cannot be created,
// opened for writing or grown (the reason in last_system_failure), SESSION_IN_USE.
bool open_rescue_image(DiskSession* s, DiskHandle source, const char* path, int64_t size);
// Why open_rescue_image turned the image at path away, as both programs say it (with the
// system's reason where there is one).
std::string rescue_image_refusal(const DiskSession& s, const std::string& path);

// Whether a command may write its output at path: not when it is the disk being read (by
// identity: symlinks, other spellings, hard links, the drive a scan found), not when something
// that is not a regular file exists there (a device node would be overwritten).
enum OutputCheck {
    OUTPUT_USABLE,
    OUTPUT_IS_SOURCE,
    OUTPUT_NOT_REGULAR,
};
OutputCheck check_output(DiskHandle disk, const char* path);
inline OutputCheck check_output(const DiskSession& session, const char* path) {
    return check_output(session.disk, path);
}

// Makes the session's changes durable and closes it: false when the system could not confirm
// that they reached the disk (a failed flush or close is a failed write).
bool commit_session(DiskSession* session);
void close_session(DiskSession* session);

// For a disk kept open between commands (the Windows program): takes the exclusive lock for one
// write and gives the disk for the operation. False, with DISK_IN_USE_MESSAGE, when another
// program holds the disk; false with "The disk is not open for writing." when it was opened for
// reading only. end_disk_write flushes and releases the lock: false when the flush failed.
bool begin_disk_write(DiskHandle disk, WritableDisk* out, char* message);
bool end_disk_write(WritableDisk* disk);

}  // namespace quarrow
