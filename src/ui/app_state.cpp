#include "ui/app_state.h"

namespace quarrow::ui {

AppState app = {};

const RecordingEntry* recording_at(int index) {
    int count = app.recording_count < MAX_RECORDINGS ? app.recording_count : MAX_RECORDINGS;
    if (index < 0 || index >= count) return nullptr;
    return &app.recordings[index];
}

void close_open_disk() {
    if (app.disk) app.disk = close_disk(app.disk);
}

}  // namespace quarrow::ui
