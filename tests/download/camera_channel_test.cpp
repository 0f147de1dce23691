// The camera command channel: its packets, its reply waits and the unit's
// camera in virtual time, where each wait's length is exact; against the
// simulated unit on a pseudo-terminal where the window thread and the worker
// share the sender lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "CameraChannel.h"
#include "SerialLink.h"
#include "RefusingPort.h"
#include "SilentPort.h"
#include "LinuxSerialPort.h"
#include "LineRules.h"
#include "PortlessJob.h"
#include "TestContext.h"
#include "TimedOutWaits.h"
#include "Timing.h"
#include "VirtualJob.h"

namespace {

using lumo_test::TestJob;
using lumo_test::VirtualRoutine;
using sim::WireDirection;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

CameraCommand Make(uint8_t address, Bytes payload, int32_t length) {
  CameraCommand c;
  std::memset(&c, 0, sizeof c);
  c.address = address;
  if (!payload.empty()) std::memcpy(c.payload, payload.data(), payload.size());
  c.length = length;
  return c;
}

sim::VirtualUnitOptions SilentCamera() {
  sim::VirtualUnitOptions o;
  o.Faults.push_back({sim::FaultKind::Silence, sim::UnitPart::Camera, -1, 0, -1, 0});
  return o;
}

// Long enough for any command at 9600 to be heard whole and for a reply sent
// after it to arrive.
constexpr milliseconds SETTLE{40};
// The test's reply goes out this long after the command was sent, so it
// comes after the command's reply reset (COMMAND_PAUSE from the call on)
// and after the unit heard the command (6 bytes at 9600).
constexpr milliseconds REPLY_DELAY{10};
const nanoseconds BYTE_9600 = sim::ByteTime(9600);

TEST(CameraPacket, DescriptorsBecomeTheirPackets) {
  struct Case {
    CameraCommand command;
    Bytes wire;
  } cases[] = {
      {Make(8, {0x30, 0x01}, 4), {0x88, 0x30, 0x01, 0xFF}},
      {Make(1, {0xAA, 0xBB, 0x00}, 5), {0x81, 0xAA, 0xBB, 0x00, 0xFF}},
      {Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8), {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF}},
      // Payload bytes past length - 2 never go out.
      {Make(1, {0x01, 0x04, 0x99, 0xAB, 0x55, 0x66}, 6), {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF}},
      {Make(1, {}, 2), {0x81, 0xFF}},
      {Make(1, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 16),
       {0x81, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xFF}},
  };
  VirtualRoutine r(SilentCamera());
  ASSERT_TRUE(r.opened);
  for (const Case& c : cases) {
    r.Mark();
    const auto start = r.line.Now();
    EXPECT_EQ(SendCameraCommand(&r.form, &c.command, WAIT_NONE), CommandReply::Unanswered);
    // Awaiting nothing: only the pause before the reset.
    EXPECT_EQ(r.line.Now() - start, COMMAND_PAUSE);
    r.Idle(SETTLE);
    EXPECT_EQ(r.Heard(), c.wire);
  }
  r.Mark();
  EnterCameraLoader(&r.form);
  r.Idle(SETTLE);
  EXPECT_EQ(r.Heard(), (Bytes{0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF}));
  EXPECT_TRUE(r.ui.messages.empty());
}

TEST(CameraPacket, LengthOutsideTheFrameIsRefusedUnsent) {
  VirtualRoutine r(SilentCamera());
  ASSERT_TRUE(r.opened);
  for (int32_t length : {-1, 0, 1, 17, 1000}) {
    CameraCommand c = Make(1, {0x01}, length);
    const auto start = r.line.Now();
    EXPECT_EQ(SendCameraCommand(&r.form, &c, WAIT_ACK_AND_COMPLETION), CommandReply::Unanswered) << length;
    EXPECT_EQ(r.line.Now(), start) << "refused without a pause or a wait: " << length;
  }
  r.Idle(SETTLE);
  EXPECT_TRUE(r.Heard().empty());
}

// Each case: the unit (silent itself) puts reply on the line once it has
// heard the command; the wait ends as the mode's pattern says: as soon as
// the reply's deciding byte is stored, or after the mode's whole budget.
TEST(CameraWait, ModesMatchOnlyTheirPatterns) {
  struct Case {
    const char* name;
    uint32_t mode;
    Bytes reply;
    CommandReply result;
    int64_t polls;  // -1: the wait ends with the reply's last byte
  } cases[] = {
      {"ack and completion", 1, {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF}, CommandReply::Answered, -1},
      {"other low nibbles, later in the buffer", 1, {0x00, 0x12, 0x90, 0x42, 0xFF, 0x90, 0x52, 0xFF}, CommandReply::Answered, -1},
      {"completion alone", 1, {0x90, 0x51, 0xFF}, CommandReply::Unanswered, 1000},
      {"a byte between ack and completion", 1, {0x90, 0x41, 0xFF, 0x00, 0x90, 0x51, 0xFF}, CommandReply::Unanswered, 1000},
      {"error reply", 1, {0x90, 0x60, 0x02, 0xFF}, CommandReply::Unanswered, 1000},
      {"ack without terminator", 2, {0x90, 0x41}, CommandReply::Answered, -1},
      {"completion with its terminator", 3, {0x90, 0x51, 0xFF}, CommandReply::Answered, -1},
      // A late reply to a DSP block is not the completion of the next announce.
      {"a block reply is no completion", 3, {0x90, 0x51, 0x01, 0xFF}, CommandReply::Unanswered, 1000},
      {"completion wait does not take an ack", 3, {0x90, 0x41, 0xFF}, CommandReply::Unanswered, 1000},
      {"address-set reply", 4, {0x88, 0x30, 0x02, 0xFF}, CommandReply::Answered, -1},
      {"the command itself is no reply", 4, {0x88, 0x30, 0x01, 0xFF}, CommandReply::Unanswered, 30},
      {"mode 0 awaits nothing", 0, {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF}, CommandReply::Unanswered, 0},
      {"modes above 4 await nothing", 5, {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF}, CommandReply::Unanswered, 0},
  };
  VirtualRoutine r(SilentCamera());
  ASSERT_TRUE(r.opened);
  const CameraCommand command = Make(1, {0x01, 0x04, 0x99, 0xAB}, 6);
  lumo_test::TimedOutWaits timedOut(r.form.Link);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    r.Mark();
    r.UnitSends(c.reply, REPLY_DELAY);
    const uint64_t before = timedOut.Polls();
    const auto start = r.line.Now();
    EXPECT_EQ(SendCameraCommand(&r.form, &command, c.mode), c.result);
    const auto took = r.line.Now() - start;
    const int64_t polls = static_cast<int64_t>(timedOut.Polls() - before);
    if (c.polls == -1) {
      // Taken the moment its last byte is stored: nothing ran out.
      EXPECT_EQ(polls, 0);
      EXPECT_EQ(took, REPLY_DELAY + static_cast<int64_t>(c.reply.size()) * BYTE_9600);
    } else {
      // The mode's whole budget after the pause, to the poll.
      EXPECT_EQ(polls, c.polls);
      EXPECT_EQ(took, COMMAND_PAUSE + c.polls * POLL_PERIOD);
    }
    r.Idle(SETTLE);
    EXPECT_EQ(r.Heard(), (Bytes{0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF}));
  }
  EXPECT_TRUE(r.ui.messages.empty());
}

TEST(CameraWait, FiveBytesAreNotEnoughTheSixthEndsTheWait) {
  VirtualRoutine r(SilentCamera());
  ASSERT_TRUE(r.opened);
  const CameraCommand command = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  // Five bytes soon after the command, the terminator only much later.
  constexpr milliseconds LATE{500};
  r.UnitSends({0x90, 0x41, 0xFF, 0x90, 0x51}, REPLY_DELAY);
  r.UnitSends({0xFF}, LATE);
  const auto start = r.line.Now();
  EXPECT_EQ(SendCameraCommand(&r.form, &command, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  EXPECT_EQ(r.line.Now() - start, LATE + BYTE_9600);
}

TEST(CameraWait, BytesFromBeforeTheCommandNeverSatisfyIt) {
  VirtualRoutine r(SilentCamera());
  ASSERT_TRUE(r.opened);
  r.UnitSends({0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF, 0x88, 0x30, 0x02, 0xFF});
  r.Idle(SETTLE);
  ASSERT_EQ(r.form.Link.Rx.Count(), 10u);
  const CameraCommand command = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  auto start = r.line.Now();
  EXPECT_EQ(SendCameraCommand(&r.form, &command, WAIT_ACK_AND_COMPLETION), CommandReply::Unanswered);
  EXPECT_EQ(r.line.Now() - start, COMMAND_PAUSE + CAMERA_REPLY_POLLS * POLL_PERIOD);
  const CameraCommand addressSet = Make(8, {0x30, 0x01}, 4);
  start = r.line.Now();
  EXPECT_EQ(SendCameraCommand(&r.form, &addressSet, WAIT_ADDRESS_SET), CommandReply::Unanswered);
  EXPECT_EQ(r.line.Now() - start, COMMAND_PAUSE + ADDRESS_SET_POLLS * POLL_PERIOD);
}

// A port that takes nothing: the write comes up short.
class DeafPort : public lumo_test::SilentPort {
 public:
  bool Write(const uint8_t*, uint32_t size, uint32_t& written) override {
    written = size > 2 ? 2 : 0;
    return false;
  }
};

TEST(CameraWait, ShortWriteFailsAtOnceWithoutWaiting) {
  lumo_test::RecordingUI ui;
  lumo_test::PortlessJob job(&ui);
  JobContext& form = job.form;
  form.Link.ComPort_Handle = std::make_unique<DeafPort>();
  const CameraCommand command = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  lumo_test::TimedOutWaits timedOut(form.Link);
  EXPECT_EQ(SendCameraCommand(&form, &command, WAIT_ACK_AND_COMPLETION), CommandReply::Unanswered);
  EXPECT_EQ(timedOut.Waits(), 0u);
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Not Write Correctly !!"});
}

TEST(CameraAddressSetTest, SilentUnitGetsSixAttemptsThenMinusOne) {
  VirtualRoutine r(SilentCamera());
  ASSERT_TRUE(r.opened);
  lumo_test::TimedOutWaits timedOut(r.form.Link);
  const auto start = r.line.Now();
  EXPECT_EQ(CameraAddressSet(&r.form), CommandReply::Unanswered);
  EXPECT_EQ(timedOut.Waits(), 6u);
  EXPECT_EQ(timedOut.Polls(), 6u * 30u);
  // Each attempt: the pause before its reset, then its 30 polls.
  EXPECT_EQ(r.line.Now() - start, ADDRESS_SET_ATTEMPTS * (COMMAND_PAUSE + ADDRESS_SET_POLLS * POLL_PERIOD));
  r.Idle(SETTLE);
  Bytes six;
  for (int i = 0; i < 6; ++i) six.insert(six.end(), {0x88, 0x30, 0x01, 0xFF});
  EXPECT_EQ(r.Heard(), six);
}

// The channel against the unit's camera: download mode at 115200 and the
// address set that brings it back to its own rate.
TEST(CameraUnit, DownloadModeAndAddressSetRoundTrip) {
  VirtualRoutine r;
  ASSERT_TRUE(r.opened);
  const CameraCommand enter = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  const CameraCommand announce = Make(1, {0x01, 0x04, 0x99, 0xAB}, 6);
  EXPECT_EQ(CameraAddressSet(&r.form), CommandReply::Answered);  // at the own rate
  EXPECT_EQ(SendCameraCommand(&r.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  EXPECT_TRUE(r.line.unit.CameraInDownloadMode());
  EXPECT_EQ(ChangeBaudRate(&r.form.Link, 115200), RateSet::Applied);
  EXPECT_EQ(SendCameraCommand(&r.form, &announce, WAIT_COMPLETION), CommandReply::Answered);
  EXPECT_EQ(CameraAddressSet(&r.form), CommandReply::Answered);
  EXPECT_FALSE(r.line.unit.CameraInDownloadMode());
  // Back at 9600 the camera hears again; at 115200 it no longer does.
  const auto start = r.line.Now();
  EXPECT_EQ(SendCameraCommand(&r.form, &announce, WAIT_COMPLETION), CommandReply::Unanswered);
  EXPECT_EQ(r.line.Now() - start, COMMAND_PAUSE + CAMERA_REPLY_POLLS * POLL_PERIOD);
  EXPECT_EQ(ChangeBaudRate(&r.form.Link, 9600), RateSet::Applied);
  EXPECT_EQ(SendCameraCommand(&r.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  EXPECT_TRUE(r.ui.messages.empty());
}

using lumo_test::RefusingPort;

// A refused baud change makes the window thread send the address set while
// the worker goes on with its commands: neither wipes the other's reply.
TEST(CameraUnit, WindowAddressSetAndWorkerCommandsDoNotCorruptEachOther) {
  TestJob job;
  job.form.Link.ComPort_Handle = std::make_unique<RefusingPort>(OpenLinuxSerialPort(job.unit.SlavePath(), lumo_test::TestPortConfig()), 57600);
  ASSERT_EQ(ConfigBaudRate(&job.form.Link, 9600), RateSet::Applied);
  job.form.Link.ComPort_Opened.store(true);
  job.Start();
  // One refused change: its address set goes out from the window thread
  // while the worker's commands keep coming.
  std::atomic<bool> baudDone{false};
  std::thread baudFailures([&] {
    EXPECT_EQ(ChangeBaudRate(&job.form.Link, 57600), RateSet::Refused);
    baudDone.store(true);
  });
  // Version writes are answered in either camera mode at 9600.
  int failures = 0, sent = 0;
  for (; sent < 2000 && (sent < 10 || !baudDone.load()); ++sent) {
    const CameraCommand version =
        Make(1, {0x01, 0x04, 0xAA, 0xEE, 0x00, 0x01, 0x02, 0x03, static_cast<uint8_t>(sent & 0xF)}, 11);
    if (SendCameraCommand(&job.form, &version, WAIT_ACK_AND_COMPLETION) != CommandReply::Answered) ++failures;
  }
  baudFailures.join();
  EXPECT_EQ(failures, 0);
  // The worker was released before the address set: the set and its message
  // follow on the window thread.
  ASSERT_TRUE(job.ui.WaitForMessages(1));
  ASSERT_TRUE(job.unit.WaitIdle());
  // Every address set went out whole and was answered.
  const Bytes heard = job.unit.WireBytes(WireDirection::ToUnit);
  const Bytes set = {0x88, 0x30, 0x01, 0xFF};
  size_t sets = 0;
  for (size_t i = 0; i + 4 <= heard.size(); ++i) {
    if (std::equal(set.begin(), set.end(), heard.begin() + static_cast<long>(i))) ++sets;
  }
  EXPECT_GE(sets, 1u);
  EXPECT_EQ(job.ui.Messages(), std::vector<std::string>{"ComPort  Error !!"});
}

// A worker's message is shown by the window thread. When the worker holds the
// sender lock while its message waits, the window thread's address set after a
// refused rate must keep the window alive instead of waiting for the lock.
class HandOverUI : public lumo_test::RecordingUI {
 public:
  explicit HandOverUI(std::thread::id window) : window_(window) {}
  void ShowErrorMessage(const std::string& text) override {
    if (std::this_thread::get_id() == window_) {
      RecordingUI::ShowErrorMessage(text);
      return;
    }
    pending_.store(true);
    // Waits for the window thread's turn at its events (a real thread), bounded.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (pending_.load() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!pending_.load()) RecordingUI::ShowErrorMessage(text);
  }
  // The window's turn at its events while it waits.
  void ProcessPendingEvents() {
    if (std::this_thread::get_id() == window_) pending_.store(false);
  }

 private:
  std::thread::id window_;
  std::atomic<bool> pending_{false};
};

TEST(CameraUnit, WindowKeepsPumpingWhileTheWorkerHoldsTheSenderLock) {
  TestJob job;
  HandOverUI ui(std::this_thread::get_id());
  job.form.UI = &ui;
  job.form.Link.ComPort_Handle = std::make_unique<RefusingPort>(OpenLinuxSerialPort(job.unit.SlavePath(), lumo_test::TestPortConfig()), 57600);
  ASSERT_EQ(ConfigBaudRate(&job.form.Link, 9600), RateSet::Applied);
  std::atomic<bool> locked{false};
  std::thread worker([&] {
    job.form.Link.AsOneExchange([&] {
      locked.store(true);
      ui.ShowErrorMessage("Not Write Correctly !!");
    });
  });
  // Waits for the worker thread to hold the sender lock, bounded.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!locked.load() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(locked.load());
  job.form.Link.Baud_Request.store(57600);
  // Returns only because the window kept showing the worker's message.
  ServeBaudRequest(&job.form.Link, [&ui] { ui.ProcessPendingEvents(); });
  worker.join();
  EXPECT_EQ(job.form.Link.Baud_Request.load(), -1);
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"Not Write Correctly !!", "ComPort  Error !!"}));
  job.form.Link.ComPort_Handle.reset();
}

}  // namespace
