#include "cli/damage_report.h"

#include "extract/extraction_setup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace quarrow::cli {

bool load_map_option(const std::string& path, RescueMap* map) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        std::cerr << "Could not open input file. (" << path << ": "
                  << (error ? strerror(error) : "it cannot be read") << ")\n";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    char message[MESSAGE_SIZE] = "";
    if (!parse_rescue_map(text.str(), map, message)) {
        std::cerr << path << ": " << message << "\n";
        return false;
    }
    return true;
}

bool refuse_unrescued_toc(const std::string& path, const RescueMap& map) {
    if (!sectors_missing(&map, TOC_SECTOR, TOC_SECTORS)) return false;
    std::cerr << "The Table of Contents (sectors " << TOC_SECTOR << "-"
              << TOC_SECTOR + TOC_SECTORS - 1 << ") was not rescued, by " << path
              << ": the image holds no recording list to read.\n";
    return true;
}

bool fit_map_option(const std::string& path, DiskHandle disk, RescueMap* map) {
    uint64_t size = 0;
    if (!disk->size_bytes || !disk->size_bytes(disk, &size)) {
        std::cerr << "Could not tell the size of the image to check " << path << " against it.\n";
        return false;
    }
    const int64_t bytes = static_cast<int64_t>(size);
    if (map->size() > bytes) {
        std::cerr << path << " maps " << map->size() << " bytes, but the image holds " << bytes
                  << ": it is the map of another disk.\n";
        return false;
    }
    if (map->size() < bytes) {
        std::cerr << path << " maps only " << map->size() << " of the image's " << bytes
                  << " bytes; the rest counts as not tried, unreadable.\n";
        fit_rescue_map(map, bytes);
    }
    return true;
}

std::string recording_time(const RecordingEntry& e, int64_t recording_sector) {
    return recording_time_text(e, recording_sector);
}

int64_t report_damage(const DamagedReads& damaged, const RecordingEntry& e, int64_t from,
                      int64_t to) {
    int64_t unreadable = 0;
    for (const std::string& line : damage_report_lines(damaged, e, from, to, &unreadable))
        std::cerr << line << "\n";
    return unreadable;
}

std::string system_area_text(const SystemAreaDamage& d) {
    if (!d.any()) return "System Area: every sector rescued [Ok]";
    std::string parts;
    auto add = [&parts](const std::string& part) { parts += (parts.empty() ? "" : ", ") + part; };
    if (d.boot_area) add("boot area");
    if (d.fat_bad) add("allocation table (" + std::to_string(d.fat_bad) + " sectors)");
    if (d.fat_copy_bad) add("its copy (" + std::to_string(d.fat_copy_bad) + " sectors)");
    if (d.toc) add("Table of Contents");
    if (d.records_bad) add(std::to_string(d.records_bad) + " recording records");
    return "System Area: unreadable sectors in the " + parts + " [Damaged]";
}

}  // namespace quarrow::cli
