// quarrow move: one line up or down in the recording list, as the window's Move Up / Move Down.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_common.h"
#include "fs/recording_editing.h"

namespace quarrow::cli {
namespace {

struct MoveOptions {
    std::string source;
    std::string number;
    std::string direction;
};

int run_move(const MoveOptions& o) {
    const bool up = o.direction == "up";
    OpenSource src;
    if (!open_source(o.source, true, &src)) return EXIT_FAILED;
    int index = recording_index(o.number, src);
    if (index < 0) return EXIT_FAILED;
    if (up && index == 0) {
        std::cerr << "Recording 1 is already the first; nothing was changed.\n";
        return EXIT_FAILED;
    }
    if (!up && index == src.count - 1) {
        std::cerr << "Recording " << index + 1 << " is already the last; nothing was changed.\n";
        return EXIT_FAILED;
    }
    if (interrupted_before_writing()) return EXIT_INTERRUPTED;
    int ok = up ? move_recording_up(src.writable(), index, src.entries.get(), src.message)
                : move_recording_down(src.writable(), index, src.entries.get(), src.message);
    if (!ok) {
        std::cerr << src.message << failure_reason() << "\n";
        return EXIT_FAILED;
    }
    if (!commit_changes(&src)) return EXIT_FAILED;
    int now = up ? index - 1 : index + 1;
    std::cout << "Recording " << index + 1 << " is now number " << now + 1 << ": "
              << shown(src.entries[now].display_title) << "\n";
    note_finished_despite_interrupt();
    return EXIT_OK;
}

void add_move_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<MoveOptions>();
    CLI::App* cmd = app.add_subcommand(
        "move",
        "Move recording N one line up (towards number 1) or down in the recording list, as the "
        "Recording Management window's Move Up and Move Down do; the receiver shows the same "
        "order.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    add_recording_number(cmd, &options->number,
                         "Recording number, 1 = newest (see 'quarrow list')");
    cmd->add_option("DIRECTION", options->direction, "up or down")
        ->required()
        ->check(CLI::IsMember({"up", "down"}));
    cmd->callback([options, exit_code] { *exit_code = run_move(*options); });
}

const CommandRegistration registration(31, add_move_command);

}  // namespace
}  // namespace quarrow::cli
