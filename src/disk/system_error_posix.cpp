#include <cerrno>
#include <cstring>

#include "disk/system_error.h"

namespace quarrow {
namespace {

// Per thread, as errno is: two threads never see each other's failures.
thread_local SystemFailure last;

}  // namespace

void note_system_failure(const char* path) {
    int code = errno;
    note_failure_reason(path, strerror(code));
}

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
