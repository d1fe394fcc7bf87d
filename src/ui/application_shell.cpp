#include "ui/application_shell.h"

#include <commctrl.h>
#include <commdlg.h>

#include "fs/disk_detection.h"
#include "resources/resource.h"
#include "ui/app_state.h"
#include "ui/background_work.h"
#include "ui/control_helpers.h"
#include "ui/extraction_panel.h"
#include "ui/extras_menu.h"
#include "ui/message_boxes.h"
#include "ui/panel_rules.h"
#include "ui/settings.h"
#include "ui/tool_windows.h"

namespace quarrow::ui {
namespace {

// Resizable and minimisable, without a maximise box: the panel has one fixed layout.
constexpr DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;

bool write_switch_on() {
    return menu_is_checked(app.main_window, IDM_ALLOW_DISK_WRITE) == 1;
}

void open_image_command() {
    char file[PATH_SIZE] = {};
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = app.main_window;
    request.lpstrFilter = "Disk Image (*.hex)\0*.hex\0All Files\0*.*\0";
    request.nFilterIndex = 1;
    request.lpstrFile = file;
    request.nMaxFile = PATH_SIZE;
    request.lpstrTitle = "Select a MediaMaster Image file:";
    request.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!system_dialogs.open_file(&request)) return;

    close_open_disk();
    char message[MESSAGE_SIZE] = {};
    app.disk =
        open_disk_image(&app.recording_count, app.recordings, write_switch_on(), message, file);
    // A refused image leaves no disk, and the dump's limit must not outlive it.
    app.disk_size_mb = app.disk ? image_size_mb(app.disk) : 0;
    set_status(message);
    refresh_panel();
}

void exit_command() {
    close_open_disk();
    DestroyWindow(app.main_window);
}

void write_switch_command() {
    DWORD new_value;
    if (write_switch_on()) {
        menu_uncheck(app.main_window, IDM_ALLOW_DISK_WRITE);
        new_value = 0;
    } else {
        if (!ask_confirmation(app.main_window,
                              "Are you sure you want to allow WRITE ACCESS to your MediaMaster "
                              "disk?")) {
            write_setting(0, SETTING_ALLOW_DISK_WRITE);
            return;
        }
        menu_check(app.main_window, IDM_ALLOW_DISK_WRITE);
        new_value = 1;
    }
    // The disk is found again and opened with the new access; an open image is replaced by the
    // result of the physical scan.
    close_open_disk();
    rescan_disk();
    write_setting(new_value, SETTING_ALLOW_DISK_WRITE);
}

void erase_switch_command() {
    if (menu_is_checked(app.main_window, IDM_ALLOW_DISK_ERASE)) {
        menu_uncheck(app.main_window, IDM_ALLOW_DISK_ERASE);
        return;
    }
    if (ask_confirmation(app.main_window,
                         "Are you sure you want to allow WRITE ACCESS to ALL your local disk?"))
        menu_check(app.main_window, IDM_ALLOW_DISK_ERASE);
}

// The Tools commands: the platform and disk gates first, then the window.
void tool_command(int command, void (*open_window)(HWND)) {
    switch (command_gate(command, can_reach_raw_drives(), app.disk != nullptr)) {
        case CommandGate::NtOnly:
            show_info(app.main_window, "This option is only available for Windows NT/2000/XP");
            return;
        case CommandGate::NeedsDisk:
            show_info(app.main_window,
                      "A MediaMaster Disk must be detected before you can use this option.");
            return;
        case CommandGate::Run:
            break;
    }
    // The protection notes inform; they do not stop the command.
    if (command == IDM_MANAGE_RECORDINGS && !write_switch_on())
        show_info(app.main_window,
                  "Note: Your MediaMaster disk is write-protected (Protection Menu).");
    if (command == IDM_ERASE_DISK && !menu_is_checked(app.main_window, IDM_ALLOW_DISK_ERASE))
        show_info(app.main_window, "Note: Your disks are write-protected (Protection Menu).");
    open_window(app.main_window);
    if (command == IDM_MANAGE_RECORDINGS) {
        // The window may have moved, renamed or deleted recordings: show the list and the
        // selected recording again, so that the range and the buttons follow the new list.
        refresh_panel();
    }
}

// Closing while a long operation runs: asked, and on Yes the operation is cancelled and the
// window closes once it has stopped at its safe point (run_message_loop), never mid-write.
bool close_pending = false;

void close_during_work() {
    if (close_pending) return;
    if (!ask_confirmation(app.main_window, CLOSE_DURING_WORK_QUESTION)) return;
    close_pending = true;
    cancel_background_work();
}

bool handle_command(int command) {
    // While a long operation runs, the menu may show, but nothing may touch the disk or the
    // recordings it uses; Exit asks as closing does.
    if (background_work_running()) {
        if (command == IDM_EXIT) close_during_work();
        if (command == IDM_ABOUT) open_about_box(app.main_window);
        return true;
    }
    switch (command) {
        case IDM_SCAN_DISK:
            rescan_disk();
            return true;
        case IDM_OPEN_IMAGE:
            open_image_command();
            return true;
        case IDM_EXIT:
            exit_command();
            return true;
        case IDM_MANAGE_RECORDINGS:
            tool_command(command, open_recording_management);
            return true;
        case IDM_DIAGNOSTICS:
            tool_command(command, open_diagnostics);
            return true;
        case IDM_DUMP_DISK:
            tool_command(command, open_dump_dialog);
            return true;
        case IDM_ERASE_DISK:
            tool_command(command, open_disk_erase);
            return true;
        case IDM_ALLOW_DISK_WRITE:
            write_switch_command();
            return true;
        case IDM_ALLOW_DISK_ERASE:
            erase_switch_command();
            return true;
        case IDM_ABOUT:
            open_about_box(app.main_window);
            return true;
        default:
            return handle_extras_command(command);
    }
}

}  // namespace

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_CLOSE:
            if (background_work_running()) {
                close_during_work();
                return 0;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (app.panel_window)
                MoveWindow(app.panel_window, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return 0;
        case WM_SETFOCUS:
            if (app.panel_window) SetFocus(app.panel_window);
            return 0;
        case WM_COMMAND:
            if (handle_command(LOWORD(wparam))) return 0;
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND start_application(HINSTANCE instance, int show) {
    app.instance = instance;
    LoadStringA(instance, IDS_WINDOW_TITLE, app.window_title, RESOURCE_TEXT_SIZE);
    LoadStringA(instance, IDS_CLASS_NAME, app.class_name, RESOURCE_TEXT_SIZE);

    // The panel's trackbar and progress bar are common controls.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUARROW));
    window_class.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_QUARROW_SMALL), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    window_class.lpszClassName = app.class_name;
    RegisterClassExA(&window_class);

    app.main_window = CreateWindowExA(0, app.class_name, app.window_title, MAIN_WINDOW_STYLE,
                                      CW_USEDEFAULT, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!app.main_window) return nullptr;
    // The panel sizes the main window to itself while it initialises.
    CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PANEL), app.main_window, panel_dialog_proc,
                       0);

    ShowWindow(app.main_window, show);
    ShowWindow(app.panel_window, SW_SHOW);
    UpdateWindow(app.main_window);
    UpdateWindow(app.panel_window);
    set_status("Initializing...");

    char path[PATH_SIZE];
    read_default_path(path, PATH_SIZE);
    set_path_text(path);
    DWORD value;
    read_setting(&value, SETTING_AUDIO_TYPE);
    check_audio_button(value);
    read_setting(&value, SETTING_ALLOW_DISK_WRITE);
    if (switch_is_on(value)) menu_check(app.main_window, IDM_ALLOW_DISK_WRITE);
    read_setting(&value, SETTING_ALLOW_DISK_ERASE);
    if (switch_is_on(value)) menu_check(app.main_window, IDM_ALLOW_DISK_ERASE);
    set_panel_defaults();
    load_extras_settings();

    char message[MESSAGE_SIZE] = {};
    app.disk = detect_disk(&app.recording_count, app.recordings, write_switch_on(), message);
    app.disk_size_mb = app.disk ? static_cast<uint32_t>(drive_size_mb(app.disk)) : 0;
    set_status(message);
    refresh_panel();
    return app.main_window;
}

void close_if_pending() {
    if (!close_pending || background_work_running()) return;
    close_pending = false;
    exit_command();
}

int run_message_loop(HACCEL accelerators) {
    MSG message;
    // GetMessage gives -1 on a failure of its own: that ends the loop as well, instead of
    // spinning on it.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(app.main_window, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
        close_if_pending();
    }
    return static_cast<int>(message.wParam);
}

int run_application(HINSTANCE instance, int show) {
    if (!start_application(instance, show)) return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    return run_message_loop(accelerators);
}

}  // namespace quarrow::ui
