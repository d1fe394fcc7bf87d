// quarrow dump: copies the first N clusters' worth of a disk (8 MiB each, from sector 0) into a
// raw image file that 'quarrow list' and the Windows program open like the disk.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/cli_common.h"
#include "cli/interrupts.h"
#include "disk/disk_dump.h"
#include "fs/layout.h"

namespace quarrow::cli {
namespace {

constexpr const char* NEED_POSITIVE = "You must enter a positive number of clusters!";

struct DumpOptions {
    std::string source;
    std::string file;
    std::string clusters;
    bool force = false;
};

// The count: a decimal number, or "all" for as many as the disk holds. -1 when it is neither.
long long parse_count(const std::string& text, long long all) {
    if (text == "all") return all;
    char* end = nullptr;
    errno = 0;
    long long n = strtoll(text.c_str(), &end, 10);
    if (text.empty() || !end || *end) return -1;
    if (errno == ERANGE) return n < 0 ? -1 : all + 1;
    return n;
}

int run_dump(const DumpOptions& o) {
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    uint32_t size_mb = o.source == "scan" ? static_cast<uint32_t>(drive_size_mb(src.disk))
                                          : image_size_mb(src.disk);
    long long fit = size_mb / 8;  // whole 8 MiB units on the disk
    long long n = parse_count(o.clusters, fit);
    if (n <= 0) {
        std::cerr << NEED_POSITIVE << "\n";
        return EXIT_USAGE;
    }
    if (n > fit) {
        std::cerr << "The disk holds " << fit << " clusters (" << size_mb << " MB); dumping " << fit
                  << ".\n";
        n = fit;
    }
    if (n <= 0) {
        std::cerr << NEED_POSITIVE << "\n";
        return EXIT_FAILED;
    }
    // Emptying the file being read would destroy the very disk being dumped, however it was named
    // (a symlink, another spelling, the drive a scan found).
    if (output_is_source(o.file, src, "dumped")) return EXIT_USAGE;
    std::error_code ec;
    namespace fs = std::filesystem;
    if (fs::exists(o.file, ec)) {
        // A dump makes image files; writing it over a device would overwrite a drive.
        if (!fs::is_regular_file(o.file, ec)) {
            std::cerr << o.file << " is not a regular file; dump writes image files only.\n";
            return EXIT_USAGE;
        }
        if (!o.force) {
            if (!stdin_is_terminal()) {
                std::cerr << o.file << " exists; add --force to overwrite it.\n";
                return EXIT_USAGE;
            }
            if (!ask_yes_no((o.file + " exists. Overwrite it?").c_str())) {
                std::cerr << "Nothing was written.\n";
                return EXIT_FAILED;
            }
        }
    }
    int count = static_cast<int>(n);
    char size_line[96];
    snprintf(size_line, sizeof size_line, " (%lld MB) / %lld (%u MB)", n * 8, fit, size_mb);
    std::cerr << "Dumping " << count << (count == 1 ? " cluster" : " clusters") << size_line
              << " to " << o.file << "\n";
    TerminalProgress progress;
    progress.enabled = stderr_is_terminal();
    progress.unit = "clusters";
    progress.bytes_per_unit = int64_t(CLUSTER_SECTORS) * SECTOR_SIZE;
    OperationHooks hooks = terminal_hooks(&progress);
    char message[MESSAGE_SIZE] = {0};
    clear_reason();
    // Ctrl-C stops the copy between clusters, so that the file is left by the output rule.
    defer_interrupts(nullptr);
    DumpOutcome outcome;
    int ok = dump_disk(src.disk, count, CLUSTER_SECTORS, SECTOR_SIZE, o.file.c_str(), &hooks,
                       message, &outcome);
    finish_progress(&progress, ok);
    if (!ok) {
        if (!message[0])
            snprintf(message, sizeof message, "%s",
                     "Physical drives can only be reached on Windows NT or later.");
        std::cerr << "The operation failed: " << message << failure_reason() << "\n";
        if (outcome.left == OUTPUT_PARTIAL_KEPT)
            std::cerr << o.file << " holds the first " << outcome.units_written << " of " << count
                      << " clusters; the file holds what came before the failure.\n";
        else if (outcome.left == OUTPUT_EARLIER_KEPT)
            std::cerr << "The earlier " << o.file << " was left as it was.\n";
        return interrupt_requested() ? EXIT_INTERRUPTED : EXIT_FAILED;
    }
    std::cout << "Operation successfully completed.\n";
    return EXIT_OK;
}

void add_dump_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<DumpOptions>();
    CLI::App* cmd = app.add_subcommand(
        "dump",
        "Copy the start of a MediaMaster disk into a raw disk image (.hex): N clusters of 8 MiB "
        "from sector 0. The first cluster holds the file system; each further one holds a "
        "cluster of recordings. N is cut to what the disk holds.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_option("FILE", options->file,
                    "Image file to write; an existing one is replaced only after a question or "
                    "with --force, and never when it is the disk being read")
        ->required();
    cmd->add_option("-n,--clusters", options->clusters,
                    "Number of 8 MiB clusters to copy, or 'all'")
        ->required();
    cmd->add_flag("-f,--force", options->force, "Overwrite FILE without asking if it exists");
    cmd->callback([options, exit_code] { *exit_code = run_dump(*options); });
}

const CommandRegistration registration(72, add_dump_command);

}  // namespace
}  // namespace quarrow::cli
