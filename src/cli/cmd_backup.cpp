// quarrow backup: one recording to a ".mmr" backup file (its record, then its clusters whole).
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "cli/cli_common.h"
#include "fs/backup_restore.h"

namespace quarrow::cli {
namespace {

struct BackupOptions {
    std::string source;
    std::string number;
    std::string file;
    bool force = false;
};

int run_backup(const BackupOptions& o) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(o.file, ec)) {
        // An existing file is only replaced when the user says so, and never when it is the disk.
        if (fs::equivalent(o.file, o.source, ec)) {
            std::cerr << "The backup file cannot be the disk itself.\n";
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
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    int index = recording_index(o.number, src);
    if (index < 0) return EXIT_FAILED;
    TerminalProgress progress;
    progress.enabled = stderr_is_terminal();
    progress.unit = "clusters";
    progress.bytes_per_unit = CLUSTER_BYTES;
    OperationHooks hooks = terminal_hooks(&progress);
    int ok = backup_recording(src.disk, index, o.file.c_str(), &hooks, src.message);
    finish_progress(&progress);
    if (!ok) {
        std::cerr << src.message << "\n";
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
    cmd->add_option("N", options->number, "Recording number, 1 = newest (see 'quarrow list')")
        ->required();
    cmd->add_option("FILE", options->file, "Backup file to write, e.g. recording.mmr")->required();
    cmd->add_flag("-f,--force", options->force, "Replace FILE when it exists, without asking");
    cmd->callback([options, exit_code] { *exit_code = run_backup(*options); });
}

const CommandRegistration registration(40, add_backup_command);

}  // namespace
}  // namespace quarrow::cli
