// quarrow erase: zeroes the system area of a physical drive (the Disk Erase dialog's quick
// erase), with the dialog's refusals and confirmation.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "cli/cli_common.h"
#include "disk/drive_list.h"
#include "disk/drive_use.h"
#include "disk/quick_erase.h"
#include "fs/disk_detection.h"

namespace quarrow::cli {
namespace {

struct EraseOptions {
    std::string drive;
    bool yes = false;
};

std::string shown_line(const char* line) {
    std::string out;
    for (const char* p = line; *p; ++p) {
        if (*p != '\t')
            out += *p;
        else if (p[1] != '\t')
            out += "  ";
    }
    return shown(out.c_str());
}

int run_erase(const EraseOptions& o) {
    if (o.drive.empty()) {
        std::cerr << "You must select a disk drive first\n"
                  << "Give the number of the drive as 'quarrow drives' lists it.\n";
        return EXIT_USAGE;
    }
    char* end = nullptr;
    long number = strtol(o.drive.c_str(), &end, 10);
    if (!end || *end || number < 0 || number > 1000000) {
        std::cerr << "'" << o.drive
                  << "' is not a drive number; 'quarrow drives' lists the numbers.\n";
        return EXIT_USAGE;
    }
    int drive = static_cast<int>(number);
    if (!can_reach_raw_drives()) {
        std::cerr << "Physical drives can only be reached on Windows NT or later.\n";
        return EXIT_FAILED;
    }
    if (drive == 0) {
        std::cerr << DRIVE0_DENIED_TEXT << "\n";
        return EXIT_FAILED;
    }
    DriveEntry entry;
    if (!describe_physical_drive(drive, &entry)) {
        char path[4096];
        if (!physical_drive_path(drive, path, sizeof path) || !explain_refused_drive(path))
            std::cerr << "There is no drive " << drive << " (or it cannot be opened).\n";
        return EXIT_FAILED;
    }
    std::cerr << shown_line(entry.line) << "\n";
    // Refuse a drive in use before asking, not after the user has said yes.
    char message[MESSAGE_SIZE] = {0};
    char path[4096];
    DriveClaim claim;
    if (!physical_drive_path(drive, path, sizeof path) ||
        !claim_drive(drive, path, &claim, message)) {
        std::cerr << message << "\n";
        return EXIT_FAILED;
    }
    release_drive_claim(&claim);
    if (!o.yes) {
        if (!stdin_is_terminal()) {
            std::cerr << "Erasing needs a confirmation: run it on a terminal, or add --yes.\n";
            return EXIT_USAGE;
        }
        char question[160];
        snprintf(question, sizeof question,
                 "You are about to permanently erase all data on the selected disk (Drive %d). "
                 "Are you sure you want to do that?",
                 drive);
        if (!ask_yes_no(question)) {
            std::cerr << "Nothing was erased.\n";
            return EXIT_FAILED;
        }
    }
    std::cerr << "Operation in progress...\n";
    message[0] = 0;
    if (!quick_erase_drive(drive, 1, ERASE_BLOCK_SECTORS, message)) {
        std::cerr << "The operation failed.\n";
        if (message[0]) std::cerr << message << "\n";
        return EXIT_FAILED;
    }
    std::cout << "Operation successfully completed.\n"
              << "Now, do not forget to use the 'Erase Disk' option in the 'System "
                 "Configuration' of your MediaMaster !\n";
    return EXIT_OK;
}

void add_erase_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<EraseOptions>();
    CLI::App* cmd = app.add_subcommand(
        "erase",
        "Quick erase: overwrite the first 8 MiB of physical drive DRIVE (its MediaMaster system "
        "area) with zeros, so that the receiver's 'Erase Disk' can prepare it. All recordings on "
        "it are lost. Drive 0 (the system drive) and drives in use by the system are refused. "
        "Asks for confirmation on a terminal; elsewhere --yes is required.");
    cmd->add_option("DRIVE", options->drive, "Drive number, as 'quarrow drives' lists it");
    cmd->add_flag("-y,--yes", options->yes, "Erase without asking");
    cmd->callback([options, exit_code] { *exit_code = run_erase(*options); });
}

const CommandRegistration registration(71, add_erase_command);

}  // namespace
}  // namespace quarrow::cli
