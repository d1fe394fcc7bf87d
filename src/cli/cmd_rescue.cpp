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

#include "cli/cli_common.h"
#include "cli/interrupts.h"
#include "disk/file_identity.h"
#include "disk/output_file.h"
#include "disk/rescue.h"
#include "disk/system_error.h"
#include "fs/damaged_disk.h"

namespace quarrow::cli {
namespace {

namespace fs = std::filesystem;

// Seconds between saves of the map: a crash loses at most this much work, never consistency.
constexpr double MAP_SAVE_SECONDS = 5.0;

struct RescueOptions {
    std::string source;
    std::string image;
    std::string map;
    int retries = 1;
    bool force = false;
};

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The map by the one output rule: written beside its name and renamed over the old one when
// complete, so that an interrupted save never leaves half a map, nor a moment without one.
bool save_map(const std::string& path, const RescueMap& map, const std::string& comment) {
    const std::string text = format_rescue_map(map, comment.c_str());
    OutputFilePtr out(begin_output_file(path.c_str()));
    return out && output_write(out.get(), text.data(), text.size()) &&
           commit_output_file(out.release());
}

std::string size_text(int64_t bytes) {
    char text[32];
    if (bytes < 1024 * 1024)
        snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
    else
        snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

int bad_areas(const RescueMap& map) {
    int n = 0;
    for (const MapBlock& b : map.blocks)
        n += b.status == MAP_BAD;
    return n;
}

struct Progress {
    std::string map_path;
    std::string comment;
    bool terminal = false;
    double started = 0;
    double last_save = 0;
    double last_draw = -1;
    int64_t finished_at_start = 0;
    bool drawn = false;
    bool save_failed = false;
};

void draw(Progress* p, const RescueMap& map) {
    int64_t finished = map_status_bytes(map, MAP_FINISHED);
    int64_t bad = map_status_bytes(map, MAP_BAD);
    int64_t left = map.size() - finished - bad;
    double elapsed = now_seconds() - p->started;
    double rate = elapsed > 0 ? static_cast<double>(finished - p->finished_at_start) / elapsed : 0;
    char eta[32] = "--:--";
    if (rate > 0 && elapsed > 0.5) {
        long secs = static_cast<long>(static_cast<double>(left) / rate);
        snprintf(eta, sizeof eta, "%ld:%02ld", secs / 60, secs % 60);
    }
    fprintf(stderr, "\rrescued %s of %s, bad %s (%d areas), %.1f MB/s, %s left   ",
            size_text(finished).c_str(), size_text(map.size()).c_str(), size_text(bad).c_str(),
            bad_areas(map), rate / 1048576.0, eta);
    fflush(stderr);
    p->drawn = true;
}

bool checkpoint(void* context, const RescueMap& map) {
    auto* p = static_cast<Progress*>(context);
    double t = now_seconds();
    if (t - p->last_save >= MAP_SAVE_SECONDS) {
        if (!save_map(p->map_path, map, p->comment)) {
            p->save_failed = true;
            return false;
        }
        p->last_save = t;
    }
    if (p->terminal && (p->last_draw < 0 || t - p->last_draw >= 0.25)) {
        p->last_draw = t;
        draw(p, map);
    }
    return !interrupt_requested();
}

bool read_text_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return !in.bad();
}

// Checks the outputs and loads or starts the map; EXIT_OK to go on.
int prepare(const RescueOptions& o, DiskHandle source, const std::string& map_path, int64_t size,
            RescueMap* map) {
    std::error_code ec;
    for (const std::string& out : {o.image, map_path}) {
        // By identity: a symlink, another spelling or the drive a scan found is the source too.
        if (path_is_disk(out.c_str(), source)) {
            std::cerr << out << " is the disk being rescued; choose another file.\n";
            return EXIT_USAGE;
        }
        if (fs::exists(out, ec) && !fs::is_regular_file(out, ec)) {
            std::cerr << out << " is not a regular file; rescue writes an image file and a map.\n";
            return EXIT_USAGE;
        }
    }
    if (fs::exists(o.image, ec) && fs::exists(map_path, ec) &&
        fs::equivalent(o.image, map_path, ec)) {
        std::cerr << "The image and the map must be two files.\n";
        return EXIT_USAGE;
    }
    if (fs::exists(map_path, ec)) {
        std::string text;
        char message[MESSAGE_SIZE] = "";
        if (!read_text_file(map_path, &text)) {
            std::cerr << "Could not read the map " << map_path << ".\n";
            return EXIT_FAILED;
        }
        if (!parse_rescue_map(text, map, message)) {
            std::cerr << map_path << ": " << message << "\n";
            return EXIT_FAILED;
        }
        if (!fit_rescue_map(map, size)) {
            std::cerr << map_path << " maps " << map->size() << " bytes, more than the " << size
                      << " of this source: it belongs to another disk.\n";
            return EXIT_FAILED;
        }
        if (!fs::exists(o.image, ec) && map_status_bytes(*map, MAP_FINISHED) > 0) {
            std::cerr << map_path << " lists rescued data but " << o.image
                      << " does not exist; give the image it belongs to, or another map.\n";
            return EXIT_FAILED;
        }
        std::cerr << "Resuming from " << map_path << ": "
                  << size_text(map_status_bytes(*map, MAP_FINISHED)) << " rescued already.\n";
        return EXIT_OK;
    }
    if (fs::exists(o.image, ec) && !o.force) {
        std::string question =
            o.image + " exists and " + map_path + " does not: start over and write into it?";
        if (!stdin_is_terminal()) {
            std::cerr << o.image << " exists without its map " << map_path
                      << "; add --force to rescue into it from the start.\n";
            return EXIT_USAGE;
        }
        if (!ask_yes_no(question.c_str())) {
            std::cerr << "Nothing was written.\n";
            return EXIT_FAILED;
        }
    }
    init_rescue_map(map, size);
    return EXIT_OK;
}

// The image: created when missing, and as long as the source, sparse where nothing is read yet.
// Opens (creating it where missing) the image for writing under the one-writer lock, and only
// then grows it to the source's size: an image another rescue holds is left as it is. Null when
// it cannot be had; *in_use then tells whether another program holds it.
DiskHandle open_image(const std::string& path, int64_t size, bool* in_use) {
    *in_use = false;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        DiskHandle created = create_output_file(path.c_str());
        if (!created) return nullptr;
        close_disk(created);
    }
    UniqueDisk image(open_image_file(path.c_str(), true));
    if (!image || !image->writable) return nullptr;
    if (!lock_disk(image.get(), true)) {
        *in_use = true;
        return nullptr;
    }
    if (static_cast<int64_t>(fs::file_size(path, ec)) < size) {
        fs::resize_file(path, static_cast<uintmax_t>(size), ec);
        if (ec) return nullptr;
    }
    return image.release();
}

int run_rescue(const RescueOptions& o) {
    if (o.retries < 1 || o.retries > 1000) {
        std::cerr << "--retries must be from 1 to 1000.\n";
        return EXIT_USAGE;
    }
    OpenSource scanned;
    DiskHandle source = nullptr;
    if (o.source == "scan") {
        if (!open_source(o.source, false, &scanned)) return EXIT_FAILED;
        source = scanned.disk;
    } else {
        std::error_code ec;
        clear_reason();
        const bool folder = fs::is_directory(o.source, ec);
        if (folder || !(source = open_image_file(o.source.c_str(), false))) {
            const std::string system = last_system_failure().reason;
            const std::string reason = folder           ? "it is a directory"
                                       : system.empty() ? "it cannot be opened"
                                                        : system;
            std::cerr << "Could not open input file. (" << o.source << ": " << reason << ")\n";
            return EXIT_FAILED;
        }
        scanned.disk = source;  // closed with the scope
        // A writer changing the source meanwhile would make the copy a mix of two disks.
        if (!lock_disk(source, false)) {
            std::cerr << DISK_IN_USE_MESSAGE << "\n";
            return EXIT_FAILED;
        }
    }
    uint64_t size = 0;
    if (!source->size_bytes || !source->size_bytes(source, &size) || size == 0) {
        std::cerr << "Could not tell the size of " << o.source << ".\n";
        return EXIT_FAILED;
    }
    std::string map_path = o.map.empty() ? o.image + ".map" : o.map;
    RescueMap map;
    int ready = prepare(o, source, map_path, static_cast<int64_t>(size), &map);
    if (ready != EXIT_OK) return ready;
    bool in_use = false;
    DiskHandle image = open_image(o.image, static_cast<int64_t>(size), &in_use);
    if (!image) {
        if (in_use)
            std::cerr << DISK_IN_USE_MESSAGE << "\n";
        else
            std::cerr << "Could not create the image " << o.image << ".\n";
        return EXIT_FAILED;
    }
    retry_bad_sectors(&map);

    Progress progress;
    progress.map_path = map_path;
    progress.comment = "Command line: quarrow rescue " + o.source + " " + o.image;
    progress.terminal = stderr_is_terminal();
    progress.started = now_seconds();
    progress.last_save = progress.started;
    progress.finished_at_start = map_status_bytes(map, MAP_FINISHED);
    RescueRequest request;
    request.source = source;
    request.image = image;
    request.map = &map;
    request.retries = o.retries;
    request.context = &progress;
    request.checkpoint = checkpoint;

    // Ctrl-C stops the passes at the next block; the map is then saved as far as it got.
    defer_interrupts(nullptr);
    char message[MESSAGE_SIZE] = "";
    // The system area whole first: it tells where the recordings are.
    std::vector<SectorRun> system = {system_area()};
    RescueResult result = rescue_copy_pass(&request, system, message);
    if (result == RESCUE_DONE) result = rescue_split_pass(&request, system, message);
    std::vector<SectorRun> areas;
    if (result == RESCUE_DONE) {
        areas = recording_areas(image, &map);
        areas.push_back({0, (static_cast<int64_t>(size) + SECTOR_SIZE - 1) / SECTOR_SIZE});
        result = rescue_copy_pass(&request, areas, message);
    }
    if (result == RESCUE_DONE) result = rescue_split_pass(&request, areas, message);

    finish_rescue_map(&map);
    // The image's writes are made durable before the map that claims them is saved a last time.
    const bool flushed = flush_disk(image);
    bool saved = !progress.save_failed && save_map(map_path, map, progress.comment);
    if (progress.drawn) {
        draw(&progress, map);
        fputc('\n', stderr);
    }
    image = close_disk(image);
    if (!saved) {
        std::cerr << "Could not write the map " << map_path << ".\n";
        return EXIT_FAILED;
    }
    if (!flushed) {
        std::cerr << "The system could not confirm that the image's writes reached the disk"
                  << failure_reason() << ".\n";
        return EXIT_FAILED;
    }
    if (result == RESCUE_FAILED) {
        std::cerr << message << "\n";
        return EXIT_FAILED;
    }
    int64_t bad = map_status_bytes(map, MAP_BAD);
    if (result == RESCUE_STOPPED) {
        std::cerr << "Interrupted: " << o.image << " and " << map_path
                  << " hold what was rescued so far; run the same command again to go on.\n";
        return 130;
    }
    std::cout << "Rescued " << size_text(map_status_bytes(map, MAP_FINISHED)) << " of "
              << size_text(map.size()) << " to " << o.image << "; map in " << map_path << ".\n";
    if (bad > 0) {
        std::cout << bad / SECTOR_SIZE << " unreadable sectors in " << bad_areas(map)
                  << (bad_areas(map) == 1 ? " area" : " areas")
                  << " read as zeros in the image. Running the same command again tries them "
                     "once more.\n";
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

void add_rescue_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<RescueOptions>();
    CLI::App* cmd = app.add_subcommand(
        "rescue",
        "Copy a failing disk to an image file around its bad sectors, as GNU ddrescue does: "
        "large reads first, a failed read skipped at once, then the skipped areas split down "
        "to single sectors. The system area comes first, then the listed recordings' clusters, "
        "newest first, then the rest. The map (ddrescue's mapfile format) records what was "
        "rescued: the same command again resumes without reading a rescued sector twice, and "
        "Ctrl-C leaves a consistent image and map. Unread sectors are holes in the image. "
        "Exit status: 0 every sector rescued, 1 some unreadable (or failed), 130 interrupted.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_option("IMAGE", options->image, "Image file to write (created, or continued)")
        ->required();
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
