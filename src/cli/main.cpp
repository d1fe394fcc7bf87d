// quarrow: the command-line face of Quarrow, for scripting and for users without Windows.
#include <CLI/CLI.hpp>

#include "cli/cli_common.h"
#include "quarrow_version.h"

int main(int argc, char** argv) {
    using namespace quarrow::cli;
    CLI::App app{
        "Quarrow reads and maintains the internal hard disk of the MediaMaster 9902s satellite "
        "receiver, attached to this computer or copied to an image file.\n\n"
        "SOURCE is a disk image file, a whole-disk device path, or the word 'scan' to find the "
        "MediaMaster disk among the physical drives. Recordings are numbered from 1, the newest "
        "first, as 'quarrow list' shows them.",
        "quarrow"};
    app.footer(
        "Exit status: 0 done; 1 the operation failed or was refused, 'diagnose' found a fault, or "
        "an extraction ended early (its files kept); 2 wrong command line (a value that fails its "
        "check before the disk is touched); 130 interrupted (Ctrl-C).");
    app.require_subcommand(1);
    app.set_version_flag("-V,--version", "quarrow " QUARROW_VERSION, "Show the version and exit");
    app.set_help_all_flag("--help-all", "Show the help of every command");
    int exit_code = EXIT_OK;
    add_registered_commands(app, &exit_code);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }
    return exit_code;
}
