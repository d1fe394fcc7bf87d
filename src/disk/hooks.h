// How long core operations talk to their caller. The core never shows anything itself: where
// the user must see progress, be told something mid-way or answer a question, the operation
// calls these hooks. Implemented by the command-line front end (terminal_hooks in
// src/cli/cli_common.cpp: a progress bar on stderr, prompts on a terminal) and by the Windows
// program (src/ui/background_work.cpp, which relays them from the worker thread to the windows:
// progress bars, the status line, message boxes). Any member may be null: nothing is shown, and
// an absent confirm answers yes.
#pragma once

#include <cstdint>

namespace quarrow {

struct OperationHooks {
    void* context;
    // done of total units (sectors, clusters) so far.
    void (*progress)(void* context, int64_t done, int64_t total);
    // A notice the user must see but that does not end the operation.
    void (*notice)(void* context, const char* text);
    // A yes/no question; true to go on.
    bool (*confirm)(void* context, const char* text);
    // Work without measurable progress begins (true) or ends (false): the hourglass.
    void (*busy)(void* context, bool on);
    // Whether the user asked to stop (Ctrl-C). Operations ask only where stopping leaves the disk
    // consistent: before their first write, or between whole units of a copy that writes only
    // its own file. Once they have begun changing the disk they finish.
    bool (*cancelled)(void* context) = nullptr;
};

inline void hook_progress(const OperationHooks* hooks, int64_t done, int64_t total) {
    if (hooks && hooks->progress) hooks->progress(hooks->context, done, total);
}
inline void hook_notice(const OperationHooks* hooks, const char* text) {
    if (hooks && hooks->notice) hooks->notice(hooks->context, text);
}
inline bool hook_confirm(const OperationHooks* hooks, const char* text) {
    return !(hooks && hooks->confirm) || hooks->confirm(hooks->context, text);
}
inline bool hook_cancelled(const OperationHooks* hooks) {
    return hooks && hooks->cancelled && hooks->cancelled(hooks->context);
}
inline void hook_busy(const OperationHooks* hooks, bool on) {
    if (hooks && hooks->busy) hooks->busy(hooks->context, on);
}

}  // namespace quarrow
