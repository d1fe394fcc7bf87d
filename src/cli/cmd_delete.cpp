// quarrow delete: removes a recording and frees its clusters (their contents stay, so that
// 'quarrow recover' can find them again).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_common.h"
#include "fs/recording_editing.h"

namespace quarrow::cli {
namespace {

struct DeleteOptions {
    std::string source;
    std::string number;
    bool yes = false;
};

int run_delete(const DeleteOptions& o) {
    if (!o.yes && !stdin_is_terminal()) {
        std::cerr << "Deleting needs a confirmation: run it on a terminal, or add --yes.\n";
        return EXIT_USAGE;
    }
    OpenSource src;
    if (!open_source(o.source, true, &src)) return EXIT_FAILED;
    int index = recording_index(o.number, src);
    if (index < 0) return EXIT_FAILED;
    std::string title = shown(src.entries[index].display_title);
    if (!o.yes) {
        std::string question = "Do you really want to delete '" + title + "' ?";
        if (!ask_yes_no(question.c_str())) {
            std::cerr << "Nothing was deleted.\n";
            return EXIT_FAILED;
        }
    }
    if (interrupted_before_writing()) return EXIT_INTERRUPTED;
    TerminalProgress progress;
    OperationHooks hooks = terminal_hooks(&progress);
    if (!delete_recording(src.writable(), index, src.entries.get(), src.message, &hooks)) {
        // The refusal of a shared chain names the other recording by its Latin-1 title.
        std::cerr << shown(src.message) << failure_reason() << "\n";
        return EXIT_FAILED;
    }
    if (!commit_changes(&src)) return EXIT_FAILED;
    std::cout << "Deleted recording " << index + 1 << ": '" << title << "'.\n";
    note_finished_despite_interrupt();
    return EXIT_OK;
}

void add_delete_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<DeleteOptions>();
    CLI::App* cmd = app.add_subcommand(
        "delete",
        "Delete recording N: it leaves the recording list and its clusters become free space. "
        "The clusters keep their contents until the receiver records over them, so 'quarrow "
        "recover' can bring them back. Asks for confirmation on a terminal; elsewhere --yes is "
        "required.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    add_recording_number(cmd, &options->number,
                         "Recording number, 1 = newest (see 'quarrow list')");
    cmd->add_flag("-y,--yes", options->yes, "Delete without asking");
    cmd->callback([options, exit_code] { *exit_code = run_delete(*options); });
}

const CommandRegistration registration(32, add_delete_command);

}  // namespace
}  // namespace quarrow::cli
