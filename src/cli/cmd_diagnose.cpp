// quarrow diagnose: the figures and verdicts of the "MediaMaster File System Diagnostics" dialog.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/damage_report.h"
#include "fs/diagnostics.h"
#include "fs/layout.h"

namespace quarrow::cli {
namespace {

struct DiagnoseOptions {
    std::string source;
    bool json = false;
    std::string map;
};

// A fault is whatever the dialog marks as a warning or an error, a notification the receiver
// left, or an image too short for the clusters its recordings use.
bool disk_is_sound(const FatStatistics& s, int recording_count, const char* notification,
                   const DiskReach& reach) {
    return !notification[0] && s.linked_clusters == s.allocated_clusters &&
           s.string_count == static_cast<uint32_t>(recording_count) && s.termination_found &&
           s.entries_in_bounds && !s.chain_loops && s.checksum_ok && reach.past_end_count == 0;
}

// Faults the dialog's lines do not show: clusters in two chains (deleting either recording would
// free the other's data), chains that run into free clusters, slots sharing a record, records
// that cannot be read. Recordings are named by their list numbers.
std::vector<std::string> chain_faults(const ChainReport& r) {
    std::vector<std::string> out;
    for (int i = 0; i < r.finding_count; ++i) {
        const ChainFinding& f = r.findings[i];
        const std::string number = std::to_string(r.slots - f.slot);
        const std::string other = std::to_string(r.slots - f.other_slot);
        const std::string cluster = std::to_string(f.cluster);
        std::string line;
        switch (f.fault) {
            case FAULT_CROSS_LINK:
                line.append("cluster ").append(cluster).append(" is in the chains of recordings ");
                line.append(number).append(" and ").append(other).append(" (cross-linked)");
                break;
            case FAULT_INTO_FREE:
                line.append("the chain of recording ").append(number).append(" runs into cluster ");
                line.append(cluster).append(", which the table shows as free");
                break;
            case FAULT_SHARED_RECORD:
                line.append("recordings ").append(number).append(" and ").append(other);
                line.append(" name the same record");
                break;
            case FAULT_BAD_RECORD:
                // The finding's cluster field holds the record's offset here.
                line.append("the Recording Information record of recording ").append(number);
                line.append(" (offset ").append(cluster).append(") cannot be read");
                break;
            case FAULT_OUT_OF_BOUNDS:
            case FAULT_LOOPS:
                break;  // shown by the "FAT Integrity:" line already
        }
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

int run_diagnose(const DiagnoseOptions& o) {
    RescueMap map;
    if (!o.map.empty() && (!load_map_option(o.map, &map) || refuse_unrescued_toc(o.map, map)))
        return EXIT_FAILED;
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    if (!o.map.empty() && !fit_map_option(o.map, src.disk, &map)) return EXIT_FAILED;
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
    ChainReport report{};
    // A record that cannot be read is named among the faults below, not blamed on the table.
    if (!gather_fat_statistics(src.disk, &stats, &report) && report.bad_records == 0) {
        std::cout.flush();
        std::cerr << DIAG_FAT_FAILED << "\n";
        return EXIT_FAILED;
    }
    const DiskReach reach = measure_reach(src);
    std::vector<std::string> faults = chain_faults(report);
    const bool ok =
        disk_is_sound(stats, src.count, notification, reach) && faults.empty() && status == EXIT_OK;
    if (o.json) {
        nlohmann::ordered_json j = {
            {"ok", ok},
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
            {"free_clusters", reach.free_clusters},
            {"free_bytes", uint64_t(reach.free_clusters) * CLUSTER_SECTORS * SECTOR_SIZE},
            {"image_clusters", reach.clusters_held},
            {"recordings_past_end", reach.past_end_count},
            {"cross_linked_clusters", report.cross_linked},
            {"chains_into_free_clusters", report.into_free},
            {"shared_records", report.shared_records},
            {"unreadable_records", report.bad_records},
            {"faults", faults},
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
        return ok ? EXIT_OK : EXIT_FAILED;
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
    for (const std::string& fault : faults)
        std::cout << "Fault: " << fault << "\n";
    if (reach.past_end_count > 0)
        std::cout << "Image Size: " << reach.clusters_held << " of " << reach.clusters
                  << " clusters [Error: " << reach.past_end_count
                  << (reach.past_end_count == 1 ? " recording reaches" : " recordings reach")
                  << " past the end of the image!]\n";
    if (ok) return EXIT_OK;
    std::cout.flush();
    std::cerr << "The disk has faults (see the lines above).\n";
    return EXIT_FAILED;
}

void add_diagnose_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<DiagnoseOptions>();
    CLI::App* cmd = app.add_subcommand(
        "diagnose",
        "Check the disk's File Allocation Table against its Table of Contents and the recording "
        "list: the file-system notification, table size, allocated and linked clusters, number "
        "of chains, termination word, integrity and checksum, each with its verdict, and for an "
        "image cut short the clusters it holds. Only reads the disk; a damaged disk is reported, "
        "not repaired.\n"
        "Exit status: 0 no fault found; 1 a fault (a warning or error above) or the disk could "
        "not be read; 2 wrong command line.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_flag("--json", options->json,
                  "Print a JSON object of the figures instead (the notification as on the disk; "
                  "\"ok\" is the overall verdict)");
    cmd->add_option("--map", options->map,
                    "Map of an image made by 'quarrow rescue' or ddrescue: also say whether the "
                    "system area lost sectors (exit status 1 when it did)");
    cmd->callback([options, exit_code] { *exit_code = run_diagnose(*options); });
}

const CommandRegistration registration(60, add_diagnose_command);

}  // namespace
}  // namespace quarrow::cli
