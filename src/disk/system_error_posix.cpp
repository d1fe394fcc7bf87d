#include <cerrno>
#include <cstring>

#include "disk/system_error.h"

namespace quarrow {

void note_system_failure(const char* path) {
    int code = errno;
    note_failure_reason(path, strerror(code));
}

}  // namespace quarrow
