// quarrow diagnose: the figures and verdicts of the "MediaMaster File System Diagnostics" dialog.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli_common.h"
#include "cli/damage_report.h"
#include "fs/diagnostics.h"

namespace quarrow::cli {
namespace {

struct DiagnoseOptions {
    std::string source;
    bool json = false;
    std::string map;
};

int run_diagnose(const DiagnoseOptions& o) {
    RescueMap map;
    if (!o.map.empty() && !load_map_option(o.map, &map)) return EXIT_FAILED;
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    // With a rescue's map: whether the system area itself lost sectors, before the figures that
    // rest on it.
    SystemAreaDamage system;
    if (!o.map.empty()) system = check_system_area(src.disk, &map);
    int status = system.any() ? EXIT_FAILED : EXIT_OK;
    if (!o.map.empty() && !o.json) std::cout << system_area_text(system) << "\n";
    char notification[MESSAGE_SIZE] = {0};
    if (!read_fs_notification(src.disk, notification)) {
        std::cerr << DIAG_TOC_FAILED << "\n";
        return EXIT_FAILED;
    }
    char shown[DIAG_TEXT_BYTES];
    diagnostics_notification_text(notification, shown);
    if (!o.json) std::cout << DIAG_LABEL_NOTIFICATION << " " << shown << "\n";
    FatStatistics stats{};
    if (!gather_fat_statistics(src.disk, &stats)) {
        std::cout.flush();
        std::cerr << DIAG_FAT_FAILED << "\n";
        return EXIT_FAILED;
    }
    if (o.json) {
        nlohmann::ordered_json j = {
            {"notification", utf8(notification)},
            {"fat_entries", stats.fat_entries},
            {"allocated_clusters", stats.allocated_clusters},
            {"linked_clusters", stats.linked_clusters},
            {"string_count", stats.string_count},
            {"recording_count", src.count},
            {"checksum_ok", stats.checksum_ok != 0},
            {"entries_in_bounds", stats.entries_in_bounds != 0},
            {"termination_found", stats.termination_found != 0},
            {"chain_loops", stats.chain_loops != 0},
        };
        if (!o.map.empty()) {
            j["system_area_damaged"] = system.any();
            j["system_area"] = {{"boot_area", system.boot_area},
                                {"fat_sectors", system.fat_bad},
                                {"fat_copy_sectors", system.fat_copy_bad},
                                {"toc", system.toc},
                                {"records", system.records_bad}};
        }
        std::cout << j.dump(2) << "\n";
        return status;
    }
    DiagnosticsTexts t{};
    format_diagnostics(stats, src.count, &t);
    std::cout << DIAG_LABEL_FAT_SIZE << " " << t.fat_size << "\n"
              << DIAG_LABEL_ALLOCATED << " " << t.allocated << "\n"
              << DIAG_LABEL_LINKED << " " << t.linked << "\n"
              << DIAG_LABEL_STRINGS << " " << t.strings << "\n"
              << DIAG_LABEL_TERMINATION << " " << t.termination << "\n"
              << DIAG_LABEL_INTEGRITY << " " << t.integrity << "\n"
              << DIAG_LABEL_CRC << " " << t.crc << "\n";
    return status;
}

void add_diagnose_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<DiagnoseOptions>();
    CLI::App* cmd = app.add_subcommand(
        "diagnose",
        "Check the disk's File Allocation Table against its Table of Contents and the recording "
        "list: the file-system notification, table size, allocated and linked clusters, number "
        "of chains, termination word, integrity and checksum, each with its verdict. Only reads "
        "the disk; a damaged disk is reported, not repaired (exit 0 once the figures are "
        "shown).");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_flag("--json", options->json,
                  "Print a JSON object of the figures instead (the notification as on the disk)");
    cmd->add_option("--map", options->map,
                    "Map of an image made by 'quarrow rescue' or ddrescue: also say whether the "
                    "system area lost sectors (exit status 1 when it did)");
    cmd->callback([options, exit_code] { *exit_code = run_diagnose(*options); });
}

const CommandRegistration registration(60, add_diagnose_command);

}  // namespace
}  // namespace quarrow::cli
