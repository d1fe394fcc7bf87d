#include "disk/rescue_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "disk/file_identity.h"
#include "disk/output_file.h"
#include "disk/system_error.h"

namespace quarrow {
namespace {

namespace fs = std::filesystem;

// " (path: reason)" or " (reason)" of the last failed call; empty when none was recorded.
std::string system_reason() {
    const SystemFailure& f = last_system_failure();
    if (f.reason.empty()) return "";
    if (f.path.empty()) return " (" + f.reason + ")";
    return " (" + f.path + ": " + f.reason + ")";
}

bool read_text_file(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return !in.bad();
}

}  // namespace

std::string rescue_output_is_source(const std::string& path) {
    return path + " is the disk being rescued; choose another file.";
}

std::string rescue_output_not_regular(const std::string& path) {
    return path + " is not a regular file; rescue writes an image file and a map.";
}

std::string rescue_pace_text(int64_t rescued, int64_t left, double elapsed) {
    double rate = elapsed > 0 ? static_cast<double>(rescued) / elapsed : 0;
    char eta[32] = "--:--";
    if (rate > 0 && elapsed > 0.5) {
        long long secs = static_cast<long long>(static_cast<double>(left) / rate);
        snprintf(eta, sizeof eta, "%lld:%02lld", secs / 60, secs % 60);
    }
    char text[64];
    snprintf(text, sizeof text, "%.1f MB/s, %s left", rate / 1048576.0, eta);
    return text;
}

std::string rescue_size_text(int64_t bytes) {
    char text[32];
    if (bytes < 1024 * 1024)
        snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
    else
        snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

RescueSetup prepare_rescue_files(DiskHandle source, int64_t size, const std::string& image,
                                 const std::string& map_path, bool consent, RescueMap* map,
                                 std::string* message, std::vector<std::string>* notices) {
    std::error_code ec;
    for (const std::string& out : {image, map_path}) {
        // By identity: a symlink, another spelling or the drive a scan found is the source too.
        if (path_is_disk(out.c_str(), source)) {
            *message = rescue_output_is_source(out);
            return RescueSetup::refused;
        }
        if (fs::exists(out, ec) && !fs::is_regular_file(out, ec)) {
            *message = rescue_output_not_regular(out);
            return RescueSetup::refused;
        }
    }
    if (fs::exists(image, ec) && fs::exists(map_path, ec) && fs::equivalent(image, map_path, ec)) {
        *message = "The image and the map must be two files.";
        return RescueSetup::refused;
    }
    if (fs::exists(map_path, ec)) {
        std::string text;
        char parse_message[MESSAGE_SIZE] = "";
        clear_system_failure();
        if (!read_text_file(map_path, &text)) {
            *message = "Could not read the map " + map_path + system_reason() + ".";
            return RescueSetup::failed;
        }
        if (!parse_rescue_map(text, map, parse_message)) {
            *message = map_path + ": " + parse_message;
            return RescueSetup::failed;
        }
        if (!fit_rescue_map(map, size)) {
            *message = map_path + " maps " + std::to_string(map->size()) +
                       " bytes, more than the " + std::to_string(size) +
                       " of this source: it belongs to another disk.";
            return RescueSetup::failed;
        }
        const bool image_exists = fs::exists(image, ec);
        if (!image_exists && map_status_bytes(*map, MAP_FINISHED) > 0) {
            *message = map_path + " lists rescued data but " + image +
                       " does not exist; give the image it belongs to, or another map.";
            return RescueSetup::failed;
        }
        // An image cut short lost what the map calls rescued past its end: read again.
        int64_t length = image_exists ? static_cast<int64_t>(fs::file_size(image, ec)) : 0;
        int64_t lost = ec ? 0 : map_finished_past(*map, length);
        if (lost > 0) {
            notices->push_back(
                image + " is " + std::to_string(length) + " bytes long, but " + map_path +
                " lists rescued data up to byte " + std::to_string(map_finished_end(*map)) + ": " +
                std::to_string(lost) + " rescued bytes past its end are read again.");
            set_map_status(map, length, map->size() - length, MAP_NON_TRIED);
        }
        notices->push_back("Resuming from " + map_path + ": " +
                           rescue_size_text(map_status_bytes(*map, MAP_FINISHED)) +
                           " rescued already.");
        return RescueSetup::ready;
    }
    if (fs::exists(image, ec) && !consent) {
        *message = image + " exists and " + map_path + " does not: start over and write into it?";
        return RescueSetup::needs_consent;
    }
    init_rescue_map(map, size);
    return RescueSetup::ready;
}

}  // namespace quarrow
