// The record of loaders left listening: what one object writes, another one
// (a later run of the tool) reads; ports do not disturb each other; a place
// that cannot be written still protects the jobs of this run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "LoaderRecords.h"

namespace {

namespace fs = std::filesystem;

class LoaderRecordsTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("lumo-records-" + std::to_string(::getpid()) + "-" +
                                          testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, ignored);
    fs::remove_all(folder, ignored);
  }
  std::string File() const { return (folder / "SavePath" / "LoaderState.txt").string(); }

  fs::path folder;
};

TEST_F(LoaderRecordsTest, OutliveTheObjectPerDevice) {
  {
    LoaderRecords records(File());
    EXPECT_EQ(records.Get("/dev/ttyUSB0"), NO_BOARD);  // nothing there yet, and nothing created by asking
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(records.Set("/dev/ttyUSB0", CAMERA_BOARD));
    EXPECT_TRUE(records.Set("/dev/ttyS0", CONTROL_BOARD));
    EXPECT_TRUE(records.Set("/tmp/com dir/COM3", CAMERA_BOARD));  // blanks in a path are kept
  }
  LoaderRecords later(File());
  EXPECT_EQ(later.Get("/dev/ttyUSB0"), CAMERA_BOARD);
  EXPECT_EQ(later.Get("/dev/ttyS0"), CONTROL_BOARD);
  EXPECT_EQ(later.Get("/tmp/com dir/COM3"), CAMERA_BOARD);
  EXPECT_EQ(later.Get("/dev/ttyUSB1"), NO_BOARD);

  EXPECT_TRUE(later.Set("/dev/ttyUSB0", NO_BOARD));
  EXPECT_EQ(LoaderRecords(File()).Get("/dev/ttyUSB0"), NO_BOARD);
  EXPECT_EQ(LoaderRecords(File()).Get("/dev/ttyS0"), CONTROL_BOARD);
}

TEST_F(LoaderRecordsTest, LinesThatAreNoRecordAreSkipped) {
  fs::create_directories(fs::path(File()).parent_path());
  std::ofstream(File()) << "garbage\n7 /dev/ttyS1\n\n2 /dev/ttyS2\n1x/dev/ttyS3\n1 /dev/ttyS4";
  LoaderRecords records(File());
  EXPECT_EQ(records.Get("/dev/ttyS1"), NO_BOARD);
  EXPECT_EQ(records.Get("/dev/ttyS2"), CONTROL_BOARD);
  EXPECT_EQ(records.Get("/dev/ttyS3"), NO_BOARD);
  EXPECT_EQ(records.Get("/dev/ttyS4"), CAMERA_BOARD);  // the last line needs no line break
}

// Where the file cannot be written, and for a device path with a line break
// that the file cannot hold, the record still stands for this object.
TEST_F(LoaderRecordsTest, KeptInMemoryWhatTheFileCannotTake) {
  fs::create_directories(folder);
  if (::geteuid() != 0) {
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  } else {
    // root writes anywhere: a plain file where the folder should be stops it.
    std::ofstream(folder / "SavePath") << "";
  }
  LoaderRecords records(File());
  EXPECT_FALSE(records.Set("/dev/ttyUSB0", CONTROL_BOARD));
  EXPECT_EQ(records.Get("/dev/ttyUSB0"), CONTROL_BOARD);
  EXPECT_FALSE(records.Set("/dev/ttyUSB0", NO_BOARD));
  EXPECT_EQ(records.Get("/dev/ttyUSB0"), NO_BOARD);

  LoaderRecords writable((folder.string() + "-ok/LoaderState.txt"));
  EXPECT_FALSE(writable.Set("/tmp/odd\nname", CAMERA_BOARD));
  EXPECT_EQ(writable.Get("/tmp/odd\nname"), CAMERA_BOARD);
  EXPECT_EQ(writable.Get("name"), NO_BOARD);  // no line injected into the file
  EXPECT_EQ(LoaderRecords(writable.File()).Get("name"), NO_BOARD);
  fs::remove_all(folder.string() + "-ok");
}

}  // namespace
