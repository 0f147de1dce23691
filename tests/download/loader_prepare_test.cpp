// PingLoader and PrepareControlBoard against the simulated unit: which
// packets go out at which line rate, and where the line ends up.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaseName.h"
#include "WireMessages.h"
#include "CameraChannel.h"
#include "LoaderDownload.h"
#include "LinuxSerialPort.h"
#include "SerialPort.h"
#include "RefusingPort.h"
#include "TestContext.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;
using lumo_test::TestJob;

// The host's side of the wire as "NAME@rate" labels.
std::vector<std::string> SentMessages(const sim::SimUnit& unit) { return lumo_test::Labels(lumo_test::SentMessages(unit)); }

struct PingCase {
  const char* Name;
  std::optional<UnitPart> Listening;
  std::vector<Fault> Faults;
  PingReply Result;
  std::vector<std::string> Wire;
};

void PrintTo(const PingCase& c, std::ostream* os) { *os << c.Name; }

const PingCase PINGS[] = {
    {"loader listening", UnitPart::CameraBoardLoader, {}, PingReply::Acknowledged, {"PING@115200"}},
    {"NAK then ACK", UnitPart::CameraBoardLoader, {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x20}}, PingReply::Acknowledged,
     {"PING@115200", "PING@115200"}},
    {"NAK to both tries", UnitPart::CameraBoardLoader,
     {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x20, 0, -1}}, PingReply::Unanswered, {"PING@115200", "PING@115200"}},
    // The camera listens at its own rate: the PINGs are noise to it. No resync.
    {"nobody answers", std::nullopt, {}, PingReply::Unanswered, {"PING@115200", "PING@115200"}},
};

class PingLoaderTest : public testing::TestWithParam<PingCase> {};

TEST_P(PingLoaderTest, TwoTriesAtMost) {
  const PingCase& c = GetParam();
  sim::SimOptions options;
  options.ListeningAtStart = c.Listening;
  options.Faults = c.Faults;
  TestJob job(options, 115200);
  ASSERT_TRUE(job.Open());
  job.Start();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(PingLoader(&job.form), c.Result);
  const auto took = std::chrono::steady_clock::now() - started;
  // Two waits of 300 polls when nobody answers.
  if (c.Faults.empty() && !c.Listening) {
    EXPECT_GE(took, std::chrono::milliseconds(2 * 300 * 2));
  }
  job.unit.WaitIdle();
  EXPECT_EQ(SentMessages(job.unit), c.Wire);
  EXPECT_TRUE(job.ui.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, PingLoaderTest, testing::ValuesIn(PINGS), lumo_test::NameOfCase());

// The camera board's way in: from download mode, a PING nobody answers, the
// entry command, and the loader answers the next PING.
TEST(CameraBoardEntry, LoaderAnswersOnlyAfterTheEntryCommand) {
  sim::SimOptions options;
  options.CameraRate = 115200;
  TestJob job(options, 115200);
  ASSERT_TRUE(job.Open());
  job.Start();
  CameraCommand enter{};
  enter.address = 1;
  const uint8_t payload[] = {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD};
  std::copy(std::begin(payload), std::end(payload), enter.payload);
  enter.length = 8;
  ASSERT_EQ(SendCameraCommand(&job.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  ASSERT_TRUE(job.unit.WaitIdle());
  job.unit.ClearWire();

  EXPECT_EQ(PingLoader(&job.form), PingReply::Unanswered);
  EnterCameraLoader(&job.form);  // awaits nothing
  EXPECT_EQ(PingLoader(&job.form), PingReply::Acknowledged);
  job.unit.WaitIdle();
  EXPECT_EQ(job.unit.Listening(), UnitPart::CameraBoardLoader);
  EXPECT_EQ(SentMessages(job.unit),
            (std::vector<std::string>{"PING@115200", "PING@115200", "CAMERA_ENTRY@115200", "PING@115200"}));
}

using lumo_test::RefusingPort;

struct PrepareCase {
  const char* Name;
  std::optional<UnitPart> Listening;  // at start; the camera otherwise
  bool Known;                         // the port's record names the control board
  int32_t Dsp;
  int32_t Cm;
  bool Refuse115200;
  LoaderEntry Result;
  std::vector<std::string> Wire;
  std::vector<std::string> Messages;
  UnitPart ListeningAtEnd;
  int HostRateAtEnd;
};

void PrintTo(const PrepareCase& c, std::ostream* os) { *os << c.Name; }

const std::vector<std::string> ADDRESS_SET_SIX_TIMES(6, "ADDRESS@9600");

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr LoaderEntry LISTENING = LoaderEntry::AlreadyListening;
constexpr LoaderEntry ENTERED = LoaderEntry::Entered;

const PrepareCase PREPARES[] = {
    {"control board alone, its loader still listening", UnitPart::ControlBoardLoader, true, 0, 0, false, LISTENING,
     {"PING@115200"}, {}, UnitPart::ControlBoardLoader, 115200},
    // Nothing says whose loader answered: restarted, then the way in as usual.
    {"control board alone, an unknown loader listening", UnitPart::ControlBoardLoader, false, 0, 0, false, ENTERED,
     {"PING@115200", "RESET@115200", "PING@115200", "PING@115200", "CONTROL_ENTRY@9600"}, {},
     UnitPart::ControlBoardLoader, 115200},
    // The camera answers the address set: it has the line, no loader listens.
    {"control board alone, the camera listening", std::nullopt, false, 0, 0, false, ENTERED,
     {"PING@115200", "PING@115200", "ADDRESS@9600", "CONTROL_ENTRY@9600"}, {}, UnitPart::ControlBoardLoader, 115200},
    {"with the DSP in the job: no ping", std::nullopt, false, 1, 0, false, ENTERED, {"CONTROL_ENTRY@9600"}, {},
     UnitPart::ControlBoardLoader, 115200},
    {"with the camera board in the job: no ping", std::nullopt, false, 0, 1, false, ENTERED, {"CONTROL_ENTRY@9600"},
     {}, UnitPart::ControlBoardLoader, 115200},
    // The window thread marks the request failed, runs the address set at the
    // rate the port still has (the control board's loader does not hear it),
    // then shows its message.
    {"the change to 115200 refused", std::nullopt, false, 1, 0, true, LoaderEntry::BaudRefused,
     Concat({"CONTROL_ENTRY@9600"}, ADDRESS_SET_SIX_TIMES), {"ComPort  Error !!"}, UnitPart::ControlBoardLoader, 9600},
};

class PrepareControlBoardTest : public testing::TestWithParam<PrepareCase> {};

TEST_P(PrepareControlBoardTest, BringsTheLoaderToTheLine) {
  const PrepareCase& c = GetParam();
  lumo_test::TestPortFactory ports(c.Refuse115200 ? 115200 : 0);
  sim::SimOptions options;
  options.ListeningAtStart = c.Listening;
  TestJob job(options, 9600, &ports);
  ASSERT_TRUE(job.Open());
  job.form.Request.Targets[DSP_PATH].Selected = c.Dsp;
  job.form.Request.Targets[CM_PATH].Selected = c.Cm;
  job.form.Request.Targets[MOTOR_PATH].Selected = true;
  job.Start();

  bool recorded = false;
  EXPECT_EQ(PrepareControlBoard(&job.form, c.Known, [&] { return recorded = true; }), c.Result);
  // The board is recorded before its entry command, never when none goes out.
  EXPECT_EQ(recorded, c.Result != LISTENING);
  EXPECT_EQ(job.unit.HostRate(), c.HostRateAtEnd);
  job.Stop();  // lets the window thread finish what it was serving
  job.unit.WaitIdle();
  EXPECT_EQ(SentMessages(job.unit), c.Wire);
  EXPECT_EQ(job.ui.Messages(), c.Messages);
  EXPECT_EQ(job.unit.Listening(), c.ListeningAtEnd);
}

INSTANTIATE_TEST_SUITE_P(Cases, PrepareControlBoardTest, testing::ValuesIn(PREPARES), lumo_test::NameOfCase());

}  // namespace
