#include "ui/background_work.h"

#include <commctrl.h>
#include <process.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "disk/progress_text.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/extraction_panel.h"
#include "ui/message_boxes.h"

namespace quarrow::ui {
namespace {

// The work runs on a thread of its own; the window thread stays in the loop below until it
// ends. The worker never touches a window: it posts its progress (only the latest value counts,
// so at most one progress message waits at a time) and sends its questions and notices to a
// message-only window of the window thread, which answers them there.
constexpr UINT RELAY_PROGRESS = WM_APP + 1;
constexpr UINT RELAY_NOTICE = WM_APP + 2;
constexpr UINT RELAY_CONFIRM = WM_APP + 3;
constexpr const char* RELAY_CLASS = "QuarrowWorkRelay";
// The status line is redrawn this often, the view's progress at most every VIEW_INTERVAL_MS:
// the window thread stays free for the user however fast the work reports.
constexpr double STATUS_INTERVAL_SECONDS = 0.25;
constexpr UINT VIEW_INTERVAL_MS = 50;
constexpr UINT_PTR VIEW_TIMER = 1;
constexpr UINT_PTR STATUS_TIMER = 2;

double now_seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Running {
    HWND owner = nullptr;
    const WorkView* view = nullptr;
    WorkOptions options;
    BackgroundWorkFunction work = nullptr;
    void* context = nullptr;
    OperationHooks hooks{};
    HWND relay = nullptr;
    std::atomic<bool> cancel{false};
    std::atomic<int64_t> done{0};
    std::atomic<int64_t> total{0};
    std::atomic<bool> progress_reported{false};
    std::atomic<bool> progress_waiting{false};
    // Window thread only.
    std::vector<std::string> notices;
    std::vector<HWND> disabled;
    double started = 0;
    double last_status = -1;
    double last_view = -1;
    bool view_timer = false;
    char earlier_status[MESSAGE_SIZE] = {};
    Running* outer = nullptr;
};

Running* running = nullptr;
BackgroundWorkPacer pacer = nullptr;
void* pacer_context = nullptr;

// Window thread: the latest progress to the view.
void show_view(Running* run) {
    if (!run->progress_reported.load()) return;
    if (run->view->progress)
        run->view->progress(run->view->context, run->done.load(), run->total.load());
}

bool shows_status(const Running* run) {
    return run->options.unit || run->options.bytes_per_unit > 0;
}

// Window thread: the latest progress to the status line, with the time left from the pace so
// far (called by a timer, so that the time goes on while a slow read holds the work).
void show_status(Running* run) {
    if (!run->progress_reported.load() || !shows_status(run)) return;
    const double now = now_seconds();
    run->last_status = now;
    ProgressFigures figures;
    figures.done = run->done.load();
    figures.total = run->total.load();
    figures.bytes_per_unit = run->options.bytes_per_unit;
    figures.unit = run->options.unit;
    figures.elapsed_seconds = now - run->started;
    set_status(progress_text(figures).c_str());
}

LRESULT CALLBACK relay_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* run = reinterpret_cast<Running*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!run) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
        case RELAY_PROGRESS:
            // Too soon after the last: shown by the timer, and until then the worker posts no
            // more (its flag stays set).
            if (run->last_view >= 0 && now_seconds() - run->last_view < VIEW_INTERVAL_MS / 1000.0) {
                if (!run->view_timer)
                    run->view_timer = SetTimer(window, VIEW_TIMER, VIEW_INTERVAL_MS, nullptr) != 0;
                if (run->view_timer) return 0;
            }
            run->progress_waiting.store(false);
            run->last_view = now_seconds();
            show_view(run);
            return 0;
        case WM_TIMER:
            if (wparam == STATUS_TIMER) {
                show_status(run);
                return 0;
            }
            KillTimer(window, VIEW_TIMER);
            run->view_timer = false;
            run->progress_waiting.store(false);
            run->last_view = now_seconds();
            show_view(run);
            return 0;
        case RELAY_NOTICE:
            run->notices.emplace_back(reinterpret_cast<const char*>(lparam));
            return 0;
        case RELAY_CONFIRM:
            // A question after Cancel is answered no, as the command line answers it after
            // Ctrl-C.
            if (run->cancel.load()) return 0;
            return ask_confirmation(run->owner ? run->owner : app.main_window,
                                    reinterpret_cast<const char*>(lparam)) &&
                   !run->cancel.load();
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

HWND create_relay(Running* run) {
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSA relay_class = {};
        relay_class.lpfnWndProc = relay_proc;
        relay_class.hInstance = instance;
        relay_class.lpszClassName = RELAY_CLASS;
        registered = RegisterClassA(&relay_class) != 0;
    }
    HWND relay = CreateWindowExA(0, RELAY_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                 nullptr);
    if (relay) SetWindowLongPtrA(relay, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(run));
    return relay;
}

// Worker side of the hooks.
void relay_progress(void* context, int64_t done, int64_t total) {
    auto* run = static_cast<Running*>(context);
    if (pacer) pacer(pacer_context, done, total);
    run->done.store(done);
    run->total.store(total);
    run->progress_reported.store(true);
    if (!run->progress_waiting.exchange(true)) PostMessageA(run->relay, RELAY_PROGRESS, 0, 0);
}

void relay_notice(void* context, const char* text) {
    auto* run = static_cast<Running*>(context);
    SendMessageA(run->relay, RELAY_NOTICE, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

bool relay_confirm(void* context, const char* text) {
    auto* run = static_cast<Running*>(context);
    return SendMessageA(run->relay, RELAY_CONFIRM, 0, reinterpret_cast<LPARAM>(text ? text : "")) !=
           0;
}

bool relay_cancelled(void* context) {
    return static_cast<Running*>(context)->cancel.load();
}

// The same hooks for a work run on the window thread (no thread could be started).
void direct_progress(void* context, int64_t done, int64_t total) {
    auto* run = static_cast<Running*>(context);
    run->done.store(done);
    run->total.store(total);
    run->progress_reported.store(true);
    show_view(run);
    if (run->last_status < 0 || now_seconds() - run->last_status >= STATUS_INTERVAL_SECONDS)
        show_status(run);
}

void direct_notice(void* context, const char* text) {
    static_cast<Running*>(context)->notices.emplace_back(text ? text : "");
}

bool direct_confirm(void* context, const char* text) {
    auto* run = static_cast<Running*>(context);
    return ask_confirmation(run->owner ? run->owner : app.main_window, text ? text : "");
}

unsigned __stdcall worker_main(void* context) {
    auto* run = static_cast<Running*>(context);
    run->work(run->context, &run->hooks);
    return 0;
}

void disable(Running* run, HWND window) {
    if (!window || !IsWindowEnabled(window)) return;
    EnableWindow(window, FALSE);
    run->disabled.push_back(window);
}

// Texts, group boxes and bars take no input: they stay as they are drawn, the status line and
// the progress bar among them.
bool shows_only(HWND window) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 || lstrcmpiA(name, PROGRESS_CLASSA) == 0) return true;
    return lstrcmpiA(name, "Button") == 0 &&
           (GetWindowLongA(window, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

BOOL CALLBACK disable_other_control(HWND child, LPARAM context) {
    auto* run = reinterpret_cast<Running*>(context);
    HWND keep = run->options.cancel_control;
    if (shows_only(child)) return TRUE;
    // The control itself and the windows that hold it stay usable.
    if (child != keep && !IsChild(child, keep)) disable(run, child);
    return TRUE;
}

// No input reaches what could start another operation or change what the work uses.
void lock_windows(Running* run) {
    HWND keep = run->options.cancel_control;
    if (keep) {
        HWND top = GetAncestor(keep, GA_ROOT);
        EnumChildWindows(top, disable_other_control, reinterpret_cast<LPARAM>(run));
        if (run->owner && run->owner != top && !IsChild(run->owner, keep)) disable(run, run->owner);
        EnableWindow(keep, TRUE);
        SetFocus(keep);
        return;
    }
    disable(run, run->owner);
    disable(run, app.main_window);
}

void unlock_windows(Running* run) {
    for (auto it = run->disabled.rbegin(); it != run->disabled.rend(); ++it)
        if (IsWindow(*it)) EnableWindow(*it, TRUE);
    run->disabled.clear();
}

bool is_escape(const MSG& message) {
    return (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) &&
           message.wParam == VK_ESCAPE;
}

// The window thread's loop while the worker runs: everything is dispatched (paint, move,
// resize, the Cancel button, the questions the worker sends), Esc cancels. A quit that comes
// meanwhile is kept for the program's own loop.
void wait_for(HANDLE thread) {
    bool quit = false;
    int quit_code = 0;
    for (;;) {
        DWORD woke =
            MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_FAILED) {
            WaitForSingleObject(thread, INFINITE);
            break;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quit_code = static_cast<int>(message.wParam);
                continue;
            }
            if (is_escape(message)) {
                cancel_background_work();
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (quit) PostQuitMessage(quit_code);
}

}  // namespace

bool run_background_work(HWND owner, BackgroundWorkFunction work, void* context,
                         const WorkView& view, const WorkOptions& options) {
    Running run;
    run.owner = owner;
    run.view = &view;
    run.options = options;
    run.work = work;
    run.context = context;
    run.started = now_seconds();
    run.outer = running;
    if (app.panel_window)
        GetDlgItemTextA(app.panel_window, IDC_STATUS, run.earlier_status,
                        sizeof run.earlier_status);
    running = &run;
    lock_windows(&run);

    run.relay = create_relay(&run);
    HANDLE thread = nullptr;
    if (run.relay) {
        run.hooks = OperationHooks{&run,          relay_progress, relay_notice,
                                   relay_confirm, nullptr,        relay_cancelled};
        thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, worker_main, &run, 0, nullptr));
    }
    if (thread) {
        if (shows_status(&run))
            SetTimer(run.relay, STATUS_TIMER, static_cast<UINT>(STATUS_INTERVAL_SECONDS * 1000),
                     nullptr);
        wait_for(thread);
        CloseHandle(thread);
    } else {
        // Without a thread the work runs here, the windows locked all the same.
        run.hooks = OperationHooks{&run,           direct_progress, direct_notice,
                                   direct_confirm, nullptr,         relay_cancelled};
        work(context, &run.hooks);
    }
    if (run.relay) {
        SetWindowLongPtrA(run.relay, GWLP_USERDATA, 0);
        DestroyWindow(run.relay);
    }
    // The last progress the work gave, whatever the throttle let through.
    show_view(&run);

    running = run.outer;
    unlock_windows(&run);
    if (app.panel_window && (options.unit || options.bytes_per_unit > 0))
        set_status(run.earlier_status);
    if (options.ended) options.ended(context);
    for (const std::string& text : run.notices)
        if (view.notice) view.notice(view.context, text.c_str());
    return run.cancel.load();
}

bool run_background_work(HWND owner, BackgroundWorkFunction work, void* context,
                         const WorkView& view) {
    return run_background_work(owner, work, context, view, WorkOptions{});
}

void cancel_background_work() {
    if (running) running->cancel.store(true);
}

bool background_work_running() {
    return running != nullptr;
}

void set_background_work_pacer(BackgroundWorkPacer new_pacer, void* context) {
    pacer = new_pacer;
    pacer_context = context;
}

bool background_work_cancelled() {
    return running && running->cancel.load();
}

}  // namespace quarrow::ui
