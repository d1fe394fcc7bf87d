#include "gui/dialog_fixture.h"

#include <cstring>

#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/message_boxes.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

DialogTest* running = nullptr;

BOOL WINAPI answer_save(OPENFILENAMEA* request) {
    if (!running) return FALSE;
    running->last_save_request_ = *request;
    running->last_save_title_ = request->lpstrTitle ? request->lpstrTitle : "";
    running->last_save_initial_dir_ = request->lpstrInitialDir ? request->lpstrInitialDir : "";
    // The filter is pairs of texts ending with an empty one.
    std::string filter;
    for (const char* p = request->lpstrFilter; p && *p; p += strlen(p) + 1)
        filter += std::string(p) + "|";
    running->last_save_filter_ = filter;
    const std::string& answer = running->save_file_answer_;
    if (answer.empty() || answer.size() + 1 > request->nMaxFile) return FALSE;
    memcpy(request->lpstrFile, answer.c_str(), answer.size() + 1);
    return TRUE;
}

// The modal dialog's loop dispatches this timer once the dialog is up.
struct ModalRun {
    const char* caption;
    const std::function<void(HWND)>* body;
    bool found;
};
ModalRun* modal_run = nullptr;
UINT_PTR modal_timer = 0;

BOOL CALLBACK find_dialog(HWND window, LPARAM result) {
    char caption[128] = {};
    GetWindowTextA(window, caption, sizeof caption);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, "#32770") == 0 && strcmp(caption, modal_run->caption) == 0) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK modal_tick(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    modal_timer = 0;
    if (!modal_run) return;
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), find_dialog, reinterpret_cast<LPARAM>(&dialog));
    ModalRun* run = modal_run;
    modal_run = nullptr;
    if (!dialog) return;
    run->found = true;
    (*run->body)(dialog);
    if (IsWindow(dialog)) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
}

}  // namespace

void DialogTest::SetUp() {
    GuiTest::SetUp();
    running = this;
    system_dialogs.save_file = answer_save;
}

void DialogTest::TearDown() {
    for (HWND dialog : dialogs_)
        if (IsWindow(dialog)) DestroyWindow(dialog);
    dialogs_.clear();
    running = nullptr;
    GuiTest::TearDown();
}

void DialogTest::start_with_image(const std::string& image, bool allow_erase) {
    store_dword(SETTING_ALLOW_DISK_WRITE, 1);
    if (allow_erase) store_dword(SETTING_ALLOW_DISK_ERASE, 1);
    ASSERT_NE(start(), nullptr);
    open_image(image);
}

std::string DialogTest::make_image(quarrow::test::TestDisk& disk, const char* name) {
    std::string path = folder_ + "\\" + name;
    EXPECT_TRUE(write_image(disk, path));
    // The whole disk, as a drive would be: every cluster readable, the free ones too.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = (int64_t(disk.cluster_count) + 1) * 16384 * 512;
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
    return path;
}

void DialogTest::open_image(const std::string& image) {
    open_file_answer_ = image;
    menu_command(IDM_OPEN_IMAGE);
    ASSERT_NE(app.disk, nullptr);
    ASSERT_TRUE(app.disk->writable);
    boxes_.clear();
}

long long first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<long long>(i);
    return a.size() == b.size() ? -1 : static_cast<long long>(n);
}

std::string DialogTest::copy_of(const std::string& image, const char* name) {
    std::string path = folder_ + "\\" + name;
    EXPECT_TRUE(CopyFileA(image.c_str(), path.c_str(), FALSE));
    return path;
}

HWND DialogTest::open_dialog(int id, DLGPROC proc) {
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id),
                                     app.main_window, proc, 0);
    EXPECT_NE(dialog, nullptr);
    dialogs_.push_back(dialog);
    return dialog;
}

bool DialogTest::with_modal_dialog(const std::function<void()>& trigger, const char* caption,
                                   const std::function<void(HWND)>& body) {
    ModalRun run{caption, &body, false};
    modal_run = &run;
    modal_timer = SetTimer(nullptr, 0, 1, modal_tick);
    trigger();
    // A command that opened nothing leaves the timer pending: it must not fire in a later test.
    if (modal_timer) KillTimer(nullptr, modal_timer);
    modal_timer = 0;
    modal_run = nullptr;
    return run.found;
}

std::string DialogTest::text_of(HWND dialog, int id) {
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool DialogTest::is_enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool DialogTest::is_checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

bool DialogTest::menu_is_grayed(HWND dialog, int command) {
    return (GetMenuState(GetMenu(dialog), command, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

std::vector<std::string> DialogTest::lines_of(HWND dialog, int id) {
    std::vector<std::string> lines;
    HWND list = GetDlgItem(dialog, id);
    int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char line[512] = {};
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        lines.push_back(line);
    }
    return lines;
}

int DialogTest::selected_line(HWND dialog, int id) {
    return static_cast<int>(SendMessageA(GetDlgItem(dialog, id), LB_GETCURSEL, 0, 0));
}

void DialogTest::press(HWND dialog, int id, WORD notification) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void DialogTest::pick_line(HWND dialog, int id, int line) {
    SendMessageA(GetDlgItem(dialog, id), LB_SETCURSEL, line, 0);
    press(dialog, id, LBN_SELCHANGE);
}

void DialogTest::type_into(HWND dialog, int id, const std::string& text) {
    // Setting an edit control's text sends the change notification itself.
    SetDlgItemTextA(dialog, id, text.c_str());
}

std::vector<std::string> DialogTest::box_texts() {
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes_)
        texts.push_back(box.text);
    boxes_.clear();
    return texts;
}

}  // namespace quarrow::ui::test
