// The job's one entry point, as any front end calls it: a request and an
// observer in, an outcome out; and two jobs on two ports at once, which
// share nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
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
    sim::SimOptions options;
    options.Faults = c.faults;
    Station s(options);
    JobRequest request = s.Request();
    if (!c.openable) request.Device = "/nonexistent/ttyS9";
    request.Targets[c.target] = {true, images.Write("image.bin", c.image)};
    const JobOutcome outcome = RunDownloadJob(&s.job, request);
    EXPECT_EQ(outcome.Success, c.end == JobEnd::Done);
    EXPECT_EQ(outcome.End, c.end);
    EXPECT_EQ(outcome.Messages, c.messages);
    EXPECT_EQ(outcome.Message, c.messages.empty() ? "" : c.messages.back());
    const std::vector<std::string> statuses = s.ui.Statuses();
    if (c.openable) {
      ASSERT_FALSE(statuses.empty());
      EXPECT_EQ(statuses.back(), "Ready");
    } else {
      EXPECT_TRUE(statuses.empty());
    }
  }
}

// An observer that hears of targets and their progress, and stops its job
// once a given number of bytes of a target is written.
class TargetObserver : public lumo_test::RecordingUI {
 public:
  TDownloadJob* job = nullptr;
  PathIndex stopIn = MOTOR_PATH;
  int32_t stopAfter = -1;

  void TargetStarted(PathIndex target, int32_t bytes, int32_t /*jobBytes*/) override { Add("start " + Name(target) + " " + std::to_string(bytes)); }
  void TargetEnded(PathIndex target, bool done) override { Add("end " + Name(target) + (done ? " done" : " failed")); }
  void ProgressMade(PathIndex target, int32_t percent, int32_t bytesDone) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (!progress_.empty() && progress_.back().first == target) {
      EXPECT_GE(bytesDone, progress_.back().second) << "bytes written never go back";
    }
    progress_.emplace_back(target, bytesDone);
    lastPercent_ = percent;
    if (job && target == stopIn && stopAfter >= 0 && bytesDone >= stopAfter) job->RequestStop();
  }
  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
  }
  std::vector<std::pair<PathIndex, int32_t>> Progress() const {
    std::lock_guard<std::mutex> hold(lock_);
    return progress_;
  }
  int32_t LastPercent() const {
    std::lock_guard<std::mutex> hold(lock_);
    return lastPercent_;
  }

 private:
  static std::string Name(PathIndex target) { return target == DSP_PATH ? "dsp" : target == CM_PATH ? "cm" : "motor"; }
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> hold(lock_);
    events_.push_back(event);
  }
  mutable std::mutex lock_;
  std::vector<std::string> events_;
  std::vector<std::pair<PathIndex, int32_t>> progress_;
  int32_t lastPercent_ = -1;
};

struct ObservedStation {
  std::unique_ptr<PortFactory> ports = lumo_test::MakeTestPortFactory();
  sim::SimUnit unit;
  TargetObserver ui;
  JobSession session{*ports};
  TDownloadJob job{session, &ui};
};

TEST(DownloadEngine, ObserverHearsEachTargetItsBytesAndTheStatusBoxPercentage) {
  ImageFolder images;
  const Bytes dsp = sim::MakeSampleDspImage(), cm = sim::MakeSampleBoardImage(500, 3), motor = sim::MakeSampleBoardImage(230, 4);
  ObservedStation s;
  JobRequest request;
  request.Device = s.unit.SlavePath();
  request.User_BaudRate = 9600;
  request.Targets[DSP_PATH] = {true, images.Write("dsp.bin", dsp)};
  request.Targets[CM_PATH] = {true, images.Write("cm.bin", cm)};
  request.Targets[MOTOR_PATH] = {true, images.Write("motor.bin", motor)};
  ASSERT_TRUE(RunDownloadJob(&s.job, request).Success);

  const std::string body = std::to_string(sim::DSP_BODY_SIZE);
  EXPECT_EQ(s.ui.Events(), (std::vector<std::string>{"start dsp " + body, "end dsp done", "start cm 500", "end cm done",
                                                      "start motor 230", "end motor done"}));
  // Each target's last report is its whole size; the percentage is the one
  // the status box showed last before "100 %".
  int32_t last[3] = {0, 0, 0};
  for (const auto& [target, bytes] : s.ui.Progress()) last[target] = bytes;
  EXPECT_EQ(last[DSP_PATH], sim::DSP_BODY_SIZE);
  EXPECT_EQ(last[CM_PATH], 500);
  EXPECT_EQ(last[MOTOR_PATH], 230);
  const std::vector<std::string> statuses = s.ui.Statuses();
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 3], std::to_string(s.ui.LastPercent()) + " %");
}

TEST(DownloadEngine, StopEndsTheJobAfterTheExchangeUnderWayAndWritesNothingMore) {
  ImageFolder images;
  const Bytes cm = sim::MakeSampleBoardImage(76 * 20, 5), motor = sim::MakeSampleBoardImage(300, 6);
  ObservedStation s;
  s.ui.job = &s.job;
  s.ui.stopIn = CM_PATH;
  s.ui.stopAfter = 76 * 5;
  JobRequest request;
  request.Device = s.unit.SlavePath();
  request.User_BaudRate = 9600;
  request.Targets[CM_PATH] = {true, images.Write("cm.bin", cm)};
  request.Targets[MOTOR_PATH] = {true, images.Write("motor.bin", motor)};
  const JobOutcome outcome = RunDownloadJob(&s.job, request);

  EXPECT_EQ(outcome.End, JobEnd::Stopped);
  EXPECT_EQ(outcome.Messages, std::vector<std::string>{"Download Error !!"});
  EXPECT_EQ(s.ui.Events(), (std::vector<std::string>{"start cm 1520", "end cm failed"}));
  // The fifth chunk's exchange ended whole (its data packet was confirmed);
  // nothing went out after it, so the board holds exactly those chunks.
  EXPECT_EQ(s.unit.Flash(UnitPart::CameraBoardLoader), Bytes(cm.begin(), cm.begin() + 76 * 5));
  EXPECT_TRUE(s.unit.Flash(UnitPart::ControlBoardLoader).empty());
  EXPECT_EQ(s.ui.Statuses().back(), "Ready");

  // A stop that comes before the job opens no port.
  const size_t heard = s.unit.Wire().size();
  const JobOutcome again = RunDownloadJob(&s.job, request);
  EXPECT_EQ(again.End, JobEnd::Stopped);
  EXPECT_TRUE(again.Messages.empty());
  EXPECT_EQ(s.unit.Wire().size(), heard);
}

}  // namespace
