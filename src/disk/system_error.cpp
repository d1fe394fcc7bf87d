#include "disk/system_error.h"

namespace quarrow {
namespace {

// Per thread, as errno and GetLastError are: two threads never see each other's failures.
thread_local SystemFailure last;

}  // namespace

void note_failure_reason(const char* path, const char* reason) {
    last.path = path ? path : "";
    last.reason = reason ? reason : "";
}

const SystemFailure& last_system_failure() {
    return last;
}

void clear_system_failure() {
    last = SystemFailure{};
}

}  // namespace quarrow
