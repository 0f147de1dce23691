// The job's one entry point, as any front end calls it: a request and an
// observer in, an outcome out (in virtual time); and two jobs on two ports at
// once, which share nothing (real threads on pseudo-terminals).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "DownloadJob.h"
#include "SampleImages.h"
#include "SimUnit.h"
#include "TestContext.h"
#include "TestPortConfig.h"
#include "VirtualJob.h"

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
  std::unique_ptr<PortFactory> ports = lumo_test::MakeTestPortFactory();
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

// Two whole jobs at once, each with its own threads, port, rate and image:
// the DSP alone, which needs none of the loaders' 2000 ms pauses.
TEST(DownloadEngine, TwoJobsOnTwoPortsAtOnce) {
  ImageFolder images;
  const Bytes dspA = sim::MakeSampleDspImage(0x10203040, 1), dspB = sim::MakeSampleDspImage(0x50607080, 2);
  ASSERT_NE(dspA, dspB);

  Station a;
  sim::SimOptions atNineteen;
  atNineteen.CameraRate = 19200;  // b's camera works at the rate its request names
  Station b(atNineteen);
  JobRequest requestA = a.Request();
  requestA.Targets[DSP_PATH] = {true, images.Write("dsp-a.bin", dspA)};
  JobRequest requestB = b.Request(19200);
  requestB.Targets[DSP_PATH] = {true, images.Write("dsp-b.bin", dspB)};

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
    EXPECT_TRUE(s->unit.Flash(UnitPart::CameraBoardLoader).empty());
    EXPECT_TRUE(s->unit.Flash(UnitPart::ControlBoardLoader).empty());
  }
  EXPECT_EQ(a.unit.DspMemory(), lumo_test::DspBody(dspA));
  EXPECT_EQ(b.unit.DspMemory(), lumo_test::DspBody(dspB));
}

using lumo_test::VirtualBench;

// What a front end learns from the outcome alone, without reading texts.
TEST(DownloadEngine, OutcomeTellsHowTheJobEndedAndEveryMessage) {
  ImageFolder images;
  const sim::Fault eraseFails{sim::FaultKind::FlashFailure, UnitPart::CameraBoardLoader, 0x21};
  struct Case {
    const char* name;
    bool openable;
    PathIndex target;
    Bytes image;
    std::vector<sim::Fault> faults;
    JobEnd end;
    std::vector<std::string> messages;
  } cases[] = {
      {"the port does not open", false, DSP_PATH, sim::MakeSampleDspImage(), {}, JobEnd::PortNotOpened,
       {"Comport cannot open!!"}},
      {"an image that cannot be read", true, MOTOR_PATH, {}, {}, JobEnd::Refused,
       {"Control Baord File Size Error !!", "Download Error !!"}},
      {"a wrong DSP image", true, DSP_PATH, Bytes(40000, 0x01), {}, JobEnd::Refused, {"This is not DSP File !!"}},
      {"the board's erase fails", true, CM_PATH, sim::MakeSampleBoardImage(300), {eraseFails}, JobEnd::LineFailure,
       {"Erase Flash Error !!"}},
      {"the DSP loaded", true, DSP_PATH, sim::MakeSampleDspImage(), {}, JobEnd::Done, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::VirtualUnitOptions options;
    options.Faults = c.faults;
    VirtualBench bench(options);
    JobRequest request = VirtualBench::Request("", "", "");
    if (!c.openable) request.Device = "/nonexistent/ttyS9";
    request.Targets[c.target] = {true, images.Write("image.bin", c.image)};
    const JobOutcome outcome = bench.Run(request);
    EXPECT_EQ(outcome.Success, c.end == JobEnd::Done);
    EXPECT_EQ(outcome.End, c.end);
    EXPECT_EQ(outcome.Messages, c.messages);
    EXPECT_EQ(outcome.Message, c.messages.empty() ? "" : c.messages.back());
    const std::vector<std::string>& statuses = bench.ui.statuses;
    if (c.openable) {
      ASSERT_FALSE(statuses.empty());
      EXPECT_EQ(statuses.back(), "Ready");
    } else {
      EXPECT_TRUE(statuses.empty());
      EXPECT_EQ(bench.line.Opens(), 0);
    }
  }
}

// Each target's progress reports as the observer hears them.
struct ProgressLog {
  std::vector<std::pair<PathIndex, int32_t>> progress;
  int32_t lastPercent = -1;
  void Hook(VirtualBench& bench, std::function<void(PathIndex, int32_t)> then = {}) {
    bench.ui.OnProgress = [this, then](PathIndex target, int32_t percent, int32_t bytesDone) {
      if (!progress.empty() && progress.back().first == target) {
        EXPECT_GE(bytesDone, progress.back().second) << "bytes written never go back";
      }
      progress.emplace_back(target, bytesDone);
      lastPercent = percent;
      if (then) then(target, bytesDone);
    };
  }
};

TEST(DownloadEngine, ObserverHearsEachTargetItsBytesAndTheStatusBoxPercentage) {
  ImageFolder images;
  const Bytes dsp = sim::MakeSampleDspImage(), cm = sim::MakeSampleBoardImage(500, 3), motor = sim::MakeSampleBoardImage(230, 4);
  VirtualBench bench({});
  ProgressLog log;
  log.Hook(bench);
  ASSERT_TRUE(bench.Run(images.Write("dsp.bin", dsp), images.Write("cm.bin", cm), images.Write("motor.bin", motor)).Success);

  const std::string body = std::to_string(sim::DSP_BODY_SIZE);
  EXPECT_EQ(bench.ui.targets, (std::vector<std::string>{"start dsp " + body, "end dsp done", "start cm 500", "end cm done",
                                                         "start motor 230", "end motor done"}));
  // Each target's last report is its whole size; the percentage is the one
  // the status box showed last before "100 %".
  int32_t last[3] = {0, 0, 0};
  for (const auto& [target, bytes] : log.progress) last[target] = bytes;
  EXPECT_EQ(last[DSP_PATH], sim::DSP_BODY_SIZE);
  EXPECT_EQ(last[CM_PATH], 500);
  EXPECT_EQ(last[MOTOR_PATH], 230);
  const std::vector<std::string>& statuses = bench.ui.statuses;
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 3], std::to_string(log.lastPercent) + " %");
}

TEST(DownloadEngine, StopEndsTheJobAfterTheExchangeUnderWayAndWritesNothingMore) {
  ImageFolder images;
  const Bytes cm = sim::MakeSampleBoardImage(76 * 20, 5), motor = sim::MakeSampleBoardImage(300, 6);
  VirtualBench bench({});
  ProgressLog log;
  // The observer stops the job from its callback once five chunks are written.
  log.Hook(bench, [&bench](PathIndex target, int32_t bytesDone) {
    if (target == CM_PATH && bytesDone >= 76 * 5) bench.Entry().RequestStop();
  });
  const JobRequest request = VirtualBench::Request("", images.Write("cm.bin", cm), images.Write("motor.bin", motor));
  const JobOutcome outcome = bench.Run(request);

  EXPECT_EQ(outcome.End, JobEnd::Stopped);
  EXPECT_EQ(outcome.Messages, std::vector<std::string>{"Download Error !!"});
  EXPECT_EQ(bench.ui.targets, (std::vector<std::string>{"start cm 1520", "end cm failed"}));
  // The fifth chunk's exchange ended whole (its data packet was confirmed);
  // nothing went out after it, so the board holds exactly those chunks.
  EXPECT_EQ(bench.line.unit.Flash(UnitPart::CameraBoardLoader), Bytes(cm.begin(), cm.begin() + 76 * 5));
  EXPECT_TRUE(bench.line.unit.Flash(UnitPart::ControlBoardLoader).empty());
  ASSERT_FALSE(bench.ui.statuses.empty());
  EXPECT_EQ(bench.ui.statuses.back(), "Ready");
  const std::vector<std::string> sent = bench.Sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2], "SEND_DATA@115200") << "the last exchange was the fifth chunk's";
  EXPECT_EQ(sent.back(), "GET_STATUS@115200");

  // A stop that comes before the job opens no port.
  const size_t heard = bench.line.unit.Wire().size();
  const int opens = bench.line.Opens();
  const JobOutcome again = bench.RunAgain(request);
  EXPECT_EQ(again.End, JobEnd::Stopped);
  EXPECT_TRUE(again.Messages.empty());
  EXPECT_EQ(bench.line.Opens(), opens);
  EXPECT_EQ(bench.line.unit.Wire().size(), heard);
}

}  // namespace
