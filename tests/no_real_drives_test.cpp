// No test may reach a real drive of the machine: before any test runs, the drive table is
// replaced by an empty QUARROW_DRIVES, so a test that forgets to name its own temporary drives
// finds none (under Wine run as root, drive 0 would otherwise be the host's own disk).
#include <gtest/gtest.h>

#include "disk/drive_list.h"
#include "disk/sector_access.h"
#include "support/temp_files.h"

namespace {

class NoRealDrives : public ::testing::Environment {
  public:
    void SetUp() override {
        drives_ =
            new quarrow::test::ScopedEnv("QUARROW_DRIVES", quarrow::test::no_drives().c_str());
    }
    void TearDown() override { delete drives_; }

  private:
    quarrow::test::ScopedEnv* drives_ = nullptr;
};

::testing::Environment* const no_real_drives =
    ::testing::AddGlobalTestEnvironment(new NoRealDrives);

}  // namespace

TEST(NoRealDrives, TestsSeeAnEmptyDriveTable) {
    char path[256];
    EXPECT_FALSE(quarrow::physical_drive_path(0, path, sizeof path));
    EXPECT_EQ(quarrow::open_physical_drive(0, false), nullptr);
}
