// Whole jobs with the wire trace at the port seam, against the simulated
// unit in virtual time (the job on the test's thread, the trace's writer on
// its own): the trace read back must hold exactly the bytes the unit heard
// and sent, at the rates it heard them, cut into the frames the job's steps
// send and the unit's answers. The trace stamps its lines from the steady
// clock; the job's calls come one after the other on one thread, so the
// stamps follow the order of the wire as they do on a real line. The trace
// beside a real receive thread is shown by the window's traced job
// (tests/e2e/download_job_test.cpp) and by wire_trace_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CaseName.h"
#include "DownloadJob.h"
#include "JobContext.h"
#include "LoaderRecords.h"
#include "SampleImages.h"
#include "TempFolder.h"
#include "TraceFile.h"
#include "TracingPort.h"
#include "VirtualJob.h"
#include "VirtualLine.h"
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

std::vector<uint8_t> WireBytes(const sim::VirtualUnit& unit, sim::WireDirection direction) {
  Bytes bytes;
  for (const sim::WireByte& w : unit.Wire()) {
    if (w.Direction == direction) bytes.push_back(w.Byte);
  }
  return bytes;
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

  // The trace outlives the seam and the job that use it.
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  sim::VirtualUnitOptions options;
  options.Faults = c.Faults;
  sim::VirtualLine line(options);
  TracingPortFactory ports(line.Ports(), trace);
  LoaderRecords records;
  JobSession session(ports, &records);
  lumo_test::VirtualUI ui;
  TDownloadJob job(session, &ui);
  line.Attach(ContextOf(job).Link);

  JobRequest request;
  request.Device = sim::VirtualLine::DEVICE;
  request.User_BaudRate = 9600;
  request.Targets[DSP_PATH] = {c.Dsp, folder.File("dsp.bin")};
  request.Targets[CM_PATH] = {c.Cm, folder.File("cm.bin")};
  request.Targets[MOTOR_PATH] = {c.Motor, folder.File("motor.bin")};
  const JobOutcome outcome = RunDownloadJobOnThisThread(&job, request);
  ASSERT_TRUE(outcome.Success) << outcome.Message;
  ASSERT_FALSE(line.PortOpen());
  ASSERT_TRUE(trace.Close());

  const TraceFile file = lumo_test::ReadTraceFile(path);
  ASSERT_TRUE(file.Read);
  EXPECT_TRUE(file.Malformed.empty()) << file.Malformed.front();

  // The bytes, both ways, and the tool's rates byte by byte.
  EXPECT_EQ(file.BytesOf(true), WireBytes(line.unit, sim::WireDirection::ToUnit));
  EXPECT_EQ(file.BytesOf(false), WireBytes(line.unit, sim::WireDirection::ToHost));
  std::vector<int> heardRates;
  for (const sim::WireByte& w : line.unit.Wire()) {
    if (w.Direction == sim::WireDirection::ToUnit) heardRates.push_back(w.Rate);
  }
  std::vector<int> tracedRates;
  for (const TraceLine& f : file.Frames) {
    if (f.ToUnit) tracedRates.insert(tracedRates.end(), f.Bytes.size(), static_cast<int>(f.Rate));
  }
  EXPECT_EQ(tracedRates, heardRates);

  // One port, opened first and closed last; lines in time order; nothing cut.
  ASSERT_EQ(file.Notes.size(), 3u);
  EXPECT_NE(file.Notes[1].find(std::string("port ") + sim::VirtualLine::DEVICE + " opened"), std::string::npos) << file.Notes[1];
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
