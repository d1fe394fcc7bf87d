#include "ui/background_work.h"

#include "ui/message_boxes.h"

namespace quarrow::ui {
namespace {

// The work runs on the window thread for now; paint messages are let through at each progress
// step so that the windows at least redraw.
struct Running {
    HWND owner;
    const WorkView* view;
    bool cancel_requested;
};

Running* running = nullptr;

void let_windows_paint() {
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
        DispatchMessageA(&message);
}

void relay_progress(void* context, int64_t done, int64_t total) {
    auto* run = static_cast<Running*>(context);
    if (run->view->progress) run->view->progress(run->view->context, done, total);
    let_windows_paint();
}

void relay_notice(void* context, const char* text) {
    auto* run = static_cast<Running*>(context);
    if (run->view->notice) run->view->notice(run->view->context, text);
}

bool relay_confirm(void* context, const char* text) {
    return ask_confirmation(static_cast<Running*>(context)->owner, text);
}

bool relay_cancelled(void* context) {
    return static_cast<Running*>(context)->cancel_requested;
}

}  // namespace

bool run_background_work(HWND owner, BackgroundWorkFunction work, void* context,
                         const WorkView& view) {
    Running run{owner, &view, false};
    Running* outer = running;
    running = &run;
    OperationHooks hooks{&run,          relay_progress, relay_notice,
                         relay_confirm, nullptr,        relay_cancelled};
    work(context, &hooks);
    running = outer;
    return run.cancel_requested;
}

void cancel_background_work() {
    if (running) running->cancel_requested = true;
}

bool background_work_running() {
    return running != nullptr;
}

}  // namespace quarrow::ui
