// quarrow drives: the physical drives, as the Disk Erase dialog lists them.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "disk/drive_list.h"
#include "fs/disk_detection.h"

namespace quarrow::cli {
namespace {

struct DrivesOptions {
    bool json = false;
};

void collect(void* context, const DriveEntry* entry) {
    static_cast<std::vector<DriveEntry>*>(context)->push_back(*entry);
}

size_t columns(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// The line's tab-separated fields (runs of tabs count as one stop), as UTF-8.
std::vector<std::string> fields_of(const char* line) {
    std::vector<std::string> fields;
    std::string field;
    for (const char* p = line;; ++p) {
        if (*p == '\t' || *p == 0) {
            if (!field.empty()) fields.push_back(shown(field.c_str()));
            field.clear();
            if (*p == 0) break;
        } else {
            field += *p;
        }
    }
    return fields;
}

int run_drives(const DrivesOptions& o) {
    if (!can_reach_raw_drives()) {
        std::cerr << "Physical drives can only be reached on Windows NT or later.\n";
        return EXIT_FAILED;
    }
    std::vector<DriveEntry> drives;
    DriveSink sink{&drives, collect};
    list_physical_drives(&sink);
    if (o.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const DriveEntry& d : drives)
            list.push_back({{"number", d.number},
                            {"model", utf8(d.model)},
                            {"size_gb", d.size_gb},
                            {"mediamaster", d.mediamaster},
                            {"system", d.system}});
        std::cout << list.dump(2) << "\n";
    }
    if (drives.empty()) {
        char path[4096];
        if (!physical_drive_path(0, path, sizeof path) || !explain_refused_drive(path))
            std::cerr << "No physical drive could be opened (reading drives usually needs "
                         "administrator or root rights).\n";
        return EXIT_OK;
    }
    if (o.json) return EXIT_OK;
    std::vector<std::vector<std::string>> rows;
    std::vector<size_t> widths;
    for (const DriveEntry& d : drives) {
        rows.push_back(fields_of(d.line));
        for (size_t c = 0; c < rows.back().size(); ++c) {
            if (widths.size() <= c) widths.push_back(0);
            widths[c] = std::max(widths[c], columns(rows.back()[c]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - columns(row[c]) + 2, ' ');
        }
        std::cout << line << "\n";
    }
    return EXIT_OK;
}

void add_drives_command(CLI::App& app, int* exit_code) {
    auto options = std::make_shared<DrivesOptions>();
    CLI::App* cmd = app.add_subcommand(
        "drives",
        "List the physical drives: number, model, size in GB, and a mark for a MediaMaster disk "
        "or the system drive (drive 0). The numbers are the ones 'quarrow erase' takes. "
        "QUARROW_DRIVES (paths separated by ':', ';' on Windows) replaces the machine's drives.");
    cmd->add_flag("--json", options->json,
                  "Print a JSON array of {number, model, size_gb, mediamaster, system}");
    cmd->callback([options, exit_code] { *exit_code = run_drives(*options); });
}

const CommandRegistration registration(70, add_drives_command);

}  // namespace
}  // namespace quarrow::cli
