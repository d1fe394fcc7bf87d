// quarrow edit: the Recording Management window's Apply: user title, channel name and the
// Permanent, Pause and Locked attributes of one recording, written to the disk at once.
#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "cli/cli_common.h"
#include "fs/layout.h"
#include "fs/recording_editing.h"
#include "fs/text_folding.h"

namespace quarrow::cli {
namespace {

struct EditOptions {
    std::string source;
    std::string number;
    std::string title;
    std::string channel;
    bool permanent = false;
    bool no_permanent = false;
    bool locked = false;
    bool no_locked = false;
    bool no_pause = false;
};

// Turns a UTF-8 command-line text into a zero-filled disk field of width bytes; the text must be
// Latin-1 and fit with its terminating zero. Texts that are too long are refused, never cut.
bool to_field(const std::string& text, const char* what, size_t width, char* field) {
    std::string latin1(text.size() + 1, '\0');
    if (!utf8_to_latin1(text.c_str(), &latin1[0], latin1.size())) {
        std::cerr << "The " << what
                  << " can only hold Latin-1 characters (Western European letters); nothing was "
                     "changed.\n";
        return false;
    }
    size_t length = strlen(latin1.c_str());
    if (length > width - 1) {
        std::cerr << "The " << what << " is " << length << " characters long; at most " << width - 1
                  << " fit. Nothing was changed.\n";
        return false;
    }
    memset(field, 0, width);
    memcpy(field, latin1.c_str(), length);
    return true;
}

int run_edit(const EditOptions& o, const CLI::App& cmd) {
    char title[REC_USER_TITLE_BYTES] = {0};
    char channel[REC_CHANNEL_BYTES] = {0};
    const bool new_title = cmd.count("--title") > 0;
    const bool new_channel = cmd.count("--channel") > 0;
    if (!new_title && !new_channel && !o.permanent && !o.no_permanent && !o.locked &&
        !o.no_locked && !o.no_pause) {
        std::cerr << "Nothing to change: give --title, --channel or an attribute option (see "
                     "'quarrow edit --help').\n";
        return EXIT_USAGE;
    }
    if (new_title && !to_field(o.title, "title", sizeof title, title)) return EXIT_USAGE;
    if (new_channel) {
        if (o.channel.empty()) {
            std::cerr << "The channel name cannot be empty!\n";
            return EXIT_USAGE;
        }
        if (!to_field(o.channel, "channel name", sizeof channel, channel)) return EXIT_USAGE;
    }

    OpenSource src;
    if (!open_source(o.source, true, &src)) return EXIT_FAILED;
    int index = recording_index(o.number, src);
    if (index < 0) return EXIT_FAILED;
    RecordingEntry& entry = src.entries[index];
    // Unchanged fields are written back as the list holds them (text, then zeros).
    if (!new_title) memcpy(title, entry.user_title, strnlen(entry.user_title, sizeof title - 1));
    if (!new_channel) memcpy(channel, entry.channel, strnlen(entry.channel, sizeof channel - 1));
    if (!channel[0]) {
        std::cerr << "The channel name cannot be empty!\n";
        return EXIT_USAGE;
    }

    // The window's check boxes: they start from the recording's flags; Pause can only be taken
    // off, and a click on Permanent takes Pause off too.
    uint8_t flags = entry.flags & APPLY_MASK;
    if (o.permanent) flags = (flags | FLAG_PERMANENT) & ~FLAG_PAUSE;
    if (o.no_permanent) flags = flags & ~(FLAG_PERMANENT | FLAG_PAUSE);
    if (o.no_pause) flags &= ~FLAG_PAUSE;
    if (o.locked) flags |= FLAG_LOCKED;
    if (o.no_locked) flags &= ~FLAG_LOCKED;

    if (interrupted_before_writing()) return EXIT_INTERRUPTED;
    if (!apply_recording_changes(src.writable(), index, &entry, title, channel, flags, APPLY_MASK,
                                 src.message)) {
        std::cerr << src.message << failure_reason() << "\n";
        return EXIT_FAILED;
    }
    if (!commit_changes(&src)) return EXIT_FAILED;
    std::cout << "Recording " << index + 1 << ": \"" << shown(entry.display_title)
              << "\", channel \"" << shown(entry.channel) << "\", " << entry.attribute_text
              << ".\n";
    note_finished_despite_interrupt();
    return EXIT_OK;
}

void add_edit_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<EditOptions>();
    CLI::App* cmd = app.add_subcommand(
        "edit",
        "Change the user title, channel name or attributes of recording N and write them to the "
        "disk at once, as the Recording Management window's Apply does. Fields that are not "
        "given keep their values. Pause can only be taken off; --permanent and --no-permanent "
        "take it off too, as a click on Permanent does in the window.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    add_recording_number(cmd, &options->number,
                         "Recording number, 1 = newest (see 'quarrow list')");
    cmd->add_option("--title", options->title,
                    "New user title, at most 47 Latin-1 characters; \"\" removes it, and the "
                    "default title or the channel name is shown instead");
    cmd->add_option("--channel", options->channel, "New channel name, 1 to 31 Latin-1 characters");
    auto* permanent = cmd->add_flag("--permanent", options->permanent, "Set Permanent");
    cmd->add_flag("--no-permanent", options->no_permanent, "Clear Permanent (Erasable)")
        ->excludes(permanent);
    auto* locked = cmd->add_flag("--locked", options->locked, "Set Locked");
    cmd->add_flag("--no-locked", options->no_locked, "Clear Locked")->excludes(locked);
    cmd->add_flag("--no-pause", options->no_pause, "Take Pause off");
    cmd->callback([options, exit_code, cmd] { *exit_code = run_edit(*options, *cmd); });
}

const CommandRegistration registration(30, add_edit_command);

}  // namespace
}  // namespace quarrow::cli
