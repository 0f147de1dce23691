// The job's one entry point, as any front end calls it: a request and an
// observer in, an outcome out; and two jobs on two ports at once, which
// share nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DownloadJob.h"
#include "SampleImages.h"
#include "SimUnit.h"
#include "TestContext.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using sim::UnitPart;

class ImageFolder {
 public:
  ImageFolder() : path_(fs::temp_directory_path() / ("lumo-engine-" + std::to_string(::getpid()) + "-" +
                                                     std::to_string(counter_++))) {
    fs::create_directories(path_);
  }
  ~ImageFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Write(const char* name, const Bytes& bytes) const {
    const std::string file = (path_ / name).string();
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return file;
  }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// One unit, its port and a job on it, as a front end would hold them.
struct Station {
  explicit Station(sim::SimOptions options = {}) : unit(options), session(*ports), job(session, &ui) {}
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory();
  sim::SimUnit unit;
  lumo_test::RecordingUI ui;
  JobSession session;
  TDownloadJob job;

  JobRequest Request(int32_t rate = 9600) const {
    JobRequest request;
    request.Device = unit.SlavePath();
    request.User_BaudRate = rate;
    return request;
  }
};

TEST(DownloadEngine, TwoJobsOnTwoPortsAtOnce) {
  ImageFolder images;
  const Bytes dsp = sim::MakeSampleDspImage(0x10203040);
  const Bytes cmA = sim::MakeSampleBoardImage(700, 11), motorA = sim::MakeSampleBoardImage(900, 12);
  const Bytes cmB = sim::MakeSampleBoardImage(1300, 21), motorB = sim::MakeSampleBoardImage(500, 22);

  Station a;
  sim::SimOptions atNineteen;
  atNineteen.CameraRate = 19200;  // b's camera works at the rate its request names
  Station b(atNineteen);
  JobRequest requestA = a.Request();
  requestA.Targets[CM_PATH] = {true, images.Write("cm-a.bin", cmA)};
  requestA.Targets[MOTOR_PATH] = {true, images.Write("motor-a.bin", motorA)};
  JobRequest requestB = b.Request(19200);
  requestB.Targets[DSP_PATH] = {true, images.Write("dsp-b.bin", dsp)};
  requestB.Targets[CM_PATH] = {true, images.Write("cm-b.bin", cmB)};
  requestB.Targets[MOTOR_PATH] = {true, images.Write("motor-b.bin", motorB)};

  JobOutcome outcomeA, outcomeB;
  std::thread frontA([&] { outcomeA = RunDownloadJob(&a.job, requestA); });
  std::thread frontB([&] { outcomeB = RunDownloadJob(&b.job, requestB); });
  frontA.join();
  frontB.join();

  EXPECT_TRUE(outcomeA.Success) << outcomeA.Message;
  EXPECT_TRUE(outcomeB.Success) << outcomeB.Message;
  EXPECT_TRUE(a.ui.Messages().empty());
  EXPECT_TRUE(b.ui.Messages().empty());
  for (Station* s : {&a, &b}) {
    const std::vector<std::string> statuses = s->ui.Statuses();
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[statuses.size() - 2], "100 %");
    EXPECT_EQ(statuses.back(), "Ready");
  }
  EXPECT_EQ(a.unit.Flash(UnitPart::CameraBoardLoader), cmA);
  EXPECT_EQ(a.unit.Flash(UnitPart::ControlBoardLoader), motorA);
  EXPECT_EQ(b.unit.Flash(UnitPart::CameraBoardLoader), cmB);
  EXPECT_EQ(b.unit.Flash(UnitPart::ControlBoardLoader), motorB);
  const Bytes memory = b.unit.DspMemory();
  EXPECT_TRUE(std::equal(memory.begin(), memory.end(), dsp.begin() + sim::DSP_HEADER_SIZE));
  const Bytes untouched = a.unit.DspMemory();
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t x) { return x == 0xFF; }));
}

// What a front end learns from the outcome alone, without reading texts.
TEST(DownloadEngine, OutcomeTellsSuccessOrTheMessageThatEndedTheJob) {
  ImageFolder images;
  struct Case {
    const char* name;
    bool openable;
    bool selectDsp;
    Bytes dsp;
    bool success;
    std::string message;
  } cases[] = {
      {"the port does not open", false, true, sim::MakeSampleDspImage(), false, "Comport cannot open!!"},
      {"nothing selected", true, false, {}, false, "Download Error !!"},
      {"a wrong DSP image", true, true, Bytes(40000, 0x01), false, "This is not DSP File !!"},
      {"the DSP loaded", true, true, sim::MakeSampleDspImage(), true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Station s;
    JobRequest request = s.Request();
    if (!c.openable) request.Device = "/nonexistent/ttyS9";
    request.Targets[DSP_PATH] = {c.selectDsp, images.Write("dsp.bin", c.dsp)};
    const JobOutcome outcome = RunDownloadJob(&s.job, request);
    EXPECT_EQ(outcome.Success, c.success);
    EXPECT_EQ(outcome.Message, c.message);
    const std::vector<std::string> statuses = s.ui.Statuses();
    if (c.openable) {
      ASSERT_FALSE(statuses.empty());
      EXPECT_EQ(statuses.back(), "Ready");
    } else {
      EXPECT_TRUE(statuses.empty());
    }
  }
}

}  // namespace
