#include "ui/window_hooks.h"

#include "ui/message_boxes.h"

namespace quarrow::ui {
namespace {

void busy(void* context, bool on) {
    auto* record = static_cast<WindowHooks*>(context);
    if (on) {
        record->previous_cursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    } else {
        SetCursor(record->previous_cursor);
    }
}

bool confirm(void* context, const char* text) {
    return ask_confirmation(static_cast<WindowHooks*>(context)->owner, text);
}

}  // namespace

void init_window_hooks(WindowHooks* record, HWND owner) {
    record->owner = owner;
    record->previous_cursor = nullptr;
    record->hooks = OperationHooks{record, nullptr, nullptr, confirm, busy};
}

}  // namespace quarrow::ui
