// PingLoader and PrepareControlBoard against the simulated unit in virtual
// time: which packets go out at which line rate, where the line ends up, and
// how long the waits that ran out lasted.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaseName.h"
#include "WireMessages.h"
#include "CameraChannel.h"
#include "LoaderDownload.h"
#include "SerialPort.h"
#include "RefusingPort.h"
#include "Timing.h"
#include "VirtualJob.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;
using lumo_test::VirtualRoutine;
using RanOut = std::map<std::chrono::microseconds, int>;  // waits that ran out, per length

// Long enough for what is on its way to reach the unit.
constexpr std::chrono::milliseconds SETTLE{50};

struct PingCase {
  const char* Name;
  std::optional<UnitPart> Listening;
  std::vector<Fault> Faults;
  PingReply Result;
  std::vector<std::string> Wire;
  RanOut RanOutWaits = {};
};

void PrintTo(const PingCase& c, std::ostream* os) { *os << c.Name; }

const PingCase PINGS[] = {
    {"loader listening", UnitPart::CameraBoardLoader, {}, PingReply::Acknowledged, {"PING@115200"}},
    {"NAK then ACK", UnitPart::CameraBoardLoader, {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x20}}, PingReply::Acknowledged,
     {"PING@115200", "PING@115200"}},
    {"NAK to both tries", UnitPart::CameraBoardLoader,
     {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x20, 0, -1}}, PingReply::Unanswered, {"PING@115200", "PING@115200"}},
    // The camera listens at its own rate: the PINGs are noise to it. No resync.
    {"nobody answers", std::nullopt, {}, PingReply::Unanswered, {"PING@115200", "PING@115200"},
     RanOut{{PING_POLLS * POLL_PERIOD, PING_TRIES}}},
};

class PingLoaderTest : public testing::TestWithParam<PingCase> {};

TEST_P(PingLoaderTest, TwoTriesAtMost) {
  const PingCase& c = GetParam();
  sim::VirtualUnitOptions options;
  options.ListeningAtStart = c.Listening;
  options.Faults = c.Faults;
  VirtualRoutine r(options, 115200);
  ASSERT_TRUE(r.opened);
  lumo_test::RanOutWaits ranOut(r.form.Link);
  const auto started = r.line.Now();
  EXPECT_EQ(PingLoader(&r.form), c.Result);
  // Two waits of 300 polls when nobody answers, and nothing but them.
  EXPECT_EQ(ranOut.Counts(), c.RanOutWaits);
  if (!c.RanOutWaits.empty()) {
    EXPECT_EQ(r.line.Now() - started, PING_TRIES * PING_POLLS * POLL_PERIOD);
  }
  r.Idle(SETTLE);
  EXPECT_EQ(r.Sent(), c.Wire);
  EXPECT_TRUE(r.ui.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, PingLoaderTest, testing::ValuesIn(PINGS), lumo_test::NameOfCase());

// The camera board's way in: from download mode, a PING nobody answers, the
// entry command, and the loader answers the next PING.
TEST(CameraBoardEntry, LoaderAnswersOnlyAfterTheEntryCommand) {
  sim::VirtualUnitOptions options;
  options.CameraRate = 115200;
  VirtualRoutine r(options, 115200);
  ASSERT_TRUE(r.opened);
  CameraCommand enter{};
  enter.address = 1;
  const uint8_t payload[] = {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD};
  std::copy(std::begin(payload), std::end(payload), enter.payload);
  enter.length = 8;
  ASSERT_EQ(SendCameraCommand(&r.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  r.Idle(SETTLE);
  r.Mark();

  EXPECT_EQ(PingLoader(&r.form), PingReply::Unanswered);
  EnterCameraLoader(&r.form);  // awaits nothing
  EXPECT_EQ(PingLoader(&r.form), PingReply::Acknowledged);
  r.Idle(SETTLE);
  EXPECT_EQ(r.line.unit.Listening(), UnitPart::CameraBoardLoader);
  EXPECT_EQ(r.Sent(),
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
  sim::VirtualUnitOptions options;
  options.ListeningAtStart = c.Listening;
  VirtualRoutine r(options, 9600);
  ASSERT_TRUE(r.opened);
  if (c.Refuse115200) {
    r.form.Link.ComPort_Handle = std::make_unique<RefusingPort>(std::move(r.form.Link.ComPort_Handle), 115200);
  }
  r.form.Request.Targets[DSP_PATH].Selected = c.Dsp;
  r.form.Request.Targets[CM_PATH].Selected = c.Cm;
  r.form.Request.Targets[MOTOR_PATH].Selected = true;

  bool recorded = false;
  EXPECT_EQ(PrepareControlBoard(&r.form, c.Known, [&] { return recorded = true; }), c.Result);
  // The board is recorded before its entry command, never when none goes out.
  EXPECT_EQ(recorded, c.Result != LISTENING);
  LineSettings settings;
  ASSERT_TRUE(r.form.Link.ComPort_Handle->GetCommState(settings));
  EXPECT_EQ(static_cast<int>(settings.BaudRate), c.HostRateAtEnd);
  r.Idle(SETTLE);
  EXPECT_EQ(r.Sent(), c.Wire);
  EXPECT_EQ(r.ui.messages, c.Messages);
  EXPECT_EQ(r.line.unit.Listening(), c.ListeningAtEnd);
}

INSTANTIATE_TEST_SUITE_P(Cases, PrepareControlBoardTest, testing::ValuesIn(PREPARES), lumo_test::NameOfCase());

}  // namespace
