// Whole jobs through the job entry point with the wire trace at the port
// seam, against the simulated unit: the trace read back must hold exactly
// the bytes the unit heard and sent, at the rates it heard them, cut into
// the frames the job's steps send and the unit's answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CaseName.h"
#include "SampleImages.h"
#include "SimUnit.h"
#include "TempFolder.h"
#include "TestContext.h"
#include "TraceFile.h"
#include "TracingPort.h"
#include "WireTrace.h"

namespace {

using Bytes = std::vector<uint8_t>;
using lumo_test::TraceFile;
using lumo_test::TraceLine;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;

constexpr int32_t CM_SIZE = 300;     // four chunks
constexpr int32_t MOTOR_SIZE = 600;  // eight chunks
const Bytes ANNOUNCE = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};
const Bytes BLOCK_WRITTEN = {0x90, 0x51, 0x01, 0xFF};
const Bytes STATUS_SUCCESS = {0x03, 0x40, 0x40};

struct TraceJobCase {
  const char* Name;
  bool Dsp, Cm, Motor;
  std::vector<Fault> Faults;
  bool FaultFree;
};

void PrintTo(const TraceJobCase& c, std::ostream* os) { *os << c.Name; }

const TraceJobCase CASES[] = {
    {"all three", true, true, true, {}, true},
    // A lost status makes the tool resync; a burst of noise after a chunk's
    // ACK reaches the tool ahead of the next status.
    {"camera board with a lost status and noise", false, true, false,
     {{FaultKind::DropReply, UnitPart::CameraBoardLoader, 0x23, 2}, {FaultKind::NoiseFlood, UnitPart::CameraBoardLoader, 0x24, 1, 1, 40}},
     false},
};

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// The next line of the other direction after line k, or null.
const TraceLine* NextFromUnit(const TraceFile& trace, size_t k) {
  for (size_t j = k + 1; j < trace.Frames.size(); ++j) {
    if (!trace.Frames[j].ToUnit) return &trace.Frames[j];
  }
  return nullptr;
}

class TracedJob : public testing::TestWithParam<TraceJobCase> {};

TEST_P(TracedJob, TheTraceHoldsTheWireInFrames) {
  const TraceJobCase& c = GetParam();
  lumo_test::TempFolder folder;
  WriteFile(folder.File("dsp.bin"), sim::MakeSampleDspImage());
  WriteFile(folder.File("cm.bin"), sim::MakeSampleBoardImage(CM_SIZE, 2));
  WriteFile(folder.File("motor.bin"), sim::MakeSampleBoardImage(MOTOR_SIZE, 3));
  const std::string path = folder.File("trace.txt");

  const std::unique_ptr<PortFactory> platform = lumo_test::MakeTestPortFactory();
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  TracingPortFactory ports(*platform, trace);
  sim::SimOptions options;
  options.Faults = c.Faults;
  lumo_test::TestJob job(options, 9600, &ports);

  JobRequest request;
  request.Device = job.unit.SlavePath();
  request.User_BaudRate = 9600;
  request.Targets[DSP_PATH] = {c.Dsp, folder.File("dsp.bin")};
  request.Targets[CM_PATH] = {c.Cm, folder.File("cm.bin")};
  request.Targets[MOTOR_PATH] = {c.Motor, folder.File("motor.bin")};
  const JobOutcome outcome = RunDownloadJob(&job.entry, request);
  ASSERT_TRUE(outcome.Success) << outcome.Message;
  ASSERT_TRUE(job.unit.WaitIdle());
  ASSERT_TRUE(trace.Close());

  const TraceFile file = lumo_test::ReadTraceFile(path);
  ASSERT_TRUE(file.Read);
  EXPECT_TRUE(file.Malformed.empty()) << file.Malformed.front();

  // The bytes, both ways, and the tool's rates byte by byte.
  EXPECT_EQ(file.BytesOf(true), job.unit.WireBytes(sim::WireDirection::ToUnit));
  EXPECT_EQ(file.BytesOf(false), job.unit.WireBytes(sim::WireDirection::ToHost));
  std::vector<int> heardRates;
  for (const sim::WireByte& w : job.unit.Wire()) {
    if (w.Direction == sim::WireDirection::ToUnit) heardRates.push_back(w.Rate);
  }
  std::vector<int> tracedRates;
  for (const TraceLine& f : file.Frames) {
    if (f.ToUnit) tracedRates.insert(tracedRates.end(), f.Bytes.size(), static_cast<int>(f.Rate));
  }
  EXPECT_EQ(tracedRates, heardRates);

  // One port, opened first and closed last; lines in time order; nothing cut.
  ASSERT_EQ(file.Notes.size(), 3u);
  EXPECT_NE(file.Notes[1].find("port " + job.unit.SlavePath() + " opened"), std::string::npos) << file.Notes[1];
  EXPECT_NE(file.Notes[2].find("port closed"), std::string::npos) << file.Notes[2];
  for (size_t k = 0; k < file.Frames.size(); ++k) {
    EXPECT_FALSE(file.Frames[k].Cut) << "line " << k;
    if (k > 0) {
      EXPECT_LE(file.Frames[k - 1].Micros, file.Frames[k].Micros) << "line " << k;
    }
  }

  std::set<std::string> toUnit, toTool;
  for (const TraceLine& f : file.Frames) (f.ToUnit ? toUnit : toTool).insert(f.Name);
  if (!c.FaultFree) {
    EXPECT_GE(file.Count("resync", true), 1u);
    EXPECT_GE(file.Count("noise", false), 1u);
    return;
  }

  EXPECT_EQ(toUnit, (std::set<std::string>{"command", "block", "PING", "DOWNLOAD", "GET_STATUS", "ACK", "SEND_DATA",
                                           "RESET"}));
  EXPECT_EQ(toTool, (std::set<std::string>{"reply", "ACK", "status"}));
  // The probe block and the 382 blocks; an erase, chunks and a restart per board.
  EXPECT_EQ(file.Count("block", true), 383u);
  EXPECT_EQ(file.Count("DOWNLOAD", true), 2u);
  EXPECT_EQ(file.Count("SEND_DATA", true), 4u + 8u);
  EXPECT_EQ(file.Count("RESET", true), 2u);

  bool loaderSeen = false;
  const TraceLine* lastFromTool = nullptr;
  for (size_t k = 0; k < file.Frames.size(); ++k) {
    const TraceLine& f = file.Frames[k];
    if (!f.ToUnit) continue;
    SCOPED_TRACE(testing::Message() << "line " << k << ": " << f.Name);
    const bool loader = f.Name != "command" && f.Name != "block";
    if (loader && !loaderSeen) {
      EXPECT_EQ(f.Name, "PING") << "the first loader frame";
      loaderSeen = true;
    }
    const TraceLine* answer = NextFromUnit(file, k);
    if (f.Name == "block") {
      ASSERT_TRUE(lastFromTool);
      EXPECT_EQ(lastFromTool->Bytes, ANNOUNCE) << "a block without its announce";
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->Bytes, BLOCK_WRITTEN);
    }
    if (f.Name == "SEND_DATA" || f.Name == "DOWNLOAD" || f.Name == "RESET") {
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->Name, "ACK");
    }
    if (f.Name == "GET_STATUS") {
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->Name, "ACK");
      const TraceLine* status = NextFromUnit(file, static_cast<size_t>(answer - file.Frames.data()));
      ASSERT_TRUE(status);
      EXPECT_EQ(status->Name, "status");
      EXPECT_EQ(status->Bytes, STATUS_SUCCESS);
    }
    lastFromTool = &f;
  }
  EXPECT_TRUE(loaderSeen);
}

INSTANTIATE_TEST_SUITE_P(Jobs, TracedJob, testing::ValuesIn(CASES), lumo_test::NameOfCase());

}  // namespace
