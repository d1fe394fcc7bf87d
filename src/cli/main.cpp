// quarrow: the command-line face of Quarrow, for scripting and for users without Windows.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "cli/cli_common.h"
#include "cli/help_format.h"
#include "quarrow_version.h"

namespace {

bool is_command(const CLI::App& app, const char* word) {
    for (const CLI::App* sub : app.get_subcommands({}))
        if (sub->check_name(word)) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quarrow::cli;
    CLI::App app{
        "Quarrow reads and maintains the internal hard disk of the MediaMaster 9902s satellite "
        "receiver, attached to this computer or copied to an image file.\n\n"
        "SOURCE is a disk image file, a whole-disk device path, or the word 'scan' to find the "
        "MediaMaster disk among the physical drives. Recordings are numbered from 1, the newest "
        "first, as 'quarrow list' shows them.",
        "quarrow"};
    app.formatter(help_formatter(terminal_columns()));
    app.require_subcommand(1);
    app.set_version_flag("-V,--version", "quarrow " QUARROW_VERSION, "Show the version and exit");
    app.set_help_all_flag("--help-all", "Show the help of every command");
    int exit_code = EXIT_OK;
    add_registered_commands(app, &exit_code);
    // After the commands, which would otherwise inherit it: each gives its own exit statuses.
    app.footer(
        "Exit status: 0 done; 1 the operation failed or was refused; 2 wrong command line; 130 "
        "interrupted (Ctrl-C). Each command's --help says what its statuses mean for it.");
    // A first word that is no command and no option: the library would only say that a command
    // is required.
    if (argc > 1 && argv[1][0] != '-' && !is_command(app, argv[1])) {
        std::string nearest = nearest_command(app, argv[1]);
        std::cerr << "Unknown command 'quarrow " << argv[1] << "'. ("
                  << (nearest.empty() ? "" : "did you mean 'quarrow " + nearest + "'? ")
                  << "'quarrow --help' lists the commands)\n";
        return EXIT_USAGE;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }
    return exit_code;
}
