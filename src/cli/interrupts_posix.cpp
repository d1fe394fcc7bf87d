#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "cli/interrupts.h"

namespace quarrow::cli {
namespace {

volatile sig_atomic_t interrupted = 0;
const char* volatile announcement = nullptr;

// Only async-signal-safe calls here: a flag and a write.
void on_interrupt(int) {
    interrupted = 1;
    const char* note = announcement;
    if (note) {
        ssize_t ignored = write(2, note, strlen(note));
        (void)ignored;
    }
}

}  // namespace

void defer_interrupts(const char* note) {
    announcement = note;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting on the terminal returns, and is answered "no".
    action.sa_flags = 0;
    // Installed even where the shell started the program with SIGINT ignored (a script's
    // background job): a signal sent to it on purpose is still a request to stop cleanly.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool interrupt_requested() {
    return interrupted != 0;
}

const volatile std::sig_atomic_t* interrupt_flag() {
    return &interrupted;
}

}  // namespace quarrow::cli
