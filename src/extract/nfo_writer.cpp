#include "extract/nfo_writer.h"

#include <cstdio>
#include <cstring>

#include "disk/output_file.h"
#include "fs/text_folding.h"

namespace quarrow {
namespace {

// Disk text as XML character data: XML 1.0 allows no C0 control codes and the C1 ones (the
// broadcast's emphasis and line-break marks) show as boxes, so both become spaces; the rest is
// Latin-1, which becomes UTF-8.
std::string xml_text(const char* latin1, size_t width) {
    char plain[256];
    size_t n = strnlen(latin1, width < sizeof plain ? width : sizeof plain - 1);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(latin1[i]);
        plain[i] = (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) ? ' ' : latin1[i];
    }
    plain[n] = 0;
    char utf8[2 * sizeof plain];
    latin1_to_utf8(plain, utf8, sizeof utf8);
    std::string out;
    for (const char* p = utf8; *p; ++p) {
        switch (*p) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += *p;
        }
    }
    size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

void element(std::string& doc, const char* name, const std::string& value) {
    if (value.empty()) return;
    doc += std::string("  <") + name + ">" + value + "</" + name + ">\n";
}

// The UTC calendar date and time of a moment, without the platform's time functions.
void civil_from_unix(int64_t t, int* y, int* m, int* d, int* hh, int* mm, int* ss) {
    int64_t days = t / 86400, rest = t % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = int(yoe + era * 400 + (*m <= 2));
    *hh = int(rest / 3600);
    *mm = int(rest / 60 % 60);
    *ss = int(rest % 60);
}

}  // namespace

std::string nfo_document(const RecordingEntry& e, int64_t start_unix) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<movie>\n";
    element(doc, "title", xml_text(e.display_title, sizeof e.display_title));
    element(doc, "studio", xml_text(e.channel, sizeof e.channel));
    if (start_unix >= 0) {
        int y, m, d, hh, mm, ss;
        civil_from_unix(start_unix, &y, &m, &d, &hh, &mm, &ss);
        char day[32], moment[48];
        snprintf(day, sizeof day, "%04d-%02d-%02d", y, m, d);
        snprintf(moment, sizeof moment, "%s %02d:%02d:%02d", day, hh, mm, ss);
        element(doc, "premiered", day);
        element(doc, "year", std::to_string(y));
        element(doc, "dateadded", moment);
    }
    int64_t seconds = int64_t(e.hours) * 3600 + e.minutes * 60 + e.seconds;
    // Rounded to the nearest minute; a recording shorter than that still runs one.
    if (seconds > 0)
        element(doc, "runtime", std::to_string(seconds < 30 ? 1 : (seconds + 30) / 60));
    // The attributes as the list shows them ("Permanent, Locked"), one tag each.
    std::string attributes = xml_text(e.attribute_text, sizeof e.attribute_text);
    for (size_t at = 0; at < attributes.size();) {
        size_t comma = attributes.find(", ", at);
        if (comma == std::string::npos) comma = attributes.size();
        element(doc, "tag", attributes.substr(at, comma - at));
        at = comma + 2;
    }
    doc += "</movie>\n";
    return doc;
}

bool write_nfo_file(const char* final_name, const RecordingEntry& entry, int64_t start_unix) {
    std::string text = nfo_document(entry, start_unix);
    OutputFilePtr file(begin_output_file(final_name));
    if (!file || !output_write(file.get(), text.data(), text.size())) return false;
    if (start_unix >= 0) set_output_time(file.get(), start_unix);
    return commit_output_file(file.release());
}

}  // namespace quarrow
