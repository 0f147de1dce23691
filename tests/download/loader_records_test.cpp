// The record of loaders left listening: what one object writes, another one
// (a later run of the tool) reads; ports do not disturb each other; a place
// that cannot be written still protects the jobs of this run.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

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
// that the file cannot hold, the record still stands for this object, and
// Set says that later runs will not see it.
TEST_F(LoaderRecordsTest, KeptInMemoryWhatTheFileCannotTake) {
  const struct {
    const char* name;
    void (*spoil)(const fs::path& folder, const std::string& file);
  } places[] = {
      {"the folder may not be written, or is a plain file",
       [](const fs::path& folder, const std::string&) {
         fs::create_directories(folder);
         if (::geteuid() != 0) {
           fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
         } else {
           // root writes anywhere: a plain file where the folder should be stops it.
           std::ofstream(folder / "SavePath") << "";
         }
       }},
      {"a folder where the record should be",
       [](const fs::path&, const std::string& file) { fs::create_directories(file); }},
  };
  for (const auto& place : places) {
    SCOPED_TRACE(place.name);
    place.spoil(folder, File());
    LoaderRecords records(File());
    EXPECT_FALSE(records.Set("/dev/ttyUSB0", CONTROL_BOARD));
    EXPECT_EQ(records.Get("/dev/ttyUSB0"), CONTROL_BOARD);
    EXPECT_EQ(LoaderRecords(File()).Get("/dev/ttyUSB0"), NO_BOARD);
    EXPECT_FALSE(records.Set("/dev/ttyUSB0", NO_BOARD));
    EXPECT_EQ(records.Get("/dev/ttyUSB0"), NO_BOARD);
    TearDown();
  }

  LoaderRecords writable((folder.string() + "-ok/LoaderState.txt"));
  EXPECT_FALSE(writable.Set("/tmp/odd\nname", CAMERA_BOARD));
  EXPECT_EQ(writable.Get("/tmp/odd\nname"), CAMERA_BOARD);
  EXPECT_EQ(writable.Get("name"), NO_BOARD);  // no line injected into the file
  EXPECT_EQ(LoaderRecords(writable.File()).Get("name"), NO_BOARD);
  fs::remove_all(folder.string() + "-ok");

  // Records kept in memory only, by design, are kept as asked.
  LoaderRecords memory;
  EXPECT_TRUE(memory.Set("/dev/ttyUSB0", CAMERA_BOARD));
  EXPECT_EQ(memory.Get("/dev/ttyUSB0"), CAMERA_BOARD);
}

// A port has several names: a COM link in the COM folder and the device it
// leads to. A record made under one is found under every other, by this
// object and by a later run; a record that an earlier version kept under
// the name it was given still counts, and clearing the port clears it.
TEST_F(LoaderRecordsTest, AnyNameOfThePortFindsItsRecord) {
  fs::create_directories(folder / "dev");
  fs::create_directories(folder / "com");
  const std::string device = (folder / "dev" / "pts3").string();
  const std::string link = (folder / "com" / "COM7").string();
  std::ofstream(device) << "";
  fs::create_symlink(device, link);

  const struct {
    const char* name;
    std::string setUnder, getUnder;
  } cases[] = {
      {"set under the link, asked by the device path", link, device},
      {"set under the device path, asked by the link", device, link},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoaderRecords records(File());
    ASSERT_TRUE(records.Set(c.setUnder, CONTROL_BOARD));
    EXPECT_EQ(records.Get(c.getUnder), CONTROL_BOARD);
    EXPECT_EQ(LoaderRecords(File()).Get(c.getUnder), CONTROL_BOARD);
    ASSERT_TRUE(records.Set(c.getUnder, NO_BOARD));
    EXPECT_EQ(LoaderRecords(File()).Get(c.setUnder), NO_BOARD);
  }

  // A file that an earlier version wrote, keyed by the name it was given.
  std::ofstream(File(), std::ios::trunc) << "1 " << link << "\n";
  LoaderRecords old(File());
  EXPECT_EQ(old.Get(link), CAMERA_BOARD);
  ASSERT_TRUE(old.Set(link, NO_BOARD));
  EXPECT_EQ(LoaderRecords(File()).Get(link), NO_BOARD);

  // A name that is not a path here (a Windows device name) is kept as given.
  LoaderRecords windows(File());
  ASSERT_TRUE(windows.Set("\\\\.\\COM3", CAMERA_BOARD));
  std::ifstream in(File());
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "1 \\\\.\\COM3\n");
}

}  // namespace

// Processes that write the record at the same moment (the window and two
// runs of the command line, each on its own port) lose none of each other's
// records: each writer's read-modify-write is whole.
namespace {

constexpr int kWriters = 2;
constexpr int kDevicesPerWriter = 5;
constexpr int kSetsPerWriter = 200;

std::string WriterDevice(int writer, int device) {
  return "/dev/lumo-writer" + std::to_string(writer) + "-port" + std::to_string(device);
}

// The board set last on a device, and on the way there both boards.
int32_t BoardOfSet(int set) { return (set / kDevicesPerWriter) % 2 == 0 ? CAMERA_BOARD : CONTROL_BOARD; }

// Waits for the child with a bound; one that has not ended by then is killed.
bool EndedWell(pid_t child, std::chrono::seconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return false;
    }
    // Waits for a real process (the writer child) to end, up to the deadline.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST_F(LoaderRecordsTest, WritersAtTheSameTimeLoseNothing) {
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = fork();
    if (child == 0) {
      close(gate[1]);
      char c;
      // All start together: when the parent closes the gate.
      if (read(gate[0], &c, 1) != 0) _exit(2);
      LoaderRecords records(File());
      int failed = 0;
      for (int set = 0; set < kSetsPerWriter; ++set) {
        if (!records.Set(WriterDevice(w, set % kDevicesPerWriter), BoardOfSet(set))) ++failed;
      }
      // One cleared at the end: a clear is kept as well as a set.
      if (!records.Set(WriterDevice(w, 0), NO_BOARD)) ++failed;
      _exit(failed == 0 ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    writers.push_back(child);
  }
  close(gate[0]);
  close(gate[1]);
  for (pid_t child : writers) EXPECT_TRUE(EndedWell(child, std::chrono::seconds(120))) << "a Set failed, or hung";

  LoaderRecords later(File());
  for (int w = 0; w < kWriters; ++w) {
    SCOPED_TRACE("writer " + std::to_string(w));
    EXPECT_EQ(later.Get(WriterDevice(w, 0)), NO_BOARD);
    for (int d = 1; d < kDevicesPerWriter; ++d) {
      EXPECT_EQ(later.Get(WriterDevice(w, d)), BoardOfSet(kSetsPerWriter - kDevicesPerWriter + d)) << "device " << d;
    }
  }
}
