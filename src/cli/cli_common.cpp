#include "cli/cli_common.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "cli/interrupts.h"
#include "disk/file_identity.h"
#include "disk/progress_text.h"
#include "disk/system_error.h"
#include "fs/allocation_table.h"
#include "fs/disk_detection.h"
#include "fs/disk_session.h"
#include "fs/layout.h"
#include "fs/maintenance_io.h"
#include "fs/text_folding.h"

namespace quarrow::cli {

namespace {

struct Registered {
    int order;
    AddCommand add;
};

// Filled by the commands' static registrations before main runs.
std::vector<Registered>& registry() {
    static std::vector<Registered> commands;
    return commands;
}

}  // namespace

CommandRegistration::CommandRegistration(int order, AddCommand add) {
    registry().push_back({order, add});
}

void add_registered_commands(CLI::App& app, int* exit_code) {
    std::vector<Registered> commands = registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const Registered& a, const Registered& b) { return a.order < b.order; });
    for (const Registered& c : commands)
        c.add(app, exit_code);
}

std::string failure_reason(bool with_path) {
    const SystemFailure& f = last_system_failure();
    if (f.reason.empty()) return "";
    if (f.path.empty() || !with_path) return " (" + f.reason + ")";
    return " (" + f.path + ": " + f.reason + ")";
}

void clear_reason() {
    clear_system_failure();
}

namespace {

// Why an image was refused: what the system said when it would not open, else what is missing
// in it. The image is opened once more to tell the two apart.
std::string image_refusal_reason(const std::string& path) {
    clear_system_failure();
    DiskHandle probe = open_image_file(path.c_str(), false);
    if (!probe) {
        const SystemFailure& f = last_system_failure();
        return f.reason.empty() ? "" : " (" + f.reason + ")";
    }
    uint64_t size = 0;
    bool short_file = probe->size_bytes && probe->size_bytes(probe, &size) &&
                      size < uint64_t(BOOT_AREA_SECTORS) * SECTOR_SIZE;
    // The signature lies in the Table of Contents: a sector that fails to read is no proof
    // that the disk is another kind.
    uint8_t sector[SECTOR_SIZE];
    clear_system_failure();
    bool toc_read = short_file || read_sectors(probe, sector, TOC_SECTOR, 1, SECTOR_SIZE) == 1;
    std::string why = last_system_failure().reason;
    close_disk(probe);
    if (short_file) return " (it is shorter than the boot area)";
    // A read error, not a file that ends before it (that one holds no signature either).
    if (!toc_read && !why.empty())
        return " (its Table of Contents, sector " + std::to_string(TOC_SECTOR) +
               ", could not be read: " + why + ")";
    return " (no MediaMaster signature at sector 0)";
}

// Why a writing command may not write to the opened disk: only a read-only open succeeded, or
// the image's mode allows no writing.
void explain_read_only(const std::string& source, const OpenSource& src) {
    const std::string name = src.scan ? "the MediaMaster disk" : source;
    std::string reason =
        src.mode_read_only ? "its file mode allows no writing" : last_system_failure().reason;
    std::cerr << "Cannot open " << name << " for writing"
              << (reason.empty() ? "" : " (" + reason + ")") << "; nothing was changed.";
    if (src.mode_read_only && !src.scan)
        std::cerr << " To allow changes: " << allow_writing_command(source);
    std::cerr << "\n";
}

}  // namespace

bool open_source(const std::string& source, bool want_write, OpenSource* out) {
    clear_system_failure();
    // From here a writing command may change the disk: Ctrl-C waits for a safe point.
    if (want_write) defer_interrupts();
    if (open_session(out, source.c_str(), want_write)) return true;
    switch (out->status) {
        case SESSION_READ_ONLY:
            explain_read_only(source, *out);
            break;
        case SESSION_CANNOT_OPEN:
        case SESSION_NOT_MEDIAMASTER:
            std::cerr << out->message << image_refusal_reason(source) << "\n";
            explain_refused_source(source);
            break;
        default:
            std::cerr << out->message << "\n";
            if (out->status == SESSION_NO_DISK) explain_refused_source(source);
            break;
    }
    return false;
}

CLI::Option* add_recording_number(CLI::App* cmd, std::string* number, const char* help,
                                  bool allow_all) {
    CLI::Validator check(
        [allow_all](std::string& text) -> std::string {
            if (allow_all && text == "all") return {};
            bool digits =
                !text.empty() && text.size() <= 9 &&
                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (digits && strtol(text.c_str(), nullptr, 10) >= 1) return {};
            return "'" + text + "' is not a recording number (1 = newest" +
                   (allow_all ? ", or 'all'" : "") + ")";
        },
        allow_all ? "N|all" : "N");
    return cmd->add_option("N", *number, help)->required()->check(check);
}

void explain_refused_source(const std::string& source) {
    if (source != "scan") {
        explain_refused_drive(source.c_str());
        return;
    }
    // The scan ends at the first drive that does not open; find that one again. Without rights
    // on a whole machine that is drive 0, and the scan only said it found no MediaMaster disk.
    for (int d = 0; d < 256; ++d) {
        DiskHandle disk = open_physical_drive(d, false);
        if (disk) {
            close_disk(disk);
            continue;
        }
        char path[4096];
        if (physical_drive_path(d, path, sizeof path)) explain_refused_drive(path);
        return;
    }
}

bool interrupted_before_writing() {
    if (!interrupt_requested()) return false;
    std::cerr << "Interrupted; nothing was changed.\n";
    return true;
}

void note_finished_despite_interrupt() {
    if (interrupt_requested())
        std::cerr << "The interrupt came while the disk was being changed; the operation was "
                     "completed first, so that the disk stays consistent.\n";
}

bool commit_changes(OpenSource* src) {
    bool done = commit_session(src);
    if (!done) std::cerr << FLUSH_FAILED_MESSAGE << "\n";
    return done;
}

int recording_index(const std::string& number, const OpenSource& src) {
    long n = strtol(number.c_str(), nullptr, 10);
    if (n < 1 || n > src.count) {
        if (src.count == 0)
            std::cerr << "There are no recordings on this disk.\n";
        else
            std::cerr << "No recording number " << number << ": choose 1 to " << src.count << ".\n";
        return -1;
    }
    if (src.unreadable[n - 1]) {
        std::cerr << "Recording " << n << " cannot be used: its Recording Information record "
                  << "cannot be read.\n";
        return -1;
    }
    return static_cast<int>(n - 1);
}

std::string utf8(const char* latin1) {
    char buffer[512];
    latin1_to_utf8(latin1, buffer, sizeof buffer);
    return buffer;
}

std::string shown(const char* latin1) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(latin1); p && *p; ++p) {
        // C0 and C1 controls and DEL: a terminal would act on them (0x9B opens an escape
        // sequence just as ESC [ does).
        if (*p < 0x20 || *p == 0x7F || (*p >= 0x80 && *p < 0xA0)) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", *p);
            out += escaped;
        } else if (*p < 0x80) {
            out += static_cast<char>(*p);
        } else {
            out += static_cast<char>(0xC0 | (*p >> 6));
            out += static_cast<char>(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

bool output_is_source(const std::string& output, const OpenSource& src, const char* role) {
    if (check_output(src, output.c_str()) != OUTPUT_IS_SOURCE) return false;
    std::cerr << output << " is the disk being " << role << "; choose another file.\n";
    return true;
}

bool prepare_output_folder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status status = fs::status(folder, ec);
    if (fs::is_directory(status)) return true;
    if (fs::exists(status)) {
        std::cerr << "Could not create output file. (" << folder << " is not a folder)\n";
        return false;
    }
    if (!fs::create_directories(folder, ec) || ec) {
        std::cerr << "Could not create output file. (" << folder << ": "
                  << (ec ? ec.message() : std::string("cannot be made")) << ")\n";
        return false;
    }
    std::cerr << "Created folder " << folder << "\n";
    return true;
}

DiskReach measure_reach(const OpenSource& src) {
    DiskReach r;
    r.past_end.assign(static_cast<size_t>(src.count), false);
    r.no_clusters.assign(static_cast<size_t>(src.count), false);
    uint16_t last = read_last_cluster_index(src.disk);
    std::unique_ptr<uint8_t[]> table(new uint8_t[FAT_BYTES]);
    if (last == 0 || !read_fat(src.disk, table.get())) return r;
    if (!src.disk->size_bytes || !src.disk->size_bytes(src.disk, &r.size_bytes)) return r;
    r.known = true;
    r.clusters = uint32_t(last) + 1;
    auto held = [&](uint32_t c) {
        return uint64_t(cluster_first_sector(c) + CLUSTER_SECTORS) * SECTOR_SIZE <= r.size_bytes;
    };
    for (uint32_t c = 0; c <= last; ++c)
        if (held(c)) ++r.clusters_held;
    r.free_clusters = count_free_clusters(table.get(), last);
    for (int i = 0; i < src.count; ++i) {
        uint32_t c = src.entries[i].first_cluster;
        if (c > last) {
            r.no_clusters[i] = true;
            continue;
        }
        // At most one step per cluster: a chain that loops is not followed round again.
        for (uint32_t steps = 0; c <= last && steps <= last; ++steps) {
            if (!held(c)) {
                r.past_end[i] = true;
                ++r.past_end_count;
                break;
            }
            c = next_cluster(table.get(), static_cast<uint16_t>(c));
        }
    }
    return r;
}

std::string reach_summary(const DiskReach& reach) {
    if (!reach.known || reach.past_end_count == 0) return "";
    char text[200];
    snprintf(text, sizeof text,
             "This image holds %u of the disk's %u clusters; %d %s past its end (marked *).",
             reach.clusters_held, reach.clusters, reach.past_end_count,
             reach.past_end_count == 1 ? "recording reaches" : "recordings reach");
    return text;
}

bool ask_yes_no(const char* question) {
    std::cerr << question << " [y/N] " << std::flush;
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return false;
    return line[0] == 'y' || line[0] == 'Y';
}

namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// One line of the bar, in bytes and time; the final one says how long the whole took.
void draw(TerminalProgress* p, int64_t done, int64_t total, bool final_line) {
    double elapsed = now_seconds() - p->started;
    if (done > total) done = total;
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    const int width = 30;
    int filled = total > 0 ? static_cast<int>(done * width / total) : 0;
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[width] = 0;
    ProgressFigures figures;
    figures.done = done;
    figures.total = total;
    figures.bytes_per_unit = p->bytes_per_unit;
    figures.unit = p->unit;
    figures.elapsed_seconds = elapsed;
    figures.final_line = final_line;
    const std::string words = progress_text(figures);
    char line[240];
    int n = snprintf(line, sizeof line, "[%s] %3d%%  %s", bar, percent, words.c_str());
    // Spaces cover what a longer earlier line left behind (no escape sequences: the Windows
    // console shows them as text).
    int cover = p->line_width > n ? p->line_width - n : 0;
    fprintf(stderr, "\r%s%*s", line, cover, "");
    p->line_width = n;
    fflush(stderr);
    p->drawn = true;
}

void on_progress(void* context, int64_t done, int64_t total) {
    auto* p = static_cast<TerminalProgress*>(context);
    p->last_done = done;
    p->last_total = total;
    if (!p->enabled) return;
    double t = now_seconds();
    if (p->started == 0) p->started = t;
    // The last line is finish_progress's, drawn once.
    if (done >= total) return;
    // A few redraws a second: a line per block would cost more than the copy itself.
    if (p->last_draw >= 0 && t - p->last_draw < 0.25) return;
    p->last_draw = t;
    draw(p, done, total, false);
}

void on_notice(void* context, const char* text) {
    auto* p = static_cast<TerminalProgress*>(context);
    if (p->drawn) fputc('\n', stderr);
    p->drawn = false;
    p->line_width = 0;
    fprintf(stderr, "%s\n", text);
}

bool on_confirm(void*, const char* text) {
    return !interrupt_requested() && ask_yes_no(text) && !interrupt_requested();
}

bool on_cancelled(void*) {
    return interrupt_requested();
}

}  // namespace

OperationHooks terminal_hooks(TerminalProgress* progress) {
    progress->started = now_seconds();
    OperationHooks hooks{};
    hooks.context = progress;
    hooks.progress = on_progress;
    hooks.notice = on_notice;
    hooks.confirm = on_confirm;
    hooks.cancelled = on_cancelled;
    return hooks;
}

void finish_progress(TerminalProgress* progress, bool completed) {
    if (progress->enabled && (progress->drawn || progress->last_total > 0)) {
        // An extraction reports the sectors walked before each block, never the last count.
        int64_t done = completed ? progress->last_total : progress->last_done;
        draw(progress, done, progress->last_total, true);
        fputc('\n', stderr);
    }
    progress->drawn = false;
    progress->line_width = 0;
    progress->last_total = 0;
    progress->last_done = 0;
}

}  // namespace quarrow::cli
