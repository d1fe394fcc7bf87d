// Changing recordings in place on an open MediaMaster disk: titles and attributes, order in the
// Table of Contents, deletion. Called by the Recording Management window (src/ui) and by the
// `quarrow edit`, `move` and `delete` commands (src/cli).
//
// Every operation reads the structures it changes afresh, changes them in its own buffers, writes
// them back in a fixed order and only then brings the caller's recording list (newest first,
// list index i = Table of Contents slot n - 1 - i) into line with the disk, so the caller can
// redraw without reloading. Each gives 1 on success and 0 on failure; on failure it copies one
// fixed message into the caller's MESSAGE_SIZE buffer and leaves the list as it was; on success
// the buffer is left as it was.
//
// What a failed write leaves on the disk:
//   apply_recording_changes  reads, Table of Contents write: unchanged;
//                            record write: the slot carries the new flags, the record is old.
//   move up / down           unchanged (the Table of Contents is the only write).
//   delete_recording         Table of Contents first, then the table, its copy, the record:
//                            reads, Table of Contents write: unchanged (or the Table of
//                            Contents partly written); first table write: no longer listed, its
//                            clusters still allocated to nobody (diagnose counts them among the
//                            allocated, recover takes them back); copy write: first table freed,
//                            copy old; record write: gone everywhere but the record sector reads
//                            in use. A crash after any write leaves the same: never a listed
//                            recording whose clusters the table shows as free.
#pragma once

#include <cstdint>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/disk_session.h"
#include "fs/recording_table.h"

namespace quarrow {

// The flag bits the Recording Management window lets the user set: Permanent, Pause, Locked.
constexpr uint8_t APPLY_MASK = FLAG_PERMANENT | FLAG_PAUSE | FLAG_LOCKED;

// Writes a recording's user title, channel name and flags. user_title is a whole 48-byte field
// and channel a whole 32-byte field (text, then zeros); both are written as they are, empty ones
// included (the caller refuses an empty channel name). Flag bits inside mask take their value
// from flags, bits outside it keep the record's value. On success entry (the list entry of index)
// gets the new texts, display title, flags and attribute text.
int apply_recording_changes(WritableDisk target, int index, RecordingEntry* entry,
                            const char user_title[REC_USER_TITLE_BYTES],
                            const char channel[REC_CHANNEL_BYTES], uint8_t flags, uint8_t mask,
                            char* message);

// Moves the recording at list index (1 <= index <= n - 1) one line up, towards number 1: swaps
// slots j and j + 1 on the disk, then list entries index and index - 1.
int move_recording_up(WritableDisk target, int index, RecordingEntry* list, char* message);

// Moves the recording at list index (0 <= index <= n - 2) one line down: swaps slots j and j - 1,
// then list entries index and index + 1.
int move_recording_down(WritableDisk target, int index, RecordingEntry* list, char* message);

// Removes the recording at list index from the Table of Contents, marks its record sector free
// and frees its clusters (their contents stay, for recovery). A chain that shares a cluster with
// another listed recording is refused, nothing changed. When another line names the same record
// only the slot is removed (record and clusters stay with the other line) and hooks (may be
// null) get a notice saying so. On success the list entries after index move down one place;
// the caller then lowers its recording count by one.
int delete_recording(WritableDisk target, int index, RecordingEntry* list, char* message,
                     const OperationHooks* hooks = nullptr);

// An index outside the table just read, or a Table of Contents that lists more recordings than
// the program accepts, is refused with NO_SUCH_RECORDING_MESSAGE (fs/maintenance_io.h) before
// anything is written.

}  // namespace quarrow
