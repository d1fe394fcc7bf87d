// quarrow extract: one recording, or all of them, into an MPEG video elementary stream (.m2v)
// and an MPEG audio file (.mp2 without PES headers, or .mpg with the audio PES packets).
#include <CLI/CLI.hpp>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <string>

#include "cli/cli_common.h"
#include "extract/extraction_engine.h"
#include "extract/output_name.h"
#include "fs/layout.h"

namespace quarrow::cli {
namespace {

// Ctrl-C: the walk stops at its next block and removes its unfinished files.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void on_interrupt(int) {
    interrupted = 1;
}

// Catches Ctrl-C (and a polite kill) while the extraction runs; the default comes back after.
struct InterruptScope {
    void (*old_int)(int);
    void (*old_term)(int);
    InterruptScope() {
        interrupted = 0;
        old_int = std::signal(SIGINT, on_interrupt);
        old_term = std::signal(SIGTERM, on_interrupt);
    }
    ~InterruptScope() {
        std::signal(SIGINT, old_int);
        std::signal(SIGTERM, old_term);
    }
};

// The exit status for Ctrl-C: 128 + SIGINT, as shells report a program the signal ended.
constexpr int EXIT_INTERRUPT_STATUS = 130;

struct ExtractOptions {
    std::string source;
    std::string recording;
    std::string dir = ".";
    std::string prefix;
    int64_t start = -1;  // -1: the recording's own
    int64_t length = -1;
    std::string audio = "mp2";
    bool no_video = false;
    int sync = 1;
    bool no_auto_sync = false;
    bool quiet = false;
};

// The display title folded to plain ASCII, with what a file prefix may not hold made "_"; a
// recording without any title is named by its number.
std::string default_prefix(const RecordingEntry& e, int number) {
    char text[TITLE_BYTES];
    memcpy(text, e.display_title, TITLE_BYTES);
    text[TITLE_BYTES - 1] = 0;
    fold_to_ascii(text);
    std::string prefix;
    for (const char* p = text; *p; ++p)
        prefix += prefix_char_allowed(static_cast<unsigned char>(*p)) ? *p : '_';
    size_t first = prefix.find_first_not_of(' ');
    if (first == std::string::npos) return "Recording " + std::to_string(number);
    return prefix;
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

// "News", then "News (2)", "News (3)", ...; compared without regard to case, so that the files
// stay apart on file systems that ignore it.
std::string unique_prefix(const std::string& base, std::set<std::string>* used) {
    std::string candidate = base;
    for (int n = 2; used->count(lower(candidate)); ++n)
        candidate = base + " (" + std::to_string(n) + ")";
    used->insert(lower(candidate));
    return candidate;
}

std::string output_name(const std::string& dir, const std::string& prefix, const char* ext) {
    char name[OUTPUT_NAME_BUFFER];
    build_output_name(dir.c_str(), prefix.c_str(), ext, name);
    return name;
}

// Extracts one recording; prints the engine's message (stdout on success, stderr on failure)
// and the files written.
bool extract_one(const OpenSource& src, int index, const ExtractOptions& o, const std::string& dir,
                 const std::string& prefix) {
    const RecordingEntry& e = src.entries[index];
    int64_t start = o.start >= 0 ? o.start : e.start_offset;
    int64_t length = o.length >= 0 ? o.length : e.length;
    // The engine counts in signed 32-bit sectors (1 TiB), more than any disk of the receiver.
    if (start > INT32_MAX) start = INT32_MAX;
    if (length > INT32_MAX) length = INT32_MAX;
    int audio_type = o.audio == "mpg" ? AUDIO_TYPE_MPG : AUDIO_TYPE_MP2;

    TerminalProgress progress;
    progress.enabled = !o.quiet && stderr_is_terminal();
    OperationHooks hooks = terminal_hooks(&progress);
    ExtractionRequest request;
    request.first_cluster = e.first_cluster;
    request.start = static_cast<int32_t>(start);
    request.length = static_cast<int32_t>(length);
    request.audio_type = audio_type;
    request.auto_video_sync = !o.no_auto_sync;
    request.sync_tuning = o.sync;
    request.no_video = o.no_video;
    request.path = dir.c_str();
    request.prefix = prefix.c_str();
    request.hooks = &hooks;
    request.interrupt = &interrupted;
    char message[MESSAGE_SIZE] = "";
    int ok = extract_recording(src.disk, request, message);
    finish_progress(&progress);
    if (!ok && interrupted) {
        std::cerr << message << " No files were written for this recording.\n";
        return false;
    }
    if (!ok) {
        std::cerr << message << "\n";
        return false;
    }
    std::cout << message << "\n";
    if (!o.no_video) std::cout << "  " << output_name(dir, prefix, ".m2v") << "\n";
    std::cout << "  " << output_name(dir, prefix, audio_type == AUDIO_TYPE_MPG ? ".mpg" : ".mp2")
              << "\n";
    return true;
}

int run_extract(const ExtractOptions& o) {
    bool all = o.recording == "all";
    if (all && !o.prefix.empty()) {
        std::cerr << "--prefix names the files of one recording; with 'all' each recording is "
                     "named after its title.\n";
        return EXIT_USAGE;
    }
    if (all && (o.start >= 0 || o.length >= 0)) {
        std::cerr << "--start and --length give a range of one recording; they cannot be used "
                     "with 'all'.\n";
        return EXIT_USAGE;
    }
    std::string dir;
    if (!typed_to_latin1(o.dir, &dir)) {
        std::cerr << "The folder name holds characters that cannot be written in Latin-1: " << o.dir
                  << "\n";
        return EXIT_FAILED;
    }
    std::string prefix;
    if (!o.prefix.empty() && !typed_to_latin1(o.prefix, &prefix)) {
        std::cerr << "The prefix holds characters that cannot be written in Latin-1: " << o.prefix
                  << "\n";
        return EXIT_FAILED;
    }

    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    InterruptScope interrupt_scope;
    if (!all) {
        int index = recording_index(o.recording, src);
        if (index < 0) return EXIT_FAILED;
        if (o.prefix.empty()) prefix = default_prefix(src.entries[index], index + 1);
        bool ok = extract_one(src, index, o, dir, prefix);
        if (interrupted) return EXIT_INTERRUPT_STATUS;
        return ok ? EXIT_OK : EXIT_FAILED;
    }
    if (src.count == 0) {
        std::cout << "There are no recordings on this disk.\n";
        return EXIT_OK;
    }
    std::set<std::string> used;
    int failed = 0;
    for (int i = 0; i < src.count; ++i) {
        std::string name = unique_prefix(default_prefix(src.entries[i], i + 1), &used);
        std::cout << "Recording " << (i + 1) << ": " << utf8(src.entries[i].display_title)
                  << std::endl;
        if (!extract_one(src, i, o, dir, name)) ++failed;
        if (interrupted) {
            std::cerr << "Interrupted: " << i << " of " << src.count
                      << " recordings were extracted.\n";
            return EXIT_INTERRUPT_STATUS;
        }
    }
    if (failed) {
        std::cerr << failed << " of " << src.count << " recordings could not be extracted.\n";
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

void add_extract_command(CLI::App& app, int* exit_code) {
    auto o = std::make_shared<ExtractOptions>();
    CLI::App* cmd = app.add_subcommand(
        "extract",
        "Extract a recording into an MPEG-2 video stream (PREFIX.m2v, from the first sequence "
        "header on) and its audio (PREFIX.mp2 as MPEG audio without PES headers, or PREFIX.mpg "
        "with the audio PES packets as broadcast).");
    cmd->footer(
        "The range is counted in 512-byte sectors from the first data sector of the recording's "
        "first cluster; by default the recording's own start and length.\n"
        "Audio is held back until video has started and SYNC video blocks have passed (with "
        "auto sync, only blocks after which no new sequence begins count), so that both files "
        "start together.\n"
        "Existing files of the same names are replaced. N = 'all' extracts every recording, "
        "each named after its title (a second \"News\" becomes \"News (2)\").");
    cmd->add_option("SOURCE", o->source, "Disk image, whole-disk device, or 'scan'")->required();
    cmd->add_option("N", o->recording, "Recording number as 'quarrow list' shows it, or 'all'")
        ->required();
    cmd->add_option("-o,--output", o->dir, "Folder for the files (default: the current folder)");
    cmd->add_option("--prefix", o->prefix,
                    "File name without extension (default: the title in plain ASCII)");
    cmd->add_option("--start", o->start, "First sector of the range (default: the recording's)")
        ->check(CLI::Range(int64_t(0), int64_t(INT32_MAX)));
    cmd->add_option("--length", o->length, "Sectors to extract (default: the recording's)")
        ->check(CLI::Range(int64_t(0), int64_t(INT32_MAX)));
    cmd->add_option("--audio", o->audio,
                    "mp2: MPEG audio with the PES headers removed (default); mpg: the audio PES "
                    "packets unchanged")
        ->check(CLI::IsMember({"mp2", "mpg"}));
    cmd->add_flag("--no-video", o->no_video, "Leave the video out (no .m2v is written)");
    cmd->add_option("--sync", o->sync, "Video sync: video blocks audio waits for, 1 to 5")
        ->check(CLI::Range(SYNC_TUNING_MIN, SYNC_TUNING_MAX));
    cmd->add_flag("--no-auto-sync", o->no_auto_sync,
                  "Count every video block for the video sync, not only those after which no "
                  "new sequence begins");
    cmd->add_flag("-q,--quiet", o->quiet, "Show no progress bar");
    cmd->callback([o, exit_code] { *exit_code = run_extract(*o); });
}

const CommandRegistration registration(20, add_extract_command);

}  // namespace
}  // namespace quarrow::cli
