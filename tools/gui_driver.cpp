// quarrow_gui_driver: moves a running quarrow.exe from outside, for tools/screenshots.sh. It finds
// the main window by its class, sends the panel the messages a click would, and can hold the
// program still in the middle of an extraction so that the progress bar and the button reading
// "Cancel" can be photographed, and probes how long the main window leaves a message unanswered.
// Windows only (runs under Wine beside the program).
#include <windows.h>

#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resources/resource.h"

namespace {

HWND main_window() {
    return FindWindowA("Quarrow", nullptr);
}

HWND panel_window() {
    return FindWindowExA(main_window(), nullptr, MAKEINTATOM(32770), nullptr);
}

void print_rect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Waits up to seconds for a top-level window with the class and title (either may be null).
HWND wait_for(const char* class_name, const char* title, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        HWND w = FindWindowA(class_name, title);
        if (w && IsWindowVisible(w)) return w;
        Sleep(100);
    }
    return nullptr;
}

// Suspends (or resumes) every thread of the program but spared (0: none): the window thread and
// the worker that runs a long operation beside it.
bool hold_program(bool hold, DWORD spared = 0) {
    DWORD process = 0;
    GetWindowThreadProcessId(main_window(), &process);
    if (!process) return false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process || entry.th32ThreadID == spared) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        if (hold)
            SuspendThread(thread);
        else
            ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return true;
}

bool responding(HWND window, UINT timeout_ms) {
    DWORD_PTR result;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &result) != 0;
}

int usage() {
    fprintf(stderr,
            "usage: quarrow_gui_driver COMMAND\n"
            "  wait               wait for the main window; print its rectangle (x y w h)\n"
            "  select LINE        select line LINE (from 1) of the recording list\n"
            "  click ID           click the panel's button or check box ID\n"
            "  extract-pause MS   click Begin Extraction, let it run MS ms, then hold the\n"
            "                     program's threads\n"
            "  menu-pause ID MS   send the main window menu command ID, let it run MS ms, then\n"
            "                     hold the program's threads\n"
            "  resume             let the program's threads go on\n"
            "  wait-box TITLE     wait for a message box captioned TITLE; print its rectangle\n"
            "  close-box TITLE    press OK in the message box captioned TITLE\n"
            "  probe HWND READY GO STOP\n"
            "                     set event READY, wait for GO, send WM_NULL to HWND every\n"
            "                     100 ms until STOP; print probes sent, answered, longest\n"
            "                     wait (ms)\n");
    return 2;
}

}  // namespace

// Sets the event named ready, waits for the one named go, then sends window WM_NULL every 100 ms
// until the one named stop is set; prints the probes sent, those answered, and the longest a
// probe waited for its answer (ms).
int probe(HWND window, const char* ready_event, const char* go_event, const char* stop_event) {
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready_event);
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, go_event);
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, stop_event);
    if (!ready || !go || !stop) return 1;
    SetEvent(ready);
    WaitForSingleObject(go, 120000);
    int sent = 0, answered = 0;
    DWORD longest = 0;
    while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT && IsWindow(window)) {
        DWORD begun = GetTickCount();
        DWORD_PTR result;
        ++sent;
        if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) ++answered;
        DWORD waited = GetTickCount() - begun;
        if (waited > longest) longest = waited;
        if (waited < 100) Sleep(100 - waited);
    }
    printf("%d %d %lu\n", sent, answered, static_cast<unsigned long>(longest));
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    // Run beside a test of the program, on its desktop.
    if (!strcmp(argv[1], "probe") && argc == 6)
        return probe(reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(argv[2], nullptr, 0))),
                     argv[3], argv[4], argv[5]);
    // The program runs in the Wine virtual desktop "quarrow"; windows are only found from a
    // thread on the same desktop.
    // It may not exist yet while the program starts.
    for (int i = 0; i < 600; ++i) {
        HDESK desktop = OpenDesktopA("quarrow", 0, FALSE, GENERIC_ALL);
        if (desktop && SetThreadDesktop(desktop)) break;
        Sleep(100);
    }
    const char* command = argv[1];
    if (!strcmp(command, "wait")) {
        HWND w = wait_for("Quarrow", nullptr, 60);
        if (!w) return 1;
        // Start-up detection runs before the loop; a reply means the window is ready.
        for (int i = 0; i < 300 && !responding(w, 100); ++i) {
        }
        print_rect(w);
        return 0;
    }
    if (!strcmp(command, "select") && argc == 3) {
        HWND panel = panel_window();
        if (!panel) return 1;
        HWND list = GetDlgItem(panel, IDC_RECORDING_LIST);
        SendMessageA(list, LB_SETCURSEL, atoi(argv[2]) - 1, 0);
        SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_RECORDING_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
        return 0;
    }
    if (!strcmp(command, "click") && argc == 3) {
        HWND panel = panel_window();
        if (!panel) return 1;
        SendMessageA(GetDlgItem(panel, atoi(argv[2])), BM_CLICK, 0, 0);
        return 0;
    }
    if (!strcmp(command, "extract-pause") && argc == 3) {
        HWND panel = panel_window();
        if (!panel) return 1;
        HWND button = GetDlgItem(panel, IDC_BEGIN_EXTRACTION);
        PostMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_BEGIN_EXTRACTION, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        // The walk has begun once the button reads "Cancel".
        char text[64] = {};
        for (int i = 0; i < 2500 && strcmp(text, "Cancel") != 0; ++i) {
            Sleep(2);
            GetWindowTextA(button, text, sizeof text);
        }
        Sleep(static_cast<DWORD>(atoi(argv[2])));
        // The walk is held where it is, and the window thread shows its progress before it is
        // held too.
        const DWORD window_thread = GetWindowThreadProcessId(main_window(), nullptr);
        if (!hold_program(true, window_thread)) return 1;
        Sleep(500);
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, window_thread);
        if (!thread) return 1;
        SuspendThread(thread);
        CloseHandle(thread);
        return 0;
    }
    if (!strcmp(command, "menu-pause") && argc == 4) {
        PostMessageA(main_window(), WM_COMMAND, MAKEWPARAM(atoi(argv[2]), 0), 0);
        Sleep(static_cast<DWORD>(atoi(argv[3])));
        return hold_program(true) ? 0 : 1;
    }
    if (!strcmp(command, "resume")) return hold_program(false) ? 0 : 1;
    if (!strcmp(command, "wait-box") && argc == 3) {
        HWND box = wait_for(MAKEINTATOM(32770), argv[2], 60);
        if (!box) return 1;
        print_rect(box);
        return 0;
    }
    if (!strcmp(command, "close-box") && argc == 3) {
        HWND box = FindWindowA(MAKEINTATOM(32770), argv[2]);
        if (!box) return 1;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    return usage();
}
