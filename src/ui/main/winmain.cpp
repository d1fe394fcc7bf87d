// Entry point of quarrow.exe, the Windows program.
#include <windows.h>

#include "ui/application_shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    return quarrow::ui::run_application(instance, show);
}
