#include "disk/progress_text.h"

#include <cmath>
#include <cstdio>

namespace quarrow {

std::string duration_text(double seconds) {
    long s = seconds < 0 ? 0 : std::lround(seconds);
    char text[32];
    if (s < 60)
        snprintf(text, sizeof text, "%ld s", s);
    else if (s < 3600)
        snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    else
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

std::string progress_text(const ProgressFigures& f) {
    const int64_t total = f.total;
    const int64_t done = f.done > total ? total : f.done;
    const double elapsed = f.elapsed_seconds;
    std::string tail;
    if (f.final_line)
        tail = (done == total ? "done in " : "stopped after ") + duration_text(elapsed);
    else if (done > 0 && elapsed > 0.2)
        tail =
            duration_text(elapsed * static_cast<double>(total - done) / static_cast<double>(done)) +
            " left";
    else
        tail = "--:-- left";
    char amount[64], pace[48];
    if (f.bytes_per_unit <= 0) {
        const char* unit = f.unit ? f.unit : "units";
        snprintf(amount, sizeof amount, "%lld of %lld %s", static_cast<long long>(done),
                 static_cast<long long>(total), unit);
        snprintf(pace, sizeof pace, "%.0f %s/s",
                 elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0, unit);
    } else {
        double mb = static_cast<double>(done) * static_cast<double>(f.bytes_per_unit) / 1048576.0;
        double total_mb =
            static_cast<double>(total) * static_cast<double>(f.bytes_per_unit) / 1048576.0;
        if (done == total)
            snprintf(amount, sizeof amount, "%.1f MB", total_mb);
        else
            snprintf(amount, sizeof amount, "%.1f of %.1f MB", mb, total_mb);
        snprintf(pace, sizeof pace, "%.1f MB/s", elapsed > 0 ? mb / elapsed : 0.0);
    }
    return std::string(amount) + "  " + pace + "  " + tail;
}

}  // namespace quarrow
