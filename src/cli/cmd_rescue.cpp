// quarrow rescue: copies a failing disk to an image file around its bad sectors, the way GNU
// ddrescue does, with a map in ddrescue's format that lets a stopped rescue resume and that
// ddrescue and ddrescuelog read. What matters on a MediaMaster disk comes first: the system
// area, then the listed recordings' clusters, newest first, then the rest.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/interrupts.h"
#include "disk/rescue.h"
#include "disk/rescue_files.h"
#include "disk/system_error.h"
#include "fs/damaged_disk.h"
#include "fs/disk_rescue.h"
#include "fs/disk_session.h"

namespace quarrow::cli {
namespace {

namespace fs = std::filesystem;

struct RescueOptions {
    std::string source;
    std::vector<std::string> rest;  // IMAGE; with --domain the recording numbers
    std::string image;
    std::string map;
    std::string domain;
    int retries = 1;
    bool force = false;
};

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int bad_areas(const RescueMap& map) {
    int n = 0;
    for (const MapBlock& b : map.blocks)
        n += b.status == MAP_BAD;
    return n;
}

// The progress line on a terminal, and the rescue's notices above it.
struct Progress {
    const DiskRescueRequest* request = nullptr;
    bool terminal = false;
    double started = 0;
    double last_draw = -1;
    int64_t finished_at_start = 0;
    bool drawn = false;
};

void draw(Progress* p) {
    const RescueMap& map = *p->request->map;
    int64_t finished = map_status_bytes(map, MAP_FINISHED);
    int64_t bad = map_status_bytes(map, MAP_BAD);
    int64_t left = map.size() - finished - bad;
    std::string pace =
        rescue_pace_text(finished - p->finished_at_start, left, now_seconds() - p->started);
    char where[32] = "";
    if (p->request->current_recording > 0)
        snprintf(where, sizeof where, "recording %d: ", p->request->current_recording);
    fprintf(stderr, "\r%srescued %s of %s, bad %s (%d areas), %s   ", where,
            rescue_size_text(finished).c_str(), rescue_size_text(map.size()).c_str(),
            rescue_size_text(bad).c_str(), bad_areas(map), pace.c_str());
    fflush(stderr);
    p->drawn = true;
}

void end_line(Progress* p) {
    if (!p->drawn) return;
    fputc('\n', stderr);
    p->drawn = false;
}

void progress_hook(void* context, int64_t, int64_t) {
    auto* p = static_cast<Progress*>(context);
    double t = now_seconds();
    if (p->terminal && (p->last_draw < 0 || t - p->last_draw >= 0.25)) {
        p->last_draw = t;
        draw(p);
    }
}

void notice_hook(void* context, const char* text) {
    auto* p = static_cast<Progress*>(context);
    if (p->drawn) fputc('\n', stderr);
    p->drawn = false;
    std::cerr << shown(text) << "\n";
}

bool cancelled_hook(void*) {
    return interrupt_requested();
}

// The refusal of an output the session turned away (by identity: a symlink, another spelling or
// the drive a scan found is the source too); false when there is one.
bool output_usable(OutputCheck check, const std::string& path) {
    if (check == OUTPUT_IS_SOURCE)
        std::cerr << rescue_output_is_source(path) << "\n";
    else if (check == OUTPUT_NOT_REGULAR)
        std::cerr << rescue_output_not_regular(path) << "\n";
    return check == OUTPUT_USABLE;
}

// Checks the outputs and loads or starts the map; EXIT_OK to go on.
int prepare(const RescueOptions& o, DiskHandle source, const std::string& map_path, int64_t size,
            RescueMap* map) {
    std::string message;
    std::vector<std::string> notices;
    RescueSetup setup =
        prepare_rescue_files(source, size, o.image, map_path, o.force, map, &message, &notices);
    if (setup == RescueSetup::needs_consent) {
        if (!stdin_is_terminal()) {
            std::cerr << o.image << " exists without its map " << map_path
                      << "; add --force to rescue into it from the start.\n";
            return EXIT_USAGE;
        }
        if (!ask_yes_no(message.c_str())) {
            std::cerr << "Nothing was written.\n";
            return EXIT_FAILED;
        }
        setup =
            prepare_rescue_files(source, size, o.image, map_path, true, map, &message, &notices);
    }
    for (const std::string& notice : notices)
        std::cerr << notice << "\n";
    if (setup == RescueSetup::ready) return EXIT_OK;
    std::cerr << message << "\n";
    return setup == RescueSetup::refused ? EXIT_USAGE : EXIT_FAILED;
}

// Opens (creating it where missing) the image through the session, which grows it to the
// source's size only under the lock. False with the refusal on stderr.
bool open_image(const std::string& path, DiskHandle source, int64_t size, DiskSession* image) {
    clear_reason();
    if (open_rescue_image(image, source, path.c_str(), size)) return true;
    std::cerr << rescue_image_refusal(*image, path) << "\n";
    return false;
}

// Opens the source named on the command line through the session, read-only and under the
// shared lock, without asking for a readable system area.
bool open_source_for_rescue(const std::string& name, DiskSession* source) {
    std::error_code ec;
    clear_reason();
    const bool folder = fs::is_directory(name, ec);
    if (!folder && open_rescue_source(source, name.c_str())) return true;
    if (!folder && source->status == SESSION_IN_USE) {
        std::cerr << DISK_IN_USE_MESSAGE << "\n";
        return false;
    }
    if (!folder && source->status == SESSION_NO_DISK) {
        std::cerr << source->message << "\n";
        explain_refused_source(name);
        return false;
    }
    const std::string system = last_system_failure().reason;
    const std::string reason = folder           ? "it is a directory"
                               : system.empty() ? "it cannot be opened"
                                                : system;
    std::cerr << "Could not open input file. (" << name << ": " << reason << ")\n";
    return false;
}

// quarrow rescue --domain FILE SOURCE [N...]
int run_domain(const RescueOptions& o, DiskHandle source) {
    std::vector<int> numbers;
    for (const std::string& n : o.rest) {
        char* end = nullptr;
        long v = strtol(n.c_str(), &end, 10);
        if (n.empty() || *end || v < 1 || v > MAX_RECORDINGS) {
            std::cerr << "With --domain the arguments after SOURCE are recording numbers (1 to "
                      << MAX_RECORDINGS << "): " << n << "\n";
            return EXIT_USAGE;
        }
        numbers.push_back(int(v));
    }
    if (!output_usable(check_output(source, o.domain.c_str()), o.domain)) return EXIT_USAGE;
    char message[MESSAGE_SIZE] = "";
    if (!write_domain_map(source, numbers, o.domain, message)) {
        std::cerr << message << "\n";
        return EXIT_FAILED;
    }
    std::cout << "Domain map written to " << o.domain << ": the system area and the clusters of "
              << (numbers.empty()
                      ? std::string("every listed recording")
                      : "recording" + std::string(numbers.size() > 1 ? "s" : "") + " " +
                            o.rest.front() + (numbers.size() > 1 ? " and the others given" : ""))
              << ". Rescue them with: ddrescue --domain-mapfile=" << o.domain
              << " SOURCE IMAGE MAPFILE\n";
    return EXIT_OK;
}

int run_rescue(RescueOptions o) {
    if (o.retries < 1 || o.retries > 1000) {
        std::cerr << "--retries must be from 1 to 1000.\n";
        return EXIT_USAGE;
    }
    if (o.domain.empty() && o.rest.size() != 1) {
        std::cerr << "rescue takes SOURCE and IMAGE" << (o.rest.empty() ? "" : ", nothing more")
                  << "; with --domain FILE, SOURCE and the recording numbers.\n";
        return EXIT_USAGE;
    }
    DiskSession scanned;
    if (!open_source_for_rescue(o.source, &scanned)) return EXIT_FAILED;
    DiskHandle source = scanned.disk;
    if (!o.domain.empty()) return run_domain(o, source);
    o.image = o.rest.front();
    uint64_t size = 0;
    if (!source->size_bytes || !source->size_bytes(source, &size) || size == 0) {
        std::cerr << "Could not tell the size of " << o.source << ".\n";
        return EXIT_FAILED;
    }
    std::string map_path = o.map.empty() ? o.image + ".map" : o.map;
    RescueMap map;
    int ready = prepare(o, source, map_path, static_cast<int64_t>(size), &map);
    if (ready != EXIT_OK) return ready;
    DiskSession image;
    if (!open_image(o.image, source, static_cast<int64_t>(size), &image)) return EXIT_FAILED;

    DiskRescueRequest request;
    request.source = source;
    request.image = image.disk;
    request.map = &map;
    request.map_path = map_path;
    request.map_comment = "Command line: quarrow rescue " + o.source + " " + o.image;
    request.retries = o.retries;
    Progress progress;
    progress.request = &request;
    progress.terminal = stderr_is_terminal();
    progress.started = now_seconds();
    progress.finished_at_start = map_status_bytes(map, MAP_FINISHED);
    OperationHooks hooks{};
    hooks.context = &progress;
    hooks.progress = progress_hook;
    hooks.notice = notice_hook;
    hooks.cancelled = cancelled_hook;

    // Ctrl-C stops the passes at the next read; the map is then saved as far as it got.
    defer_interrupts(nullptr);
    char message[MESSAGE_SIZE] = "";
    DiskRescueResult result = rescue_disk(&request, &hooks, message);
    if (progress.drawn) draw(&progress);
    end_line(&progress);
    const bool closed = commit_session(&image);
    if (result.status == RESCUE_FAILED) {
        std::cerr << message << "\n";
        if (!result.map_message.empty() && result.map_message != message)
            std::cerr << result.map_message << "\n";
        if (!result.map_saved)
            std::cerr << map_path << " holds the rescue as of its last save; the same command "
                      << "resumes from there.\n";
        return EXIT_FAILED;
    }
    if (!closed) {
        std::cerr << "The system could not confirm that the image's writes reached the disk"
                  << failure_reason() << ".\n";
        return EXIT_FAILED;
    }
    if (result.status == RESCUE_STOPPED) {
        std::cerr << "Interrupted: " << o.image << " and " << map_path
                  << " hold what was rescued so far; run the same command again to go on.\n";
        return EXIT_INTERRUPTED;
    }
    int64_t bad = map_status_bytes(map, MAP_BAD);
    int64_t finished = map_status_bytes(map, MAP_FINISHED);
    // One verdict: "Rescued ..." only when every sector was.
    if (bad == 0 && finished == map.size()) {
        std::cout << "Rescued " << rescue_size_text(finished) << " of "
                  << rescue_size_text(map.size()) << " to " << o.image << "; map in " << map_path
                  << ".\n";
        return EXIT_OK;
    }
    for (const RecordingRescue& r : result.recordings)
        if (r.missing > 0) std::cerr << shown(recording_rescue_text(r).c_str()) << "\n";
    std::cout << "Rescued " << rescue_size_text(finished) << " of " << rescue_size_text(map.size())
              << " to " << o.image << "; map in " << map_path << ".\n";
    std::cout << bad / SECTOR_SIZE << " unreadable sectors in " << bad_areas(map)
              << (bad_areas(map) == 1 ? " area" : " areas")
              << " read as zeros in the image. Running the same command again tries them "
                 "once more.\n";
    return EXIT_FAILED;
}

void add_rescue_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<RescueOptions>();
    CLI::App* cmd = app.add_subcommand(
        "rescue",
        "Copy a failing disk to an image file around its bad sectors, as GNU ddrescue does: "
        "large reads first, a failed read skipped at once, then the skipped areas split down "
        "to single sectors, read past the system's cache so that a bad sector costs only "
        "itself. The system area comes first, then each listed recording's clusters, newest "
        "first, each whole before the next (its rescued share and unreadable times are shown "
        "when it is done), then the rest. The map (ddrescue's mapfile format) records what was "
        "rescued: the same command again resumes without reading a rescued sector twice, and "
        "Ctrl-C leaves a consistent image and map. Unread sectors are holes in the image. With "
        "--domain FILE, writes instead a ddrescue domain mapfile of the system area and the "
        "clusters of the recordings numbered after SOURCE (all when none), for "
        "'ddrescue --domain-mapfile=FILE' or an imager that reads such maps. "
        "Exit status: 0 every sector rescued, 1 some unreadable (or failed), 130 interrupted.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_option("IMAGE", options->rest,
                    "Image file to write (created, or continued); with --domain: recording "
                    "numbers (N...)");
    cmd->add_option("--domain", options->domain,
                    "Write a ddrescue domain mapfile to FILE instead of rescuing");
    cmd->add_option("-m,--map", options->map, "Map file (default: IMAGE.map)");
    cmd->add_option("-r,--retries", options->retries,
                    "Tries of each unreadable sector in this run (default 1)");
    cmd->add_flag("-f,--force", options->force,
                  "Write into an existing IMAGE that has no map, from the start");
    cmd->callback([options, exit_code] { *exit_code = run_rescue(*options); });
}

const CommandRegistration registration(73, add_rescue_command);

}  // namespace
}  // namespace quarrow::cli
