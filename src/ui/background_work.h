// How a long operation of the program (extract, dump, erase, backup, restore, reclaim, rescue,
// extract all) runs without leaving the windows unanswered: the core work runs away from the
// window thread while that thread goes on painting, moving and answering, and the user can ask
// it to stop. The core stays free of window code: the work is a plain function that takes the
// hook record, and the hooks it is given relay to the window thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "disk/hooks.h"

namespace quarrow::ui {

// What the window thread shows while the work runs. Any member may be null; each is called on
// the window thread only, so it may touch windows freely.
struct WorkView {
    void* context;
    // done of total, in the work's own units (sectors, clusters).
    void (*progress)(void* context, int64_t done, int64_t total);
    // A notice the user must see; the work goes on.
    void (*notice)(void* context, const char* text);
};

// The core work: called once with hooks whose progress and notice reach view, whose confirm asks
// through a confirmation box owned by owner, and whose cancelled answers the user's Cancel.
using BackgroundWorkFunction = void (*)(void* context, const OperationHooks* hooks);

// Runs work(context, hooks) and returns when it has returned. Meanwhile the main window and
// owner take no input but still paint and move; only cancel_background_work reaches the work.
// True when the user asked to stop while it ran (the work decides at its next safe point
// whether it stops; its own result says what it did).
bool run_background_work(HWND owner, BackgroundWorkFunction work, void* context,
                         const WorkView& view);

// How a work shows itself beyond its view. All members may be left as they are.
struct WorkOptions {
    // The control that cancels, inside the window that shows the work (the extraction's button):
    // that window stays enabled with this one control usable, the rest of it disabled. Null when
    // the work stands behind a Please Wait window, which has its own Cancel.
    HWND cancel_control = nullptr;
    // The main window's status line shows MB done of the total and the time left (a few times
    // a second); the text it held comes back afterwards. With bytes_per_unit 0 or less the work
    // is counted in units (named unit); a null unit keeps the status line as it is.
    int64_t bytes_per_unit = 0;
    const char* unit = nullptr;
    // Called on the window thread once the work has returned, before the notices it gave are
    // shown (the windows take their after-work state here).
    void (*ended)(void* context) = nullptr;
};

// As above, with the options. Notices given while the work runs are shown, in their order, once
// it has returned; confirm questions are asked at once (the work waits for the answer).
bool run_background_work(HWND owner, BackgroundWorkFunction work, void* context,
                         const WorkView& view, const WorkOptions& options);

// The user's Cancel (a Cancel button, Esc, closing the main window): the running work sees it
// through hook_cancelled at its next safe point. Nothing happens when no work runs.
void cancel_background_work();
bool background_work_running();
// Whether the running work (if any) has been asked to stop.
bool background_work_cancelled();

// For tests: called on the worker thread at each progress report, before it is passed on, as
// slow reads would hold the work there (null: nothing). The windows' thread is not involved.
using BackgroundWorkPacer = void (*)(void* context, int64_t done, int64_t total);
void set_background_work_pacer(BackgroundWorkPacer pacer, void* context);

}  // namespace quarrow::ui
