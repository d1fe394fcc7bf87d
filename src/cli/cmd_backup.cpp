// quarrow backup: one recording to a ".mmr" backup file (its record, then its clusters whole).
#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "cli/cli_common.h"
#include "cli/damage_report.h"
#include "cli/interrupts.h"
#include "fs/backup_restore.h"

namespace quarrow::cli {
namespace {

struct BackupOptions {
    std::string source;
    std::string number;
    std::string file;
    bool force = false;
    bool skip_bad = false;
    std::string map;
};

int run_backup(const BackupOptions& o) {
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    // Never the disk itself, however it is named; an existing file only when the user says so.
    if (output_is_source(o.file, src, "backed up")) return EXIT_USAGE;
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(o.file, ec)) {
        // A backup is a file; renamed over a device node it would take the device's place.
        if (!fs::is_regular_file(o.file, ec)) {
            std::cerr << o.file << " is not a regular file; backup writes .mmr files only.\n";
            return EXIT_USAGE;
        }
        if (!o.force) {
            if (!stdin_is_terminal()) {
                std::cerr << o.file << " exists: add --force to replace it.\n";
                return EXIT_USAGE;
            }
            if (!ask_yes_no((o.file + " exists. Replace it?").c_str())) {
                std::cerr << "Nothing was written.\n";
                return EXIT_FAILED;
            }
        }
    }
    RescueMap map;
    if (!o.map.empty() && (!load_map_option(o.map, &map) || !fit_map_option(o.map, src.disk, &map)))
        return EXIT_FAILED;
    int index = recording_index(o.number, src);
    if (index < 0) return EXIT_FAILED;
    TerminalProgress progress;
    progress.enabled = stderr_is_terminal();
    progress.unit = "clusters";
    progress.bytes_per_unit = CLUSTER_BYTES;
    OperationHooks hooks = terminal_hooks(&progress);
    DamagedReads damaged;
    damaged.skip_bad = o.skip_bad;
    damaged.map = o.map.empty() ? nullptr : &map;
    bool tolerant = o.skip_bad || !o.map.empty();
    clear_reason();
    // Ctrl-C stops the copy between clusters, and the unfinished file goes with it.
    defer_interrupts();
    int ok = backup_recording(src.disk, index, o.file.c_str(), &hooks, src.message,
                              tolerant ? &damaged : nullptr);
    finish_progress(&progress, ok);
    // Every sector of the clusters is in the file, so every unreadable one counts.
    int64_t unreadable =
        tolerant ? report_damage(damaged, src.entries[index], INT64_MIN / 2, INT64_MAX / 2) : 0;
    if (!ok) {
        std::cerr << src.message << failure_reason() << "\n";
        return interrupt_requested() ? EXIT_INTERRUPTED : EXIT_FAILED;
    }
    // One verdict: success only for a backup that holds every sector as the disk has it.
    if (unreadable) {
        std::cerr << "The backup " << o.file << " was written with " << unreadable
                  << " unreadable sectors as zeros.\n";
        return EXIT_FAILED;
    }
    std::cout << "Backup Operation Successful.\n";
    return EXIT_OK;
}

void add_backup_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<BackupOptions>();
    CLI::App* cmd = app.add_subcommand(
        "backup",
        "Back up recording N to a MediaMaster Recording file (.mmr): its Recording Information "
        "record followed by each of its 8 MiB clusters. 'quarrow restore' puts it back on this "
        "or another MediaMaster disk. Only reads the disk.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    add_recording_number(cmd, &options->number,
                         "Recording number, 1 = newest (see 'quarrow list')");
    cmd->add_option("FILE", options->file, "Backup file to write, e.g. recording.mmr")->required();
    cmd->add_flag("-f,--force", options->force, "Replace FILE when it exists, without asking");
    cmd->add_flag("--skip-bad", options->skip_bad,
                  "Go on past unreadable sectors (zeros in their place) and name each damaged "
                  "time range; exit status 1 when any, the file kept");
    cmd->add_option("--map", options->map,
                    "Map of an image made by 'quarrow rescue' or ddrescue: name the time ranges "
                    "whose sectors were not rescued");
    cmd->callback([options, exit_code] { *exit_code = run_backup(*options); });
}

const CommandRegistration registration(40, add_backup_command);

}  // namespace
}  // namespace quarrow::cli
