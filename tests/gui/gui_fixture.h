// What every test of the Windows program shares: a registry key of its own for the settings, a
// temporary folder, QUARROW_DRIVES pointed at images (never at the machine's drives), message
// boxes and file dialogs answered by the test, and the program's windows torn down after each
// test.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/disk_builder.h"

namespace quarrow::ui::test {

struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

// The sample disk image, written once per run into the run's temporary folder.
const std::string& sample_image_path();
// A temporary folder for the whole run (ends with a backslash).
const std::string& run_folder();

// Writes a disk image into the given path; false on failure.
bool write_image(quarrow::test::TestDisk& disk, const std::string& path);
std::vector<uint8_t> file_bytes(const std::string& path);
bool file_exists(const std::string& path);

// Starts program (a Unix path is reached through Z:) with arguments, its output and errors in
// the file output; false when it could not start. The caller waits for and closes process.
bool start_program(const std::string& program, const std::string& arguments,
                   const std::string& output, PROCESS_INFORMATION* process);

#if defined(QUARROW_CLI_PATH)
// Runs the command-line program with its output in a file; gives its exit code (-1 when it could
// not start).
int run_cli(const std::string& arguments, const std::string& output);
#endif

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Start-up of the program up to its message loop; the main window. Hidden unless asked:
    // under Wine on a bare X server, showing a new top-level window waits about two seconds.
    HWND start(int show = SW_HIDE);
    // The physical drives of this test: image paths, ';'-separated; none when empty.
    void set_drives(const std::string& drives);

    // Settings written straight into the test's registry key, before start-up.
    void store_dword(const char* name, DWORD value);
    void store_string(const char* name, const std::string& value, DWORD size);
    bool stored_dword(const char* name, DWORD* value);

    std::string item_text(int id);
    bool checked(int id);
    bool enabled(int id);
    bool visible(int id);
    bool menu_checked(int command);
    bool menu_grayed(int command);
    std::vector<std::string> list_lines();

    // A menu command or a panel control, as a click sends it.
    void menu_command(int command);
    void click(int id, WORD notification = BN_CLICKED);
    void select_recording(int line);

    // A fresh folder under the run folder (ends without a backslash).
    std::string new_folder(const char* name);

  public:
    // Read and set by the stand-ins of the message boxes and dialogs.
    std::string folder_;  // this test's own temporary folder
    std::vector<ShownBox> boxes_;
    // Answers for the message boxes, in order; when empty, OK boxes get IDOK and the
    // confirmation IDCANCEL (what Escape gives).
    std::deque<int> answers_;
    // Runs inside the next message box, while the program waits for it.
    std::function<void(const ShownBox&)> on_box_;
    // The file chosen in the next open dialog; empty cancels.
    std::string open_file_answer_;
    OPENFILENAMEA last_open_request_ = {};
    std::string last_open_title_;
    std::string folder_answer_;  // empty cancels the folder browser
    std::string last_folder_title_;

  private:
    std::string key_;
};

}  // namespace quarrow::ui::test
