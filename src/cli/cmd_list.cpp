// quarrow list: the recordings of a disk, newest first.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/damage_report.h"
#include "fs/layout.h"

namespace quarrow::cli {
namespace {

struct ListOptions {
    std::string source;
    bool json = false;
    std::string map;
};

std::string duration_text(const RecordingEntry& e) {
    char text[32];
    snprintf(text, sizeof text, "%02i:%02i:%02i", e.hours, e.minutes, e.seconds);
    return text;
}

// Display width of UTF-8 text: one column per character.
size_t columns(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string pad(const std::string& s, size_t width) {
    size_t w = columns(s);
    return w >= width ? s : s + std::string(width - w, ' ');
}

// Sectors of each listed recording that its rescue did not copy, by the map; the allocation
// table is read around its own lost sectors.
std::vector<int64_t> missing_sectors(const OpenSource& src, const RescueMap& map) {
    std::vector<uint8_t> table(FAT_BYTES);
    read_fat_around_damage(src.disk, &map, table.data());
    std::vector<int64_t> missing;
    for (int i = 0; i < src.count; ++i) {
        const RecordingEntry& e = src.entries[i];
        missing.push_back(recording_missing_sectors(map, table.data(), e.first_cluster,
                                                    e.start_offset, e.length));
    }
    return missing;
}

std::string share_text(int64_t missing, uint32_t length) {
    char text[48];
    double share = length ? 100.0 * double(missing) / double(length) : 0;
    snprintf(text, sizeof text, "%.2f %% unreadable", share);
    return text;
}

std::string iso_date(const RecordingEntry& e) {
    char text[ISO_DATE_BYTES];
    format_start_time_iso(e.start_time, text);
    return text;
}

std::string free_space_line(const DiskReach& reach) {
    char text[96];
    snprintf(text, sizeof text, "Free space: %u clusters (%llu MB).", reach.free_clusters,
             static_cast<unsigned long long>(reach.free_clusters) * CLUSTER_SECTORS * SECTOR_SIZE /
                 1048576);
    return text;
}

// Names the recordings whose record cannot be read; the exit status tells a script the list is
// not whole.
int report_unreadable(const OpenSource& src) {
    for (int i = 0; i < src.count; ++i)
        if (src.unreadable[i])
            std::cerr << "Recording " << i + 1
                      << ": its Recording Information record cannot be read.\n";
    return src.unreadable_count > 0 ? EXIT_FAILED : EXIT_OK;
}

int run_list(const ListOptions& o) {
    RescueMap map;
    if (!o.map.empty() && (!load_map_option(o.map, &map) || refuse_unrescued_toc(o.map, map)))
        return EXIT_FAILED;
    OpenSource src;
    if (!open_source(o.source, false, &src)) return EXIT_FAILED;
    if (!o.map.empty() && !fit_map_option(o.map, src.disk, &map)) return EXIT_FAILED;
    std::vector<int64_t> missing;
    if (!o.map.empty()) missing = missing_sectors(src, map);
    const DiskReach reach = measure_reach(src);
    if (o.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (int i = 0; i < src.count; ++i) {
            if (src.unreadable[i]) continue;
            const RecordingEntry& e = src.entries[i];
            list.push_back({{"number", i + 1},
                            {"title", utf8(e.display_title)},
                            {"default_title", utf8(e.default_title)},
                            {"user_title", utf8(e.user_title)},
                            {"channel", utf8(e.channel)},
                            {"flags", e.flags},
                            {"attributes", e.attribute_text},
                            {"date", e.date_text},
                            {"duration", duration_text(e)},
                            {"hours", e.hours},
                            {"minutes", e.minutes},
                            {"seconds", e.seconds},
                            {"first_cluster", e.first_cluster},
                            {"length_sectors", e.length},
                            {"start_offset", e.start_offset},
                            {"size_mb", recording_size_mb(e.length)},
                            {"size_bytes", uint64_t(e.length) * SECTOR_SIZE},
                            {"start_time", e.start_time},
                            {"date_iso", iso_date(e)},
                            {"past_end_of_image", reach.known && reach.past_end[i]}});
            if (!o.map.empty()) {
                list.back()["unreadable_sectors"] = missing[size_t(i)];
                list.back()["unreadable_share"] =
                    e.length ? double(missing[size_t(i)]) / double(e.length) : 0.0;
            }
        }
        std::cout << list.dump(2) << "\n";
        return report_unreadable(src);
    }
    std::cout << src.message << "\n";
    if (reach.known) std::cout << free_space_line(reach) << "\n";
    if (!reach_summary(reach).empty()) std::cout << reach_summary(reach) << "\n";
    if (src.count == 0) return EXIT_OK;
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < src.count; ++i) {
        if (src.unreadable[i]) continue;
        const RecordingEntry& e = src.entries[i];
        rows.push_back({std::to_string(i + 1) + (reach.known && reach.past_end[i] ? "*" : ""),
                        e.date_text, duration_text(e),
                        std::to_string(recording_size_mb(e.length)) + " MB", e.attribute_text,
                        shown(e.channel),
                        // As the extraction panel shows a recording without any title.
                        e.display_title[0] ? shown(e.display_title) : "[no title]"});
        // With a map the share of unreadable sectors goes before the title.
        if (!o.map.empty())
            rows.back().insert(rows.back().end() - 1, missing[size_t(i)]
                                                          ? share_text(missing[size_t(i)], e.length)
                                                          : "whole");
    }
    std::vector<size_t> widths(rows.empty() ? 0 : rows[0].size(), 0);
    for (auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], columns(row[c]));
    for (auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            bool right = c == 0 || c == 3;
            std::string cell = row[c];
            if (right)
                line += std::string(widths[c] - columns(cell), ' ') + cell;
            else
                line += c + 1 == row.size() ? cell : pad(cell, widths[c]);
            if (c + 1 < row.size()) line += "  ";
        }
        std::cout << line << "\n";
    }
    return report_unreadable(src);
}

void add_list_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* cmd = app.add_subcommand(
        "list",
        "List the recordings of a disk, newest first, with date, duration, size, "
        "attributes, channel and title, after the disk's status and its free space. On an "
        "image cut short (a dump of a few clusters), recordings whose clusters it does not hold "
        "are marked *.");
    cmd->add_option("SOURCE", options->source, "Disk image, whole-disk device, or 'scan'")
        ->required();
    cmd->add_flag("--json", options->json,
                  "Print a JSON array of the recordings instead (keys in README)");
    cmd->add_option("--map", options->map,
                    "Map of an image made by 'quarrow rescue' or ddrescue: show the share of each "
                    "recording's sectors that were not rescued");
    cmd->callback([options, exit_code] { *exit_code = run_list(*options); });
}

const CommandRegistration registration(10, add_list_command);

}  // namespace

}  // namespace quarrow::cli
