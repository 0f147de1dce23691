// The worker's checks before anything goes on the line, run on the test's own
// thread: nothing here needs the port.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "TestContext.h"

namespace {

namespace fs = std::filesystem;

struct WorkerCase {
  const char* name;
  int dsp, cm, motor;
  long long dspSize, cmSize, motorSize;  // -1: no file; -2: a folder
  std::vector<std::string> messages;
};

void PrintTo(const WorkerCase& c, std::ostream* os) { *os << c.name; }

class WorkerChecks : public testing::TestWithParam<WorkerCase> {};

TEST_P(WorkerChecks, RefuseBeforeSendingAnything) {
  const WorkerCase& c = GetParam();
  const fs::path folder = fs::temp_directory_path() / ("lumo-worker-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  lumo_test::RecordingUI ui;
  const long long sizes[] = {c.dspSize, c.cmSize, c.motorSize};
  for (int i = 0; i < 3; ++i) {
    const fs::path path = folder / ("image" + std::to_string(i));
    fs::remove_all(path);
    if (sizes[i] == -2) fs::create_directory(path);
    if (sizes[i] >= 0) {
      // Sparse: large sizes cost nothing on disk.
      std::FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fclose(f);
      fs::resize_file(path, static_cast<uintmax_t>(sizes[i]));
    }
    ui.SetPathText(i, path.string());
  }
  TDownloadJobContext form;
  form.UI = &ui;
  form.DSP_Selected = c.dsp;
  form.CM_Selected = c.cm;
  form.Motor_Selected = c.motor;
  form.Download_Active = true;
  EXPECT_EQ(DownloadThread(&form), 0);
  EXPECT_EQ(ui.Messages(), c.messages);
  EXPECT_TRUE(ui.Statuses().empty());  // neither a percentage nor "100 %"
  EXPECT_FALSE(form.Download_Active.load());
  EXPECT_FALSE(form.Worker_Busy.load());
  fs::remove_all(folder);
}

const long long GiB = 1024LL * 1024 * 1024;

const WorkerCase CASES[] = {
    {"a folder is no image", 1, 0, 0, -2, -1, -1, {"Open DSP FW File  Error !!", "Download Error !!"}},
    {"boards too large together for the 32-bit total", 0, 1, 1, -1, 2 * GiB - 1, GiB,
     {"Control Baord File Size Error !!", "Download Error !!"}},
    {"one image past 2 GiB", 0, 0, 1, -1, -1, 2 * GiB, {"Control Baord File Size Error !!", "Download Error !!"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, WorkerChecks, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<WorkerCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
