// quarrow recover: "Reclaim all data on disk": free clusters that still hold recordings come
// back as recordings named "Recovered N".
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_common.h"
#include "cli/interrupts.h"
#include "fs/layout.h"
#include "fs/recording_table.h"
#include "fs/recovery.h"

namespace quarrow::cli {
namespace {

struct RecoverOptions {
    std::string source;
    bool yes = false;
    bool dry_run = false;
};

struct RecoverRun {
    TerminalProgress progress;
    bool dry_run = false;
    bool shown_groups = false;
};

// One line per group, before the question: what would become "Recovered N". With --dry-run they
// are the result (stdout); otherwise they go with the question (stderr).
void show_group(void* context, int number, const RecoveryGroup& g) {
    auto* run = static_cast<RecoverRun*>(context);
    if (!run->shown_groups) {
        finish_progress(&run->progress);
        run->shown_groups = true;
    }
    unsigned long long mb = uint64_t(g.cluster_count) * CLUSTER_SECTORS * SECTOR_SIZE / 1048576;
    char line[200];
    if (g.key == 0) {
        // The receiver's free space that was never recorded on reads back with zero headers:
        // the operation makes it one recording too.
        snprintf(line, sizeof line,
                 "Recovered %d: %u clusters (%llu MB) from cluster %u, never written (free space "
                 "that holds no recording)",
                 number, g.cluster_count, mb, unsigned(g.first_cluster));
    } else {
        char date[DATE_TEXT_BYTES];
        format_start_time(g.start_time, date);
        snprintf(line, sizeof line,
                 "Recovered %d: key %08X, %u clusters (%llu MB) from cluster %u, started %s",
                 number, g.key, g.cluster_count, mb, unsigned(g.first_cluster), date);
    }
    (run->dry_run ? std::cout : std::cerr) << line << std::endl;
}

bool answer_yes(void*, const char*) {
    return true;
}

bool answer_no(void* context, const char*) {
    finish_progress(static_cast<TerminalProgress*>(context));
    return false;
}

// The question comes after the scan: its progress line is ended first.
bool ask_after_scan(void* context, const char* text) {
    finish_progress(static_cast<TerminalProgress*>(context));
    return ask_yes_no(text);
}

int run_recover(const RecoverOptions& o) {
    if (!o.yes && !o.dry_run && !stdin_is_terminal()) {
        std::cerr << "Recovery needs a confirmation: run it on a terminal, or add --yes (or look "
                     "first with --dry-run).\n";
        return EXIT_USAGE;
    }
    OpenSource src;
    if (!open_source(o.source, !o.dry_run, &src)) return EXIT_FAILED;
    if (src.count > 0 && !o.yes && !o.dry_run &&
        !ask_yes_no("Warning: if this operation fails, you can loose the current recordings! Do "
                    "you want to continue?")) {
        std::cerr << "Nothing was changed.\n";
        return EXIT_FAILED;
    }
    RecoverRun run;
    run.dry_run = o.dry_run;
    run.progress.enabled = stderr_is_terminal();
    run.progress.unit = "clusters";
    // The scan reads each cluster's header only: what it scans is clusters, not megabytes.
    run.progress.bytes_per_unit = 0;
    OperationHooks hooks = terminal_hooks(&run.progress);
    hooks.confirm = o.dry_run ? answer_no : o.yes ? answer_yes : ask_after_scan;
    RecoveryView view{&run, show_group};
    clear_reason();
    int ok = o.dry_run ? preview_recovery(src.disk, src.count, &hooks, src.message, &view)
                       : recover_recordings(src.writable(), src.count, &hooks, src.message, &view);
    finish_progress(&run.progress);
    if (o.dry_run) {
        if (!run.shown_groups) std::cout << src.message << "\n";
        std::cout << "Dry run: nothing was changed.\n";
        return run.shown_groups || ok ? EXIT_OK : EXIT_FAILED;
    }
    if (!ok) {
        std::cerr << src.message << failure_reason() << "\n";
        return interrupt_requested() ? EXIT_INTERRUPTED : EXIT_FAILED;
    }
    if (!commit_changes(&src)) return EXIT_FAILED;
    std::cout << src.message << "\n";
    note_finished_despite_interrupt();
    return EXIT_OK;
}

void add_recover_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<RecoverOptions>();
    CLI::App* cmd = app.add_subcommand(
        "recover",
        "Reclaim all data on disk: group the free clusters by the recording each belongs to "
        "(deleted recordings keep their contents) and add each group as a recording named "
        "\"Recovered N\". Free space that was never written forms a group too, as large as that "
        "space. The groups are shown, one line each, before the question. Recordings already "
        "listed are not touched, but a failure part way can cost them: on a disk with "
        "recordings this warns first, then asks once the groups are known. --yes answers both "
        "questions; --dry-run shows the groups and changes nothing.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_flag("-y,--yes", options->yes, "Answer yes to both questions");
    auto* dry = cmd->add_flag("-n,--dry-run", options->dry_run,
                              "Show the groups that would be recovered and stop (reads only)");
    dry->excludes(cmd->get_option("--yes"));
    cmd->callback([options, exit_code] { *exit_code = run_recover(*options); });
}

const CommandRegistration registration(50, add_recover_command);

}  // namespace
}  // namespace quarrow::cli
