#include "extract/extraction_setup.h"

#include "extract/cut_list.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>

#include "disk/output_file.h"
#include "extract/output_name.h"
#include "fs/layout.h"
#include "fs/text_folding.h"
#include "quarrow_version.h"

namespace quarrow {
namespace {

// Disk texts reach files and JSON as UTF-8, which the JSON writer needs whole.
std::string utf8_text(const char* latin1) {
    char buffer[512];
    latin1_to_utf8(latin1, buffer, sizeof buffer);
    return buffer;
}

std::string iso_date(const RecordingEntry& e) {
    char text[ISO_DATE_BYTES];
    format_start_time_iso(e.start_time, text);
    return text;
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::string default_prefix(const RecordingEntry& e, int number) {
    char text[TITLE_BYTES];
    memcpy(text, e.display_title, TITLE_BYTES);
    text[TITLE_BYTES - 1] = 0;
    fold_to_ascii(text);
    std::string prefix;
    for (const char* p = text; *p; ++p)
        prefix += prefix_char_allowed(static_cast<unsigned char>(*p)) ? *p : '_';
    size_t first = prefix.find_first_not_of(' ');
    if (first == std::string::npos) return "Recording " + std::to_string(number);
    return safe_title_prefix(disk_text_file_name(prefix));
}

std::string unique_prefix(const std::string& base, std::set<std::string>* used) {
    std::string candidate = base;
    for (int n = 2; used->count(lower(candidate)); ++n)
        candidate = base + " (" + std::to_string(n) + ")";
    used->insert(lower(candidate));
    return candidate;
}

void fill_matroska_params(const RecordingEntry& e, MatroskaParams* params) {
    params->title = utf8_text(e.display_title);
    params->channel = utf8_text(e.channel);
    params->date_iso = iso_date(e);
    params->date_unix = e.start_time;
    params->duration_seconds = e.hours * 3600 + e.minutes * 60 + e.seconds;
    params->application = "Quarrow " QUARROW_VERSION;
}

CutConflict cut_conflict(const CutRequest& cut, bool one_file, bool matroska, bool metadata) {
    if (!cut.list.empty() && !one_file) return CutConflict::needs_one_file;
    if (cut.chapters && (!one_file || (!matroska && !metadata)))
        return CutConflict::chapters_have_no_place;
    return CutConflict::none;
}

bool apply_cut(const RecordingEntry& e, const CutRequest& cut, ExtractionRequest* request,
               char* message) {
    if (!cut.list.empty()) {
        // The record's length, to refuse a stretch that begins after the recording has ended.
        const int64_t length_ms = (int64_t(e.hours) * 3600 + e.minutes * 60 + e.seconds) * 1000;
        std::vector<TimeStretch> keep;
        if (!stretches_to_keep(cut.list, cut.drop, request->from_ms, request->to_ms, length_ms,
                               &keep, message))
            return false;
        request->stretches = keep;
    }
    request->chapters = cut.chapters;
    request->chapter_every_ms = cut.chapters ? cut.chapter_every_ms : 0;
    return true;
}

bool write_metadata_file(const RecordingEntry& e, int number, const std::string& source, bool mux,
                         const ExtractionResult& result, const std::vector<std::string>& notices,
                         const std::string& dir, const std::string& prefix, std::string* name) {
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const std::string& f : result.files)
        files.push_back(f);
    nlohmann::ordered_json notice_list = nlohmann::ordered_json::array();
    for (const std::string& n : notices)
        notice_list.push_back(utf8_text(n.c_str()));
    nlohmann::ordered_json j = {
        {"title", utf8_text(e.display_title)},
        {"channel", utf8_text(e.channel)},
        {"date", iso_date(e)},
        {"duration_seconds", e.hours * 3600 + e.minutes * 60 + e.seconds},
        {"attributes", e.attribute_text},
        {"flags", e.flags},
        {"number", number},
        {"source", source},
        {"files", files},
        {"notices", notice_list},
    };
    if (mux) {
        nlohmann::ordered_json repairs = nlohmann::ordered_json::array();
        for (const StreamRepair& r : result.repairs) {
            nlohmann::ordered_json streams = nlohmann::ordered_json::array();
            if (r.video) streams.push_back("video");
            if (r.audio) streams.push_back("audio");
            repairs.push_back({{"at_seconds", double(r.at_ms) / 1000},
                               {"duration_seconds", double(r.duration_ms) / 1000},
                               {"dropped_pictures", r.dropped_pictures},
                               {"dropped_seconds", double(r.dropped_ms) / 1000},
                               {"streams", streams},
                               {"cause", repair_cause_text(r.cause)}});
        }
        j["repairs"] = repairs;
        // A cut (or --from/--to): where each stretch kept fell, beside what was asked.
        if (!result.stretches.empty()) {
            nlohmann::ordered_json stretches = nlohmann::ordered_json::array();
            for (const KeptStretchTimes& k : result.stretches) {
                std::string asked = clock_time_text(k.asked.begin_ms) + "-" +
                                    (k.asked.end_ms < 0 ? "" : clock_time_text(k.asked.end_ms));
                stretches.push_back(
                    {{"from_seconds", double(k.begin_ms) / 1000},
                     {"to_seconds", k.end_ms < 0 ? nlohmann::ordered_json(nullptr)
                                                 : nlohmann::ordered_json(double(k.end_ms) / 1000)},
                     {"asked", asked}});
            }
            j["stretches"] = stretches;
        }
        if (!result.chapters.empty()) {
            nlohmann::ordered_json chapters = nlohmann::ordered_json::array();
            for (const StreamChapter& c : result.chapters)
                chapters.push_back({{"at_seconds", double(c.at_ms) / 1000}, {"name", c.name}});
            j["chapters"] = chapters;
        }
    }
    // Names of files and the source are the platform's bytes, not always UTF-8: replaced, not
    // refused, where they are not.
    std::string text =
        j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    *name = output_name(dir.c_str(), prefix.c_str(), ".json");
    OutputFilePtr file(begin_output_file(name->c_str()));
    if (!file || !output_write(file.get(), text.data(), text.size())) return false;
    set_output_time(file.get(), e.start_time);
    return commit_output_file(file.release());
}

std::vector<std::string> damage_report_lines(const DamagedReads& damaged, const RecordingEntry& e,
                                             int64_t from, int64_t to, int64_t* unreadable) {
    std::vector<std::string> lines;
    const FatDamage& fat = damaged.fat;
    if (fat.first_table_bad > 0) {
        std::string line = "The allocation table has " + std::to_string(fat.first_table_bad) +
                           " unreadable sectors; its copy was used for " +
                           std::to_string(fat.from_copy);
        if (fat.lost > 0) line += ", " + std::to_string(fat.lost) + " are unreadable in both";
        lines.push_back(line + ".");
    }
    int64_t total = 0;
    int ranges = 0;
    for (const DamagedRun& r : damaged.found) {
        int64_t a = std::max(r.recording_sector, from);
        int64_t b = std::min(r.recording_sector + r.count, to);
        if (a >= b) continue;  // in a cluster's unused part
        total += b - a;
        ++ranges;
        const int64_t at = r.disk_sector + (a - r.recording_sector);
        std::string line = "Unreadable: " + recording_time_text(e, a) + " - " +
                           recording_time_text(e, b) + " (" + std::to_string(b - a) +
                           " sectors from disk sector " + std::to_string(at) + ")";
        // Each cluster is read on its own, so a run lies within one cluster.
        if (at >= cluster_first_sector(0))
            line +=
                " in cluster " + std::to_string((at - cluster_first_sector(0)) / CLUSTER_SECTORS);
        lines.push_back(line);
    }
    if (total > 0)
        lines.push_back(std::to_string(total) + " unreadable sectors in " + std::to_string(ranges) +
                        (ranges == 1 ? " range" : " ranges") + " were read as zeros.");
    if (unreadable) *unreadable = total + fat.lost;
    return lines;
}

}  // namespace quarrow
