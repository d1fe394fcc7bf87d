#include <windows.h>

#include "disk/system_error.h"

namespace quarrow {

void note_system_failure(const char* path) {
    DWORD code = GetLastError();
    char text[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    // The system's texts end with a full stop and a line break; the reason is shown in brackets.
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
        text[--n] = 0;
    if (n == 0) wsprintfA(text, "system error %lu", static_cast<unsigned long>(code));
    note_failure_reason(path, text);
}

}  // namespace quarrow
