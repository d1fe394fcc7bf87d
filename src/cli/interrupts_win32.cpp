#include <csignal>
#include <cstring>

#include <windows.h>

#include "cli/interrupts.h"

namespace quarrow::cli {
namespace {

// Set from the console's own thread; an aligned int is written whole.
volatile std::sig_atomic_t interrupted = 0;
const char* volatile announcement = nullptr;

// The console runs this on a thread of its own; returning TRUE keeps the process alive.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interrupted = 1;
    MemoryBarrier();
    const char* note = announcement;
    if (note) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), note, DWORD(strlen(note)), &written, nullptr);
    }
    return TRUE;
}

void on_terminate(int) {
    interrupted = 1;
    std::signal(SIGTERM, on_terminate);
}

}  // namespace

void defer_interrupts(const char* note) {
    announcement = note;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    std::signal(SIGTERM, on_terminate);
}

bool interrupt_requested() {
    MemoryBarrier();
    return interrupted != 0;
}

const volatile std::sig_atomic_t* interrupt_flag() {
    return &interrupted;
}

}  // namespace quarrow::cli
