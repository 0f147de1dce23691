// The worker's checks before anything goes on the line, run on the test's own
// thread: nothing here needs the port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "CaseName.h"
#include "DownloadJob.h"
#include "PortlessJob.h"
#include "TestContext.h"
#include "Worker.h"

namespace {

namespace fs = std::filesystem;

struct WorkerCase {
  const char* name;
  int dsp, cm, motor;
  long long dspSize, cmSize, motorSize;  // sizes, or one of the kinds below
  std::vector<std::string> messages;
};

void PrintTo(const WorkerCase& c, std::ostream* os) { *os << c.name; }

// Paths that name no regular file.
constexpr long long NO_FILE = -1, FOLDER = -2, FIFO = -3, DEVICE = -4, SOCKET = -5;

// A socket node bound at path; the descriptor stays open while the test runs.
int BindSocket(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class WorkerChecks : public testing::TestWithParam<WorkerCase> {};

TEST_P(WorkerChecks, RefuseBeforeSendingAnything) {
  const WorkerCase& c = GetParam();
  const fs::path folder = fs::temp_directory_path() / ("lumo-worker-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  lumo_test::RecordingUI ui;
  lumo_test::PortlessJob job(&ui);
  JobContext& form = job.form;
  const long long sizes[] = {c.dspSize, c.cmSize, c.motorSize};
  std::vector<int> sockets;
  for (int i = 0; i < 3; ++i) {
    fs::path path = folder / ("image" + std::to_string(i));
    fs::remove_all(path);
    if (sizes[i] == FOLDER) fs::create_directory(path);
    // A FIFO without a writer: an ordinary open would wait for one for ever.
    if (sizes[i] == FIFO) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    if (sizes[i] == DEVICE) path = "/dev/zero";
    if (sizes[i] == SOCKET) {
      sockets.push_back(BindSocket(path));
      ASSERT_GE(sockets.back(), 0);
    }
    if (sizes[i] >= 0) {
      // Sparse: large sizes cost nothing on disk.
      std::FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fclose(f);
      fs::resize_file(path, static_cast<uintmax_t>(sizes[i]));
    }
    form.Request.Targets[i].Path = path.string();
  }
  // The worker runs on a thread of its own, so that a blocking open fails
  // the test instead of hanging it.
  form.Request.Targets[DSP_PATH].Selected = c.dsp;
  form.Request.Targets[CM_PATH].Selected = c.cm;
  form.Request.Targets[MOTOR_PATH].Selected = c.motor;
  form.Download_Active = true;
  auto worker = std::async(std::launch::async, [&form] { DownloadThread(&form); });
  if (worker.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the worker blocked in an open";
    // A writer releases an open that waits on a FIFO, so the test ends.
    for (int i = 0; i < 3; ++i) {
      const int fd = ::open((folder / ("image" + std::to_string(i))).c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
  }
  worker.get();
  EXPECT_EQ(ui.Messages(), c.messages);
  EXPECT_TRUE(ui.Statuses().empty());  // neither a percentage nor "100 %"
  EXPECT_FALSE(form.Download_Active.load());
  EXPECT_FALSE(form.Worker_Busy.load());
  for (int fd : sockets) ::close(fd);
  fs::remove_all(folder);
}

const long long GiB = 1024LL * 1024 * 1024;

const WorkerCase CASES[] = {
    {"a folder is no image", 1, 0, 0, FOLDER, NO_FILE, NO_FILE, {"Open DSP FW File  Error !!", "Download Error !!"}},
    {"a FIFO is refused without blocking", 0, 1, 0, NO_FILE, FIFO, NO_FILE,
     {"Open Camera FW File  Error !!", "Download Error !!"}},
    {"a device is no image", 0, 0, 1, NO_FILE, NO_FILE, DEVICE, {"Open Control FW File  Error !!", "Download Error !!"}},
    {"a socket is no image", 1, 1, 0, 30000, SOCKET, NO_FILE, {"Open Camera FW File  Error !!", "Download Error !!"}},
    {"boards too large together for the 32-bit total", 0, 1, 1, NO_FILE, 2 * GiB - 1, GiB,
     {"Control Baord File Size Error !!", "Download Error !!"}},
    {"one image past 2 GiB", 0, 0, 1, NO_FILE, NO_FILE, 2 * GiB, {"Control Baord File Size Error !!", "Download Error !!"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, WorkerChecks, testing::ValuesIn(CASES), lumo_test::NameOfCase());

}  // namespace
