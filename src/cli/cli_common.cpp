#include "cli/cli_common.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "disk/disk_detection.h"
#include "fs/layout.h"

namespace quarrow::cli {

namespace {

struct Registered {
    int order;
    AddCommand add;
};

// Filled by the commands' static registrations before main runs.
std::vector<Registered>& registry() {
    static std::vector<Registered> commands;
    return commands;
}

}  // namespace

CommandRegistration::CommandRegistration(int order, AddCommand add) {
    registry().push_back({order, add});
}

void add_registered_commands(CLI::App& app, int* exit_code) {
    std::vector<Registered> commands = registry();
    std::stable_sort(commands.begin(), commands.end(),
                     [](const Registered& a, const Registered& b) { return a.order < b.order; });
    for (const Registered& c : commands)
        c.add(app, exit_code);
}

bool open_source(const std::string& source, bool want_write, OpenSource* out) {
    if (source == "scan") {
        out->disk = detect_disk(&out->count, out->entries.get(), want_write, out->message);
    } else {
        out->disk = open_disk_image(&out->count, out->entries.get(), want_write, out->message,
                                    source.c_str());
    }
    if (!out->disk) {
        std::cerr << out->message << "\n";
        return false;
    }
    if (want_write && !out->disk->writable) {
        std::cerr << "Cannot open " << source << " for writing; nothing was changed.\n";
        return false;
    }
    return true;
}

int recording_index(const std::string& number, const OpenSource& src) {
    char* end = nullptr;
    long n = strtol(number.c_str(), &end, 10);
    if (number.empty() || !end || *end || n < 1 || n > src.count) {
        if (src.count == 0)
            std::cerr << "There are no recordings on this disk.\n";
        else
            std::cerr << "No recording number " << number << ": choose 1 to " << src.count << ".\n";
        return -1;
    }
    return static_cast<int>(n - 1);
}

std::string utf8(const char* latin1) {
    char buffer[512];
    latin1_to_utf8(latin1, buffer, sizeof buffer);
    return buffer;
}

bool ask_yes_no(const char* question) {
    std::cerr << question << " [y/N] " << std::flush;
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return false;
    return line[0] == 'y' || line[0] == 'Y';
}

namespace {

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void draw(TerminalProgress* p, int64_t done, int64_t total) {
    double elapsed = now_seconds() - p->started;
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    const int width = 30;
    int filled = total > 0 ? static_cast<int>(done * width / total) : 0;
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[width] = 0;
    double mb = static_cast<double>(done) * p->bytes_per_unit / 1048576.0;
    double rate = elapsed > 0 ? mb / elapsed : 0;
    char left[32] = "--:--";
    if (done > 0 && total > done && elapsed > 0.2) {
        int secs = static_cast<int>(elapsed * (total - done) / done);
        snprintf(left, sizeof left, "%d:%02d", secs / 60, secs % 60);
    }
    fprintf(stderr, "\r[%s] %3d%% %lld/%lld %s  %.1f MB/s  %s left ", bar, percent,
            static_cast<long long>(done), static_cast<long long>(total), p->unit, rate, left);
    fflush(stderr);
    p->drawn = true;
}

void on_progress(void* context, int64_t done, int64_t total) {
    auto* p = static_cast<TerminalProgress*>(context);
    p->last_done = done;
    p->last_total = total;
    if (!p->enabled) return;
    double t = now_seconds();
    if (p->started == 0) p->started = t;
    // A few redraws a second: a line per block would cost more than the copy itself.
    if (p->last_draw >= 0 && t - p->last_draw < 0.25 && done < total) return;
    p->last_draw = t;
    draw(p, done, total);
}

void on_notice(void* context, const char* text) {
    auto* p = static_cast<TerminalProgress*>(context);
    if (p->drawn) fputc('\n', stderr);
    p->drawn = false;
    fprintf(stderr, "%s\n", text);
}

bool on_confirm(void*, const char* text) {
    return ask_yes_no(text);
}

}  // namespace

OperationHooks terminal_hooks(TerminalProgress* progress) {
    progress->started = now_seconds();
    OperationHooks hooks{};
    hooks.context = progress;
    hooks.progress = on_progress;
    hooks.notice = on_notice;
    hooks.confirm = on_confirm;
    return hooks;
}

void finish_progress(TerminalProgress* progress) {
    if (progress->enabled && progress->drawn) {
        draw(progress, progress->last_total, progress->last_total);
        fputc('\n', stderr);
    }
    progress->drawn = false;
}

}  // namespace quarrow::cli
