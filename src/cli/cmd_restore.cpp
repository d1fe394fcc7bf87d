// quarrow restore: backup files back onto a disk as new recordings; a file that fails does not
// stop the others.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/interrupts.h"
#include "fs/backup_restore.h"

namespace quarrow::cli {
namespace {

struct RestoreOptions {
    std::string source;
    std::vector<std::string> files;
};

int run_restore(const RestoreOptions& o) {
    OpenSource src;
    if (!open_source(o.source, true, &src)) return EXIT_FAILED;
    int restored = 0;
    bool stopped = false;
    for (const std::string& file : o.files) {
        // Between files is a safe point: the files not begun are left for another run.
        if (interrupt_requested()) {
            std::cerr << "Interrupted; "
                      << (restored ? "the files not yet restored were left."
                                   : "nothing was changed.")
                      << "\n";
            stopped = true;
            break;
        }
        TerminalProgress progress;
        progress.enabled = stderr_is_terminal();
        progress.unit = "clusters";
        progress.bytes_per_unit = CLUSTER_BYTES;
        OperationHooks hooks = terminal_hooks(&progress);
        src.message[0] = 0;
        clear_reason();
        int ok = restore_recording(src.writable(), file.c_str(), &hooks, src.message);
        finish_progress(&progress, ok);
        if (ok) {
            ++restored;
            if (o.files.size() > 1) std::cerr << file << ": restored.\n";
        } else {
            // The fixed text first; the file and the system's reason after it.
            const std::string reason = failure_reason(false);
            std::cerr << src.message << " (" << file
                      << (reason.empty() ? "" : ": " + reason.substr(2, reason.size() - 3))
                      << ")\n";
        }
    }
    // Flushed whatever the outcome: a restore that failed part way may have written clusters.
    bool committed = commit_changes(&src);
    if (restored > 0 && !committed) return EXIT_FAILED;
    if (restored > 0) std::cout << "Restore Operation Successful.\n";
    if (stopped) return EXIT_INTERRUPTED;
    note_finished_despite_interrupt();
    if (interrupt_requested() && restored < static_cast<int>(o.files.size()))
        return EXIT_INTERRUPTED;
    return restored == static_cast<int>(o.files.size()) ? EXIT_OK : EXIT_FAILED;
}

void add_restore_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<RestoreOptions>();
    CLI::App* cmd = app.add_subcommand(
        "restore",
        "Restore recordings from backup files (.mmr) onto the disk, each as a new recording "
        "(the newest, number 1) on the lowest free clusters. The files are restored in the order "
        "given; one that fails does not stop the others. Only regular files are read.\n"
        "Exit status: 0 every file was restored; 1 one or more failed; 2 wrong command line.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_option("FILE", options->files, "Backup files, e.g. recording.mmr")->required();
    cmd->callback([options, exit_code] { *exit_code = run_restore(*options); });
}

const CommandRegistration registration(41, add_restore_command);

}  // namespace
}  // namespace quarrow::cli
