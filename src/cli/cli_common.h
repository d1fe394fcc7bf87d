// Shared pieces of the command-line front end: exit codes, opening SOURCE, picking a recording,
// text conversion for the terminal, and the terminal's implementation of the core's hooks.
#pragma once

#include <memory>
#include <string>

#include "disk/hooks.h"
#include "disk/sector_access.h"
#include "fs/recording_table.h"

namespace CLI {
class App;
}

namespace quarrow::cli {

// Exit status of every command.
enum ExitCode {
    EXIT_OK = 0,      // the command did its work
    EXIT_FAILED = 1,  // the disk could not be opened or was refused, or the operation failed
    EXIT_USAGE = 2,   // the command line was wrong
};

// The open disk and its recording table, closed when it goes out of scope.
struct OpenSource {
    DiskHandle disk = nullptr;
    int count = 0;
    std::unique_ptr<RecordingEntry[]> entries{new RecordingEntry[MAX_RECORDINGS]()};
    char message[MESSAGE_SIZE] = {0};
    OpenSource() = default;
    OpenSource(const OpenSource&) = delete;
    OpenSource& operator=(const OpenSource&) = delete;
    ~OpenSource() { disk = close_disk(disk); }
};

// Opens SOURCE: the word "scan" detects the disk among the physical drives; anything else is a
// disk image or a whole-disk device path. On failure prints the message on stderr and gives
// false. Writing commands pass want_write and are refused when only a read-only open succeeded.
bool open_source(const std::string& source, bool want_write, OpenSource* out);

// Parses a recording number N (1 = newest) against the open table; prints a message and gives
// -1 when it is not a number from 1 to count.
int recording_index(const std::string& number, const OpenSource& src);

// Latin-1 disk text for the terminal, files and JSON.
std::string utf8(const char* latin1);

// Text typed on the command line (a title, a folder, a file prefix) as the disk's and the core's
// Latin-1: on POSIX the typed UTF-8 is converted, and false is given when a character has no
// Latin-1 code; on Windows the ANSI text is taken as it is.
bool typed_to_latin1(const std::string& typed, std::string* latin1);

// Whether stdin / stderr is a terminal.
bool stdin_is_terminal();
bool stderr_is_terminal();

// Asks a yes/no question on the terminal; false on anything but y/yes.
bool ask_yes_no(const char* question);

// A progress bar on stderr, redrawn a few times a second, for long operations.
struct TerminalProgress {
    bool enabled = false;
    const char* unit = "sectors";
    int64_t bytes_per_unit = 512;
    double started = 0;
    double last_draw = -1;
    int64_t last_done = 0;
    int64_t last_total = 0;
    bool drawn = false;
};
OperationHooks terminal_hooks(TerminalProgress* progress);
void finish_progress(TerminalProgress* progress);

// Each command file registers itself with a file-scope CommandRegistration; main adds every
// registered command to the program in the order given by `order`. The callback the command
// installs sets *exit_code.
using AddCommand = void (*)(CLI::App& app, int* exit_code);
struct CommandRegistration {
    CommandRegistration(int order, AddCommand add);
};
void add_registered_commands(CLI::App& app, int* exit_code);

}  // namespace quarrow::cli
