// Stand-ins for the tool windows that this version does not have yet: each says so in the
// information box. A window that gets built moves its open_ function into its own file and
// leaves this one.
#include "ui/message_boxes.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {
namespace {

void not_available(HWND owner, const char* what) {
    char text[160];
    wsprintfA(text, "%s is not available in this version of Quarrow.", what);
    show_info(owner, text);
}

}  // namespace

void open_recording_management(HWND owner) {
    not_available(owner, "Recording Management");
}

void open_diagnostics(HWND owner) {
    not_available(owner, "Disk Diagnostics");
}

void open_dump_dialog(HWND owner) {
    not_available(owner, "Dump Disk to File");
}

void open_disk_erase(HWND owner) {
    not_available(owner, "Erase Hard Disk");
}

void open_about_box(HWND owner) {
    show_info(
        owner,
        "Quarrow v. 0.25\nAudio and Video extraction utility for the Nokia MediaMaster 9902s.");
}

}  // namespace quarrow::ui
