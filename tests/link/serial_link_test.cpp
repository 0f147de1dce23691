// The serial link on real pseudo-terminals with the simulated unit.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "LinuxSerialPort.h"
#include "SerialLink.h"
#include "OtherProgram.h"
#include "RefusingPort.h"
#include "SilentPort.h"
#include "TestContext.h"

namespace {

using lumo_test::ComFolder;
using lumo_test::TestJob;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

using lumo_test::RefusingPort;

// Polls for a condition that another thread or the unit makes true, up to a
// bound; true once it holds.
template <typename Condition>
bool WaitUntil(Condition holds, std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
  const auto deadline = Clock::now() + bound;
  while (!holds()) {
    if (Clock::now() >= deadline) return false;
    // Real time: waits for the other thread (the unit's or the receive
    // thread) to act.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class ComPortTest : public ::testing::Test {
 protected:
  sim::SimOptions Options() {
    sim::SimOptions o;
    o.ComDir = folder.Path();
    o.ComNumber = 7;
    return o;
  }
  ComFolder folder;
  lumo_test::TestPortFactory ports;
};

TEST_F(ComPortTest, OpenAndCloseCases) {
  struct Case {
    const char* name;
    int32_t port;
    int32_t rate;
    std::function<std::shared_ptr<void>(TestJob&)> setUp;
    int32_t result;
    Strings messages;
  } cases[] = {
      {"opens at the user's rate", 7, 19200, nullptr, 0, {}},
      {"opens at 14400", 7, 14400, nullptr, 0, {}},
      {"a port that names no device", 99, 9600, nullptr, -1, {"Comport cannot open!!"}},
      {"a rate of zero", 7, 0, nullptr, -1, {"Config Baudrate Error!!"}},
      {"a negative rate", 7, -9600, nullptr, -1, {"Config Baudrate Error!!"}},
      {"a rate the driver refuses", 7, 38400,
       [this](TestJob&) {
         ports.RefuseRate(38400);
         return std::shared_ptr<void>();
       },
       -1, {"Config Baudrate Error!!"}},
      {"a port another process holds", 7, 9600,
       [](TestJob& job) {
         auto holder = std::make_shared<lumo_test::OtherProgram>(job.unit.SlavePath(), lumo_test::OtherProgram::Flock);
         EXPECT_TRUE(holder->Holding());
         return std::static_pointer_cast<void>(holder);
       },
       -1, {"Comport cannot open!!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestJob job(Options(), c.rate, &ports);
    job.SetComNumber(c.port);
    std::shared_ptr<void> held = c.setUp ? c.setUp(job) : nullptr;
    EXPECT_EQ(job.OpenThroughComFolder(folder.Path()), c.result);
    EXPECT_EQ(job.ui.Messages(), c.messages);
    EXPECT_EQ(job.form.Link.ComPort_Opened.load(), c.result == 0);
    EXPECT_EQ(job.form.Link.ComPort_Handle != nullptr, c.result == 0);  // a refused rate closed the handle
    if (c.result == 0) {
      EXPECT_EQ(job.unit.HostRate(), c.rate);
    }
    ComPortClose(&job.form.Link);
    ComPortClose(&job.form.Link);  // twice
    EXPECT_FALSE(job.form.Link.ComPort_Opened.load());
    EXPECT_TRUE(job.form.Link.ComPort_Handle == nullptr);
    ports.RefuseRate(0);
    held.reset();
    // Closed (or never opened), the port opens again.
    job.ui.Clear();
    job.SetComNumber(7);
    job.form.Request.User_BaudRate = 9600;
    EXPECT_EQ(job.OpenThroughComFolder(folder.Path()), 0);
    ComPortClose(&job.form.Link);
  }
}

TEST_F(ComPortTest, OnlyTerminalsOpenAsPorts) {
  for (const char* path : {"/nonexistent/ttyS0", "/dev/null", "/proc/self/status"}) {
    EXPECT_TRUE(OpenLinuxSerialPort(path, lumo_test::TestPortConfig()) == nullptr) << path;
  }
  TestJob job;
  const PortConfig config = lumo_test::TestPortConfig();
  auto first = OpenLinuxSerialPort(job.unit.SlavePath(), config);
  ASSERT_TRUE(first != nullptr);
  EXPECT_TRUE(OpenLinuxSerialPort(job.unit.SlavePath(), config) == nullptr);  // held by this process too
  first.reset();
  EXPECT_TRUE(OpenLinuxSerialPort(job.unit.SlavePath(), config) != nullptr);  // released on close
}

TEST_F(ComPortTest, CloseWithoutOpenDoesNothing) {
  TestJob job;
  ComPortClose(&job.form.Link);
  ComPortClose(&job.form.Link);
  EXPECT_FALSE(job.form.Link.ComPort_Opened.load());
  EXPECT_TRUE(job.ui.Messages().empty());
}

// The line settings: every rate goes through as 8N1 and reads back on the terminal.
TEST_F(ComPortTest, ConfigBaudRateSetsEveryRate) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  for (int32_t rate : {9600, 14400, 19200, 38400, 57600, 115200, 230400, 921600, 1000000}) {
    EXPECT_EQ(ConfigBaudRate(&job.form.Link, rate), RateSet::Applied) << rate;
    EXPECT_EQ(job.unit.HostRate(), rate);
    EXPECT_EQ(job.form.Link.Line_Settings.BaudRate, static_cast<uint32_t>(rate));
    EXPECT_EQ(job.form.Link.Line_Settings.ByteSize, 8);
    EXPECT_EQ(job.form.Link.Line_Settings.Parity, 0);
    EXPECT_EQ(job.form.Link.Line_Settings.StopBits, 0);
  }
  for (int32_t rate : {0, -1, -115200}) {
    EXPECT_EQ(ConfigBaudRate(&job.form.Link, rate), RateSet::Refused) << rate;
    EXPECT_EQ(job.unit.HostRate(), 1000000);
  }
}

TEST_F(ComPortTest, ChangeBaudRateGoesThroughTheWindowThread) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  for (int32_t rate : {115200, 14400, 14400, 9600}) {  // the rate already set too
    const auto start = Clock::now();
    EXPECT_EQ(ChangeBaudRate(&job.form.Link, rate), RateSet::Applied) << rate;
    EXPECT_GE(MsSince(start), 100);
    EXPECT_EQ(job.unit.HostRate(), rate);
    EXPECT_EQ(job.form.Link.Baud_Request.load(), 0);
  }
  EXPECT_TRUE(job.ui.Messages().empty());
}

TEST_F(ComPortTest, RefusedBaudChangeFailsTheRequestBeforeTheAddressSet) {
  TestJob job(Options(), 9600, &ports);
  ports.RefuseRate(57600);
  ASSERT_EQ(job.OpenThroughComFolder(folder.Path()), 0);
  std::atomic<int32_t> requestAtAddressSet{0};
  job.form.Link.Baud_Failure_Address_Set = [&job, &requestAtAddressSet] {
    requestAtAddressSet.store(job.form.Link.Baud_Request.load());
    job.ui.ShowErrorMessage("(address set)");
  };
  job.Start();
  EXPECT_EQ(ChangeBaudRate(&job.form.Link, 57600), RateSet::Refused);
  EXPECT_EQ(job.form.Link.Baud_Request.load(), -1);
  EXPECT_EQ(job.unit.HostRate(), 9600);
  job.Stop();  // the window thread has finished its step
  EXPECT_EQ(requestAtAddressSet.load(), -1);
  EXPECT_EQ(job.ui.Messages(), (Strings{"(address set)", "ComPort  Error !!"}));
}

// Takes at most seven bytes a call; or nothing at all, while saying it worked.
class PiecemealPort : public lumo_test::SilentPort {
 public:
  explicit PiecemealPort(uint32_t perCall) : perCall_(perCall) {}
  bool Write(const uint8_t* b, uint32_t s, uint32_t& w) override {
    ++calls;
    w = std::min(s, perCall_);
    taken.insert(taken.end(), b, b + w);
    return true;
  }
  Bytes taken;
  int calls = 0;

 private:
  uint32_t perCall_;
};

TEST(WriteCommTest, DriverThatTakesPartsOrNothing) {
  struct Case {
    const char* name;
    uint32_t perCall;
    int32_t count;
    int32_t written;
    int calls;
    Strings messages;
  } cases[] = {
      {"a long buffer in parts", 7, 1000, 1000, 143, {}},
      {"whole at once", 4096, 1000, 1000, 1, {}},
      {"a call that succeeds without writing", 0, 100, 0, 1, {"Not Write Correctly !!"}},
      {"nothing to write", 7, 0, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lumo_test::TestPortFactory ports;
    lumo_test::RecordingUI ui;
    SerialLink link(ports, &ui);
    auto port = std::make_unique<PiecemealPort>(c.perCall);
    PiecemealPort* seen = port.get();
    link.ComPort_Handle = std::move(port);
    Bytes data(static_cast<size_t>(c.count));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(WriteComm(&link, data.data(), c.count), c.written);
    EXPECT_EQ(seen->calls, c.calls);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + c.written), seen->taken);
    EXPECT_EQ(ui.Messages(), c.messages);
  }
}

// Nobody reads the line: the pseudo-terminal fills up and the write ends
// short within its bound (line time and a half plus 500 ms).
TEST(WriteCommTest, StalledReaderEndsShortWithinTheBound) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  const int32_t rate = 4000000;
  ASSERT_EQ(ConfigBaudRate(&job.form.Link, rate), RateSet::Applied);
  job.unit.SetReading(false);
  const int32_t count = 256 * 1024;
  Bytes data(count, 0x55);
  const auto start = Clock::now();
  const int32_t written = WriteComm(&job.form.Link, data.data(), count);
  // It returns at all: the write gives up at its bound, never before the
  // line time and the margin.
  const int64_t elapsed = MsSince(start);
  EXPECT_LT(written, count);
  EXPECT_GT(written, 0);
  EXPECT_GE(elapsed, WriteBound(static_cast<uint32_t>(count), rate).count() - 1);
  EXPECT_FALSE(job.form.Link.Line_Gone.load());  // a stall, not a line that is gone
  EXPECT_EQ(job.ui.Messages(), Strings{"Not Write Correctly !!"});
  job.unit.SetReading(true);
}

TEST(WriteCommTest, HungUpLineWritesNothingAndReceivesNothing) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  job.unit.HangUp();
  // Real time: the unit's thread closes its side of the terminal.
  ASSERT_TRUE(WaitUntil([&] { return job.unit.HungUp(); }));
  const Bytes command = {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF};
  EXPECT_LT(WriteComm(&job.form.Link, command.data(), 8), 8);
  // Ended because the device is gone, not by the stalled-write bound.
  EXPECT_TRUE(job.form.Link.Line_Gone.load());
  EXPECT_EQ(job.ui.Messages(), Strings{"Not Write Correctly !!"});
  // Every pass of the receive thread is over once it has been joined.
  job.Stop();
  EXPECT_EQ(job.form.Link.Rx.Count(), 0u);
}

TEST(ReceiveThreadTest, BytesBetweenCommandsStayUntilTheNextReset) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  const Bytes early = {0x90, 0x41, 0xFF, 0x01, 0x02};
  job.unit.SendRawToHost(early);
  ASSERT_TRUE(job.WaitForRx(5));
  // The unit sent these five alone: a sixth byte stored would be one made up.
  EXPECT_EQ(job.RxBytes(), early);
  ResetReply(&job.form.Link);
  for (uint8_t b : job.RxBytes()) ASSERT_EQ(b, 0);  // zeroed
  job.unit.SendRawToHost({0x33});
  ASSERT_TRUE(job.WaitForRx(1));
  EXPECT_EQ(job.RxBytes(), Bytes{0x33});  // stored from the first byte again
}

// More than 1024 bytes after one reset: the first 1024 are kept, the rest is
// read and dropped, so the next reset starts clean.
TEST(ReceiveThreadTest, FloodNeitherOverflowsNorLingers) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  Bytes flood(5000);
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<uint8_t>(i * 13 + 1);
  job.unit.SendRawToHost(flood);
  ASSERT_TRUE(job.unit.WaitIdle());
  ASSERT_TRUE(job.WaitForRx(RX_BUFFER_SIZE));
  // The rest is read off the port and dropped.
  EXPECT_TRUE(WaitUntil([&] {
    uint32_t queued = 1;
    return job.form.Link.ComPort_Handle->QueuedInput(queued) && queued == 0;
  }));
  EXPECT_EQ(job.form.Link.Rx.Count(), static_cast<uint32_t>(RX_BUFFER_SIZE));
  EXPECT_EQ(job.RxBytes(), Bytes(flood.begin(), flood.begin() + RX_BUFFER_SIZE));
  ResetReply(&job.form.Link);
  job.unit.SendRawToHost({0x90, 0x51, 0xFF});
  ASSERT_TRUE(job.WaitForRx(3));
  EXPECT_EQ(job.RxBytes(), (Bytes{0x90, 0x51, 0xFF}));
}

// Resets from a sender while a flood is stored: under the lock, the count
// always equals the write position, and never exceeds the buffer.
TEST(ReceiveThreadTest, CountAndPositionKeepTheirInvariantUnderResets) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  ASSERT_EQ(ConfigBaudRate(&job.form.Link, 921600), RateSet::Applied);
  job.Start();
  std::atomic<bool> stop{false};
  std::atomic<int> violations{0}, checks{0};
  std::thread checker([&] {
    while (!stop.load()) {
      if (!RxBufferAccess::Consistent(job.form.Link.Rx)) violations.fetch_add(1);
      checks.fetch_add(1);
      std::this_thread::yield();
    }
  });
  std::thread resetter([&] {
    while (!stop.load()) {
      ResetReply(&job.form.Link);
      std::this_thread::yield();
    }
  });
  // Each flood is stored while the resets go on, and the checker looks at
  // least once after it has been sent out.
  for (int i = 0; i < 20; ++i) {
    job.unit.SendRawToHost(Bytes(700, static_cast<uint8_t>(i % 255 + 1)));
    ASSERT_TRUE(job.unit.WaitIdle());
    const int seen = checks.load();
    ASSERT_TRUE(WaitUntil([&] { return checks.load() > seen; })) << "the checker stood still";
  }
  stop.store(true);
  checker.join();
  resetter.join();
  EXPECT_EQ(violations.load(), 0);
}

// When the receive thread ends: after it has seen the job active and then
// not; and, when it never sees the job active, once the worker is not busy
// either for the idle bound.
TEST(ReceiveThreadTest, EndsInEveryOrderOfStart) {
  struct Case {
    const char* name;
    bool workerBusyAtStart;
    int activeAfterMs;  // -1: never
    int endAfterMs;     // Download_Active and Worker_Busy cleared
    int64_t minMs;      // it ends no earlier than this
  } cases[] = {
      {"job runs, then ends", true, 20, 100, 100},
      {"started after the job had ended", false, -1, 0, RECEIVE_IDLE_END.count()},
      {"worker busy but never active", true, -1, 150, 150 + RECEIVE_IDLE_END.count()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lumo_test::TestPortFactory ports;
    SerialLink link(ports);
    JobThreadFlags form;
    form.Worker_Busy.store(c.workerBusyAtStart);
    const auto start = Clock::now();
    auto reader = std::async(std::launch::async, [&] { ReceiveThread(&link, &form); });
    // Real time is the point: the receive thread's own passes and idle
    // bound. The sleeps set when the job becomes active and when it ends.
    if (c.activeAfterMs >= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(c.activeAfterMs));
      form.Download_Active.store(true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(c.endAfterMs - std::max(c.activeAfterMs, 0)));
    form.Download_Active.store(false);
    form.Worker_Busy.store(false);
    // A guard against a thread that never ends, not a measure of speed.
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    reader.get();
    const int64_t elapsed = MsSince(start);
    // The reader last saw the job busy up to one pass (a 2 ms sleep) before
    // it was cleared, and milliseconds are truncated: allow a few.
    EXPECT_GE(elapsed, c.minMs - 5);
    EXPECT_FALSE(form.Reader_Busy.load());
  }
}

}  // namespace
