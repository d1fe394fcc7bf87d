// What the tests of the Recording Management window and the tool dialogs share: a writable disk
// image opened through the File menu, dialogs created from their templates around the program's
// own dialog procedures, the save dialog answered by the test, and a way to act inside a modal
// dialog that a menu command opened.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/gui_fixture.h"
#include "support/disk_builder.h"

namespace quarrow::ui::test {

// The offset of the first byte where two files differ, -1 when they are equal.
long long first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

class DialogTest : public GuiTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program with writing allowed (and the erase switch as asked) and opens the
    // image file through "Open a Disk Image".
    void start_with_image(const std::string& image, bool allow_erase = false);
    // Opens another image through "Open a Disk Image" (writing allowed).
    void open_image(const std::string& image);
    // Writes disk into this test's folder under name and gives its path.
    std::string make_image(quarrow::test::TestDisk& disk, const char* name);
    // A copy of an image file, for the same change made by the core operation.
    std::string copy_of(const std::string& image, const char* name);

    // A dialog made from template id around proc, owned by the main window, not shown; destroyed
    // after the test.
    HWND open_dialog(int id, DLGPROC proc);

    // Runs trigger (a menu command that opens a modal dialog) and, once the dialog with the
    // caption runs its loop, body with the dialog. The dialog is cancelled afterwards when the
    // body left it open. False when no such dialog came up.
    bool with_modal_dialog(const std::function<void()>& trigger, const char* caption,
                           const std::function<void(HWND)>& body);

    std::string text_of(HWND dialog, int id);
    bool is_enabled(HWND dialog, int id);
    bool is_checked(HWND dialog, int id);
    bool menu_is_grayed(HWND dialog, int command);
    std::vector<std::string> lines_of(HWND dialog, int id);
    int selected_line(HWND dialog, int id);
    // A click on a control of the dialog, as the control sends it (a button click, a list
    // notification, a menu command).
    void press(HWND dialog, int id, WORD notification = BN_CLICKED);
    // A line picked by the user: selected, then the selection notification.
    void pick_line(HWND dialog, int id, int line);
    // What typing into an edit box does: its text replaced, then the change notification.
    void type_into(HWND dialog, int id, const std::string& text);

    // Texts of the boxes shown since the last call, in order; clears the record.
    std::vector<std::string> box_texts();

  public:
    std::string save_file_answer_;  // empty cancels the save dialog
    OPENFILENAMEA last_save_request_ = {};
    std::string last_save_title_;
    std::string last_save_filter_;
    std::string last_save_initial_dir_;

  private:
    std::vector<HWND> dialogs_;
};

}  // namespace quarrow::ui::test
