// quarrow recover: "Reclaim all data on disk": free clusters that still hold recordings come
// back as recordings named "Recovered N".
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_common.h"
#include "fs/layout.h"
#include "fs/recovery.h"

namespace quarrow::cli {
namespace {

struct RecoverOptions {
    std::string source;
    bool yes = false;
};

bool answer_yes(void*, const char*) {
    return true;
}

// The question comes after the scan: its progress line is ended first.
bool ask_after_scan(void* context, const char* text) {
    finish_progress(static_cast<TerminalProgress*>(context));
    return ask_yes_no(text);
}

int run_recover(const RecoverOptions& o) {
    if (!o.yes && !stdin_is_terminal()) {
        std::cerr << "Recovery needs a confirmation: run it on a terminal, or add --yes.\n";
        return EXIT_USAGE;
    }
    OpenSource src;
    if (!open_source(o.source, true, &src)) return EXIT_FAILED;
    if (src.count > 0 && !o.yes &&
        !ask_yes_no("Warning: if this operation fails, you can loose the current recordings! Do "
                    "you want to continue?")) {
        std::cerr << "Nothing was changed.\n";
        return EXIT_FAILED;
    }
    TerminalProgress progress;
    progress.enabled = stderr_is_terminal();
    progress.unit = "clusters";
    progress.bytes_per_unit = CLUSTER_HEADER_SECTORS * SECTOR_SIZE;
    OperationHooks hooks = terminal_hooks(&progress);
    hooks.confirm = o.yes ? answer_yes : ask_after_scan;
    int ok = recover_recordings(src.disk, src.count, &hooks, src.message);
    finish_progress(&progress);
    if (!ok) {
        std::cerr << src.message << "\n";
        return EXIT_FAILED;
    }
    std::cout << src.message << "\n";
    return EXIT_OK;
}

void add_recover_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<RecoverOptions>();
    CLI::App* cmd = app.add_subcommand(
        "recover",
        "Reclaim all data on disk: group the free clusters by the recording each belongs to "
        "(deleted recordings keep their contents) and add each group as a recording named "
        "\"Recovered N\". Recordings already listed are not touched, but a failure part way "
        "can cost them: on a disk with recordings this warns first, then asks once the number "
        "of recordings found is known. --yes answers both questions.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_flag("-y,--yes", options->yes, "Answer yes to both questions");
    cmd->callback([options, exit_code] { *exit_code = run_recover(*options); });
}

const CommandRegistration registration(50, add_recover_command);

}  // namespace
}  // namespace quarrow::cli
