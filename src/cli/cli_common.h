// Shared pieces of the command-line front end: exit codes, opening SOURCE, picking a recording,
// text conversion for the terminal, and the terminal's implementation of the core's hooks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/disk_session.h"
#include "fs/recording_table.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace quarrow::cli {

// Exit status of every command (README and 'quarrow --help' list them).
enum ExitCode {
    EXIT_OK = 0,      // the command did its work
    EXIT_FAILED = 1,  // the operation failed or was refused, diagnose found a fault, or an
                      // extraction ended early (its files kept)
    EXIT_USAGE = 2,   // the command line was wrong: a value failed its check before the disk was
                      // touched
    EXIT_INTERRUPTED = 130,  // Ctrl-C: 128 + SIGINT, as shells report a program the signal ended
};

// The open disk and its recording table (the core's disk session), closed when it goes out of
// scope.
using OpenSource = DiskSession;

// Opens SOURCE through the disk session (fs/disk_session.h): the word "scan" detects the disk
// among the physical drives; anything else is a disk image or a whole-disk device path. On
// failure prints the session's message on stderr, followed by the reason ("Invalid image file.
// (No such file or directory)"), and gives false. Writing commands pass want_write and are
// refused when only a read-only open succeeded, or when the image's mode allows no writing.
// The session holds the lock for the command's whole run and refuses with DISK_IN_USE_MESSAGE
// when another program holds a conflicting one.
bool open_source(const std::string& source, bool want_write, OpenSource* out);

// Makes the changes a writing command made to SOURCE durable and closes it, before the command
// reports success: false, with a message on stderr, when the system could not confirm that they
// reached the disk (a failed flush or close is a failed write).
bool commit_changes(OpenSource* src);

// Writing commands, just before their first write: true, with "Interrupted; nothing was
// changed." on stderr, when Ctrl-C came since SOURCE was opened. After the last write
// note_finished_despite_interrupt says that an interrupt that came meanwhile waited for it.
bool interrupted_before_writing();
void note_finished_despite_interrupt();

// When the device at path (a physical drive, a whole-disk device) exists but the system refuses
// to open it for lack of rights, prints why and how to run with them (sudo on Linux, an elevated
// console on Windows) and gives true; otherwise prints nothing and gives false.
bool explain_refused_drive(const char* path);

// After SOURCE failed to open: when the device it names, or the drive at which the scan stopped,
// was refused for lack of rights, says so (explain_refused_drive).
void explain_refused_source(const std::string& source);

// Adds the recording-number argument N: a whole number from 1 (or "all" when allowed); anything
// else is a wrong command line (exit 2) before the disk is opened.
CLI::Option* add_recording_number(CLI::App* cmd, std::string* number, const char* help,
                                  bool allow_all = false);

// The index of recording number N (checked as a number by add_recording_number) in the open
// table; prints a message and gives -1 when it is past the table or names a recording whose
// record cannot be read.
int recording_index(const std::string& number, const OpenSource& src);

// Latin-1 disk text for files and JSON (which escapes control characters itself).
std::string utf8(const char* latin1);
// Latin-1 disk text for the terminal: UTF-8 with control characters shown as \x07, so that a
// title edited to hold escape sequences cannot drive the terminal.
std::string shown(const char* latin1);
// Disk text (folded to ASCII or not) as a file name of this platform: UTF-8 on POSIX, the
// Latin-1 bytes for the ANSI calls on Windows.
std::string disk_text_as_name(const std::string& latin1);
// The default file prefix made safe for the platform's file calls: on Windows a device name
// (CON, NUL, COM1, ...) gets "_" appended; elsewhere it stays.
std::string safe_default_prefix(const std::string& prefix);

// The system's reason for the last failed open, read or write, as " (path: reason)" or
// " (reason)"; empty when none was recorded. Cleared by open_source and clear_reason.
std::string failure_reason(bool with_path = true);
void clear_reason();

// True, with "OUTPUT is the disk being <role>; choose another file." on stderr, when output
// names the file or device SOURCE was opened from (compared by identity: symlinks, relative paths,
// hard links and the drive a scan found all count).
bool output_is_source(const std::string& output, const OpenSource& src, const char* role);

// Makes the output folder when it is missing (with its parents) and says so; false with the
// reason on stderr when it cannot be made or is not a folder.
bool prepare_output_folder(const std::string& folder);

// What the image holds against what its allocation table references: an image cut short (a dump
// of a few clusters) lists recordings whose clusters it does not hold.
struct DiskReach {
    bool known = false;             // the boot area and the table could be read
    uint64_t size_bytes = 0;        // of the image or device
    uint32_t clusters = 0;          // clusters the disk has (the boot area's count)
    uint32_t clusters_held = 0;     // clusters wholly inside the image
    uint32_t free_clusters = 0;     // entries without the allocated bit
    std::vector<bool> past_end;     // per recording: a cluster of its chain lies past the end
    std::vector<bool> no_clusters;  // per recording: its first cluster is no cluster at all
    int past_end_count = 0;
};
DiskReach measure_reach(const OpenSource& src);
// "This image holds 2 of the disk's 48 clusters; 3 recordings reach past its end (marked *)."
std::string reach_summary(const DiskReach& reach);

// The command that lets the user write to the file at path: chmod on POSIX, attrib on Windows.
std::string allow_writing_command(const std::string& path);

// Whether stdin / stderr is a terminal.
bool stdin_is_terminal();
bool stderr_is_terminal();
// The width of the terminal on stdout, 80 when stdout is no terminal.
int terminal_columns();

// Asks a yes/no question on the terminal; false on anything but y/yes.
bool ask_yes_no(const char* question);

// A progress bar on stderr, redrawn a few times a second, for long operations: MB done of the
// total, the rate and the time left; its final line ("done in 12 s") is drawn once, by
// finish_progress. With bytes_per_unit 0 it counts the units themselves ("120 of 16383
// clusters"), for work that is no amount of data.
struct TerminalProgress {
    bool enabled = false;
    const char* unit = "sectors";
    int64_t bytes_per_unit = 512;
    double started = 0;
    double last_draw = -1;
    int64_t last_done = 0;
    int64_t last_total = 0;
    bool drawn = false;
    int line_width = 0;
};
OperationHooks terminal_hooks(TerminalProgress* progress);
// Ends the bar with its final line: for completed work (the operation succeeded) the whole total
// and the time taken, else where it stopped.
void finish_progress(TerminalProgress* progress, bool completed = false);

// Each command file registers itself with a file-scope CommandRegistration; main adds every
// registered command to the program in the order given by `order`. The callback the command
// installs sets *exit_code.
using AddCommand = void (*)(CLI::App& app, int* exit_code);
struct CommandRegistration {
    CommandRegistration(int order, AddCommand add);
};
void add_registered_commands(CLI::App& app, int* exit_code);

}  // namespace quarrow::cli
