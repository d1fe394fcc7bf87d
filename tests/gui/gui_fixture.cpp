#include "gui/gui_fixture.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "disk/sector_access.h"
#include "support/sample_disk.h"
#include "ui/app_state.h"
#include "ui/application_shell.h"
#include "ui/message_boxes.h"
#include "ui/settings.h"

namespace quarrow::ui::test {
namespace {

GuiTest* current = nullptr;

// Answers instead of a person; the test's records live in the running fixture.
struct Recorder {
    static int message_box(HWND owner, const char* text, const char* caption, UINT style);
    static BOOL WINAPI open_file(OPENFILENAMEA* request);
    static BOOL WINAPI save_file(OPENFILENAMEA*) { return FALSE; }
    static int browse_for_folder(HWND owner, const char* title, char* path);
};

// A test touches drives only through images: before anything runs, the drive list names a file
// that does not exist, so that no scan can reach the machine's own \\.\PhysicalDrive0.
const bool drives_fenced = [] {
    _putenv("QUARROW_DRIVES=Z:\\nonexistent\\quarrow-no-drive.hex");
    return true;
}();

}  // namespace

namespace {

int Recorder::message_box(HWND owner, const char* text, const char* caption, UINT style) {
    if (!current) return IDCANCEL;
    ShownBox box{owner, text ? text : "", caption ? caption : "", style};
    current->boxes_.push_back(box);
    if (current->on_box_) {
        auto once = current->on_box_;
        current->on_box_ = nullptr;
        once(box);
    }
    auto& answers = current->answers_;
    if (!answers.empty()) {
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return (style & MB_TYPEMASK) == MB_YESNOCANCEL ? IDCANCEL : IDOK;
}

BOOL WINAPI Recorder::open_file(OPENFILENAMEA* request) {
    if (!current) return FALSE;
    current->last_open_request_ = *request;
    current->last_open_title_ = request->lpstrTitle ? request->lpstrTitle : "";
    const std::string& answer = current->open_file_answer_;
    if (answer.empty() || answer.size() + 1 > request->nMaxFile) return FALSE;
    memcpy(request->lpstrFile, answer.c_str(), answer.size() + 1);
    return TRUE;
}

int Recorder::browse_for_folder(HWND, const char* title, char* path) {
    if (!current) return 0;
    current->last_folder_title_ = title ? title : "";
    const std::string& answer = current->folder_answer_;
    if (answer.empty()) return 0;
    snprintf(path, PATH_SIZE, "%s", answer.c_str());
    return 1;
}

std::string temp_root() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%squarrow-gui-%lu\\", base, GetCurrentProcessId());
    CreateDirectoryA(folder, nullptr);
    return folder;
}

void delete_tree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                delete_tree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Removes the run's folder (and the sample image in it) when the program ends.
struct RunFolderCleanup {
    ~RunFolderCleanup() {
        std::string root = temp_root();
        delete_tree(root.substr(0, root.size() - 1));
    }
} run_folder_cleanup;

}  // namespace

const std::string& run_folder() {
    static const std::string folder = temp_root();
    return folder;
}

bool write_image(quarrow::test::TestDisk& disk, const std::string& path) {
    DiskHandle out = create_output_file(path.c_str());
    if (!out) return false;
    bool ok = quarrow::test::write_test_disk(disk, out);
    close_disk(out);
    return ok;
}

const std::string& sample_image_path() {
    static const std::string path = [] {
        std::string p = run_folder() + "sample.hex";
        quarrow::test::SampleMedia media;
        if (!quarrow::test::load_sample_media("", &media)) return std::string();
        quarrow::test::TestDisk disk = quarrow::test::sample_disk(media);
        DiskHandle out = create_output_file(p.c_str());
        if (!out) return std::string();
        bool ok = quarrow::test::write_sample_disk(disk, out);
        close_disk(out);
        return ok ? p : std::string();
    }();
    return path;
}

std::vector<uint8_t> file_bytes(const std::string& path) {
    return quarrow::test::read_file_bytes(path);
}

bool file_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void GuiTest::SetUp() {
    current = this;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    key_ = std::string("SOFTWARE\\QuarrowTests\\") + info->test_suite_name() + "." + info->name() +
           "\\";
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, key_.c_str());
    set_settings_key(key_.c_str());
    folder_ = new_folder(info->name());
    set_drives("");
    system_dialogs.message_box = Recorder::message_box;
    system_dialogs.open_file = Recorder::open_file;
    system_dialogs.save_file = Recorder::save_file;
    system_dialogs.browse_for_folder = Recorder::browse_for_folder;
}

void GuiTest::TearDown() {
    if (app.main_window && IsWindow(app.main_window)) DestroyWindow(app.main_window);
    close_open_disk();
    // Drop what the windows left in the queue, the quit message of WM_DESTROY included.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    if (app.class_name[0]) UnregisterClassA(app.class_name, GetModuleHandleA(nullptr));
    app = AppState{};
    system_dialogs = real_system_dialogs();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, key_.c_str());
    set_settings_key("SOFTWARE\\Quarrow\\");
    delete_tree(folder_);
    current = nullptr;
}

HWND GuiTest::start(int show) {
    return start_application(GetModuleHandleA(nullptr), show);
}

void GuiTest::set_drives(const std::string& drives) {
    // An empty value would remove the variable (and open the machine's drives): a path that does
    // not exist stands for "no drives".
    std::string value =
        "QUARROW_DRIVES=" + (drives.empty() ? "Z:\\nonexistent\\quarrow-no-drive.hex" : drives);
    _putenv(value.c_str());
}

void GuiTest::store_dword(const char* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

void GuiTest::store_string(const char* name, const std::string& value, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    std::vector<char> block(size, 0);
    memcpy(block.data(), value.data(), value.size() < size ? value.size() : size);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(block.data()), size);
    RegCloseKey(key);
}

bool GuiTest::stored_dword(const char* name, DWORD* value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = sizeof *value;
    LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_DWORD;
}

std::string GuiTest::item_text(int id) {
    char text[1024] = {};
    GetDlgItemTextA(app.panel_window, id, text, sizeof text);
    return text;
}

bool GuiTest::checked(int id) {
    return IsDlgButtonChecked(app.panel_window, id) == BST_CHECKED;
}

bool GuiTest::enabled(int id) {
    return IsWindowEnabled(GetDlgItem(app.panel_window, id)) != FALSE;
}

bool GuiTest::visible(int id) {
    return (GetWindowLongA(GetDlgItem(app.panel_window, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool GuiTest::menu_checked(int command) {
    return (GetMenuState(GetMenu(app.main_window), command, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

bool GuiTest::menu_grayed(int command) {
    return (GetMenuState(GetMenu(app.main_window), command, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

std::vector<std::string> GuiTest::list_lines() {
    std::vector<std::string> lines;
    HWND list = GetDlgItem(app.panel_window, 1003);
    int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char line[256] = {};
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        lines.push_back(line);
    }
    return lines;
}

void GuiTest::menu_command(int command) {
    SendMessageA(app.main_window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void GuiTest::click(int id, WORD notification) {
    SendMessageA(app.panel_window, WM_COMMAND, MAKEWPARAM(id, notification),
                 reinterpret_cast<LPARAM>(GetDlgItem(app.panel_window, id)));
}

void GuiTest::select_recording(int line) {
    SendMessageA(GetDlgItem(app.panel_window, 1003), LB_SETCURSEL, line, 0);
    click(1003, LBN_SELCHANGE);
}

std::string GuiTest::new_folder(const char* name) {
    std::string folder = run_folder() + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool start_program(const std::string& program, const std::string& arguments,
                   const std::string& output, PROCESS_INFORMATION* process) {
    std::string exe = program;
    if (!exe.empty() && exe[0] == '/') exe = "Z:" + exe;
    std::string command = "\"" + exe + "\" " + arguments;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    *process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup, process);
    CloseHandle(out);
    return started != 0;
}

#if defined(QUARROW_CLI_PATH)
// Runs the command-line program with its output in a file; gives its exit code (-1 when it could
// not start).
int run_cli(const std::string& arguments, const std::string& output) {
    PROCESS_INFORMATION process;
    if (!start_program(QUARROW_CLI_PATH, arguments, output, &process)) return -1;
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

#endif

}  // namespace quarrow::ui::test
