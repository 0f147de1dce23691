// The camera command channel against the simulated unit on a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "CameraChannel.h"
#include "SerialLink.h"
#include "RefusingPort.h"
#include "SilentPort.h"
#include "LinuxSerialPort.h"
#include "PortlessJob.h"
#include "TestContext.h"
#include "TimedOutWaits.h"

namespace {

using lumo_test::TestJob;
using sim::WireDirection;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

CameraCommand Make(uint8_t address, Bytes payload, int32_t length) {
  CameraCommand c;
  std::memset(&c, 0, sizeof c);
  c.address = address;
  if (!payload.empty()) std::memcpy(c.payload, payload.data(), payload.size());
  c.length = length;
  return c;
}

sim::SimOptions SilentCamera() {
  sim::SimOptions o;
  o.Faults.push_back({sim::FaultKind::Silence, sim::UnitPart::Camera, -1, 0, -1, 0});
  return o;
}

// Waits (bounded) until the unit has heard count bytes, then puts reply on the line.
std::thread ReplyAfterHearing(sim::SimUnit& unit, size_t count, Bytes reply) {
  return std::thread([&unit, count, reply] {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (unit.WireBytes(WireDirection::ToUnit).size() < count && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    unit.SendRawToHost(reply);
  });
}

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
  TestJob job(SilentCamera());
  ASSERT_TRUE(job.Open());
  job.Start();
  for (const Case& c : cases) {
    job.unit.ClearWire();
    EXPECT_EQ(SendCameraCommand(&job.form, &c.command, WAIT_NONE), CommandReply::Unanswered);
    ASSERT_TRUE(job.unit.WaitIdle());
    EXPECT_EQ(job.unit.WireBytes(WireDirection::ToUnit), c.wire);
  }
  job.unit.ClearWire();
  EnterCameraLoader(&job.form);
  ASSERT_TRUE(job.unit.WaitIdle());
  EXPECT_EQ(job.unit.WireBytes(WireDirection::ToUnit), (Bytes{0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF}));
  EXPECT_TRUE(job.ui.Messages().empty());
}

TEST(CameraPacket, LengthOutsideTheFrameIsRefusedUnsent) {
  TestJob job(SilentCamera());
  ASSERT_TRUE(job.Open());
  job.Start();
  for (int32_t length : {-1, 0, 1, 17, 1000}) {
    CameraCommand c = Make(1, {0x01}, length);
    EXPECT_EQ(SendCameraCommand(&job.form, &c, WAIT_ACK_AND_COMPLETION), CommandReply::Unanswered) << length;
  }
  ASSERT_TRUE(job.unit.WaitIdle());
  EXPECT_TRUE(job.unit.WireBytes(WireDirection::ToUnit).empty());
}

// Each case: the unit (silent itself) gets reply on the line once the command
// is heard; the wait ends as the mode's pattern says, after the counted polls.
TEST(CameraWait, ModesMatchOnlyTheirPatterns) {
  struct Case {
    const char* name;
    uint32_t mode;
    Bytes reply;
    CommandReply result;
    int64_t polls;  // -1: fewer than the budget
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
  TestJob job(SilentCamera());
  ASSERT_TRUE(job.Open());
  job.Start();
  const CameraCommand command = Make(1, {0x01, 0x04, 0x99, 0xAB}, 6);
  lumo_test::TimedOutWaits timedOut(job.form.Link);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    job.unit.ClearWire();
    std::thread replier = ReplyAfterHearing(job.unit, 6, c.reply);
    const uint64_t before = timedOut.Polls();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendCameraCommand(&job.form, &command, c.mode), c.result);
    const auto took = std::chrono::steady_clock::now() - start;
    const int64_t polls = static_cast<int64_t>(timedOut.Polls() - before);
    replier.join();
    // A wait that finds its reply runs out of nothing; one that does not is
    // given the mode's budget and lasts at least that many poll periods.
    if (c.polls == -1) {
      EXPECT_EQ(polls, 0);
    } else {
      EXPECT_EQ(polls, c.polls);
      EXPECT_GE(took, c.polls * POLL_PERIOD);
    }
    ASSERT_TRUE(job.unit.WaitIdle());
    EXPECT_EQ(job.unit.WireBytes(WireDirection::ToUnit), (Bytes{0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF}));
  }
  EXPECT_TRUE(job.ui.Messages().empty());
}

TEST(CameraWait, FiveBytesAreNotEnoughTheSixthEndsTheWait) {
  TestJob job(SilentCamera());
  ASSERT_TRUE(job.Open());
  job.Start();
  const CameraCommand command = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  std::atomic<bool> done{false};
  auto result = std::async(std::launch::async, [&] {
    const CommandReply r = SendCameraCommand(&job.form, &command, WAIT_ACK_AND_COMPLETION);
    done.store(true);
    return r;
  });
  std::thread five = ReplyAfterHearing(job.unit, 8, {0x90, 0x41, 0xFF, 0x90, 0x51});
  five.join();
  ASSERT_TRUE(job.WaitForRx(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // some 50 polls over five bytes
  EXPECT_FALSE(done.load());
  job.unit.SendRawToHost({0xFF});
  EXPECT_EQ(result.get(), CommandReply::Answered);
}

TEST(CameraWait, BytesFromBeforeTheCommandNeverSatisfyIt) {
  TestJob job(SilentCamera());
  ASSERT_TRUE(job.Open());
  job.Start();
  job.unit.SendRawToHost({0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF, 0x88, 0x30, 0x02, 0xFF});
  ASSERT_TRUE(job.WaitForRx(10));
  const CameraCommand command = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  EXPECT_EQ(SendCameraCommand(&job.form, &command, WAIT_ACK_AND_COMPLETION), CommandReply::Unanswered);
  const CameraCommand addressSet = Make(8, {0x30, 0x01}, 4);
  EXPECT_EQ(SendCameraCommand(&job.form, &addressSet, WAIT_ADDRESS_SET), CommandReply::Unanswered);
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
  TestJob job(SilentCamera());
  ASSERT_TRUE(job.Open());
  job.Start();
  lumo_test::TimedOutWaits timedOut(job.form.Link);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CameraAddressSet(&job.form), CommandReply::Unanswered);
  EXPECT_EQ(timedOut.Waits(), 6u);
  EXPECT_EQ(timedOut.Polls(), 6u * 30u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 6 * 30 * POLL_PERIOD);
  ASSERT_TRUE(job.unit.WaitIdle());
  Bytes six;
  for (int i = 0; i < 6; ++i) six.insert(six.end(), {0x88, 0x30, 0x01, 0xFF});
  EXPECT_EQ(job.unit.WireBytes(WireDirection::ToUnit), six);
}

// The channel against the unit's camera: download mode at 115200 and the
// address set that brings it back to its own rate.
TEST(CameraUnit, DownloadModeAndAddressSetRoundTrip) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  const CameraCommand enter = Make(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}, 8);
  const CameraCommand announce = Make(1, {0x01, 0x04, 0x99, 0xAB}, 6);
  EXPECT_EQ(CameraAddressSet(&job.form), CommandReply::Answered);  // at the own rate
  EXPECT_EQ(SendCameraCommand(&job.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  EXPECT_TRUE(job.unit.CameraInDownloadMode());
  EXPECT_EQ(ChangeBaudRate(&job.form.Link, 115200), RateSet::Applied);
  EXPECT_EQ(SendCameraCommand(&job.form, &announce, WAIT_COMPLETION), CommandReply::Answered);
  EXPECT_EQ(CameraAddressSet(&job.form), CommandReply::Answered);
  EXPECT_FALSE(job.unit.CameraInDownloadMode());
  // Back at 9600 the camera hears again; at 115200 it no longer does.
  EXPECT_EQ(SendCameraCommand(&job.form, &announce, WAIT_COMPLETION), CommandReply::Unanswered);
  EXPECT_EQ(ChangeBaudRate(&job.form.Link, 9600), RateSet::Applied);
  EXPECT_EQ(SendCameraCommand(&job.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
  EXPECT_TRUE(job.ui.Messages().empty());
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
  std::atomic<bool> baudDone{false};
  std::thread baudFailures([&] {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ChangeBaudRate(&job.form.Link, 57600), RateSet::Refused);
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
  ASSERT_TRUE(job.unit.WaitIdle());
  // Every address set went out whole and was answered.
  const Bytes heard = job.unit.WireBytes(WireDirection::ToUnit);
  const Bytes set = {0x88, 0x30, 0x01, 0xFF};
  size_t sets = 0;
  for (size_t i = 0; i + 4 <= heard.size(); ++i) {
    if (std::equal(set.begin(), set.end(), heard.begin() + static_cast<long>(i))) ++sets;
  }
  EXPECT_GE(sets, 1u);
  const auto messages = job.ui.Messages();
  EXPECT_FALSE(messages.empty());
  for (const auto& m : messages) EXPECT_EQ(m, "ComPort  Error !!");
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
  while (!locked.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  job.form.Link.Baud_Request.store(57600);
  // Returns only because the window kept showing the worker's message.
  ServeBaudRequest(&job.form.Link, [&ui] { ui.ProcessPendingEvents(); });
  worker.join();
  EXPECT_EQ(job.form.Link.Baud_Request.load(), -1);
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"Not Write Correctly !!", "ComPort  Error !!"}));
  job.form.Link.ComPort_Handle.reset();
}

}  // namespace
