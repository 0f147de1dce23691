// The simulated unit's core and its camera, driven through the real serial
// link on a pseudo-terminal.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "SerialDeviceMap.h"
#include "OtherProgram.h"
#include "SerialLink.h"
#include "LinuxSerialPort.h"
#include "TestContext.h"

namespace {

using lumo_test::ComFolder;
using lumo_test::TestJob;
using sim::FaultKind;
using sim::UnitPart;
using sim::WireDirection;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

const Bytes ENTER = {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF};
const Bytes ANNOUNCE = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};
const Bytes ADDRESS_SET = {0x88, 0x30, 0x01, 0xFF};
const Bytes ACK_COMPLETION = {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF};
const Bytes ADDRESS_REPLY = {0x88, 0x30, 0x02, 0xFF};

// What the host stores of everything the unit has sent since its wire
// record held sentBefore bytes toward the host: once the unit is quiet, the
// receive thread is waited for (bounded) until it has stored all of it.
Bytes StoredOfAllSent(TestJob& job, size_t sentBefore) {
  EXPECT_TRUE(job.unit.WaitIdle());
  const size_t sent = job.unit.WireBytes(WireDirection::ToHost).size() - sentBefore;
  EXPECT_TRUE(job.WaitForRx(static_cast<uint32_t>(std::min<size_t>(sent, RX_BUFFER_SIZE))));
  return job.RxBytes();
}

// Resets the reply buffer, sends bytes at the line's current rate, and
// returns what came back once the unit is quiet and all of it is stored.
// expect: kept for the readers of the cases; the wait is for what was sent.
Bytes Exchange(TestJob& job, const Bytes& bytes, size_t expect = 0) {
  (void)expect;
  ResetReply(&job.form.Link);
  const size_t sentBefore = job.unit.WireBytes(WireDirection::ToHost).size();
  const size_t heardBefore = job.unit.WireBytes(WireDirection::ToUnit).size();
  EXPECT_EQ(WriteComm(&job.form.Link, bytes.data(), static_cast<int32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
  // The unit's quiet counts only once it has taken the bytes off the line:
  // on a loaded machine the terminal may hand them over later than its quiet lasts.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (job.unit.WireBytes(WireDirection::ToUnit).size() < heardBefore + bytes.size() && Clock::now() < deadline) {
    // Real time: the unit's thread takes the bytes off the terminal.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return StoredOfAllSent(job, sentBefore);
}

void SetRate(TestJob& job, int32_t rate) { ASSERT_EQ(ConfigBaudRate(&job.form.Link, rate), RateSet::Applied); }

// One session with the camera: each step's bytes go out at the step's rate.
TEST(SimCamera, CommandInterfaceStepByStep) {
  struct Step {
    const char* name;
    int32_t rate;
    Bytes sent;
    Bytes reply;
    bool downloadMode;
    UnitPart listening;
  } steps[] = {
      {"announce outside download mode", 9600, ANNOUNCE, {}, false, UnitPart::Camera},
      {"unknown command", 9600, {0x81, 0x01, 0x06, 0x01, 0xFF}, {}, false, UnitPart::Camera},
      {"address set at the own rate", 9600, ADDRESS_SET, ADDRESS_REPLY, false, UnitPart::Camera},
      {"enter download at a wrong rate is not heard", 115200, ENTER, {}, false, UnitPart::Camera},
      {"enter download", 9600, ENTER, ACK_COMPLETION, true, UnitPart::Camera},
      {"the own rate is no longer heard", 9600, ADDRESS_SET, {}, true, UnitPart::Camera},
      {"announce in download mode", 115200, ANNOUNCE, ACK_COMPLETION, true, UnitPart::Camera},
      {"version write, first pair", 115200, {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x00, 0x01, 0x02, 0x03, 0x04, 0xFF},
       ACK_COMPLETION, true, UnitPart::Camera},
      {"version write, second pair", 115200, {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x01, 0x05, 0x06, 0x07, 0x08, 0xFF},
       ACK_COMPLETION, true, UnitPart::Camera},
      {"address set answers at 115200 and leaves download mode", 115200, ADDRESS_SET, ADDRESS_REPLY, false,
       UnitPart::Camera},
      {"camera-board loader entry outside download mode", 9600, {0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF}, {}, false,
       UnitPart::Camera},
      {"control-board loader entry at the own rate", 9600, {0x81, 0xAA, 0xBB, 0x00, 0xFF}, {}, false,
       UnitPart::ControlBoardLoader},
  };
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    SetRate(job, s.rate);
    EXPECT_EQ(Exchange(job, s.sent, s.reply.size()), s.reply);
    EXPECT_EQ(job.unit.CameraInDownloadMode(), s.downloadMode);
    EXPECT_EQ(job.unit.Listening(), s.listening);
  }
  EXPECT_EQ(job.unit.DspVersion(0), 0x1234);
  EXPECT_EQ(job.unit.DspVersion(1), 0x5678);
}

TEST(SimCamera, CameraBoardLoaderEntryFromDownloadMode) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  EXPECT_EQ(Exchange(job, ENTER, ACK_COMPLETION.size()), ACK_COMPLETION);
  SetRate(job, 115200);
  Exchange(job, {0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF});
  EXPECT_EQ(job.unit.Listening(), UnitPart::CameraBoardLoader);
}

TEST(SimCamera, OwnRateAndLoaderListeningAtStart) {
  sim::SimOptions fast;
  fast.CameraRate = 38400;
  TestJob at38400(fast, 38400);
  ASSERT_TRUE(at38400.Open());
  at38400.Start();
  EXPECT_EQ(Exchange(at38400, ENTER, ACK_COMPLETION.size()), ACK_COMPLETION);
  at38400.Stop();

  sim::SimOptions loader;
  loader.ListeningAtStart = UnitPart::ControlBoardLoader;
  TestJob job(loader);
  ASSERT_TRUE(job.Open());
  job.Start();
  EXPECT_EQ(job.unit.Listening(), UnitPart::ControlBoardLoader);
  EXPECT_EQ(Exchange(job, ENTER), Bytes{});  // the camera does not hear the line
}

// The wire record: every byte in each direction with the rate it went at.
TEST(SimWire, RecordsBothDirectionsWithTheirRates) {
  TestJob job;
  ASSERT_TRUE(job.Open());
  job.Start();
  Exchange(job, ENTER);
  SetRate(job, 115200);
  Exchange(job, ANNOUNCE);
  struct Expected {
    WireDirection direction;
    Bytes bytes;
    int rate;
  } expected[] = {
      {WireDirection::ToUnit, ENTER, 9600},
      {WireDirection::ToHost, ACK_COMPLETION, 9600},
      {WireDirection::ToUnit, ANNOUNCE, 115200},
      {WireDirection::ToHost, ACK_COMPLETION, 115200},
  };
  const auto wire = job.unit.Wire();
  size_t at = 0;
  for (const Expected& e : expected) {
    for (uint8_t b : e.bytes) {
      ASSERT_LT(at, wire.size());
      EXPECT_EQ(wire[at].Direction, e.direction);
      EXPECT_EQ(wire[at].Byte, b);
      EXPECT_EQ(wire[at].Rate, e.rate);
      if (at > 0) {
        EXPECT_GE(wire[at].Time, wire[at - 1].Time);
      }
      ++at;
    }
  }
  EXPECT_EQ(at, wire.size());
}

// A reply sent at the camera's rate while the host listens at another
// arrives as garbage: none of it forms a reply.
TEST(SimWire, ReplyAtAnotherRateIsGarbage) {
  sim::SimOptions late;
  late.Faults.push_back({FaultKind::LateReply, UnitPart::Camera, 0x75, 0, 1, 200});
  TestJob job(late);
  ASSERT_TRUE(job.Open());
  job.Start();
  ResetReply(&job.form.Link);
  ASSERT_EQ(WriteComm(&job.form.Link, ENTER.data(), 8), 8);
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  // Real time: the unit's thread takes the command off the terminal.
  while (job.unit.WireBytes(WireDirection::ToUnit).size() < 8 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  SetRate(job, 115200);  // before the late reply goes out
  ASSERT_TRUE(job.WaitForRx(6));
  const Bytes got = job.RxBytes();
  EXPECT_EQ(got.size(), 6u);
  for (uint8_t b : got) EXPECT_LT(b, 0x80);
}

TEST(SimWire, PacingTakesTenBitTimesPerByte) {
  sim::SimOptions paced;
  paced.Pacing = true;
  TestJob job(paced);
  ASSERT_TRUE(job.Open());
  job.Start();
  const Bytes filler(96, 0x00);  // not a frame: the camera ignores it
  const auto start = Clock::now();
  ASSERT_EQ(WriteComm(&job.form.Link, filler.data(), 96), 96);
  ASSERT_TRUE(job.unit.WaitIdle());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(95));  // 96 bytes at 9600: 100 ms
  EXPECT_EQ(Exchange(job, ENTER, ACK_COMPLETION.size()), ACK_COMPLETION);
  const auto wire = job.unit.Wire();
  std::vector<Clock::time_point> toHost;
  for (const auto& w : wire) {
    if (w.Direction == WireDirection::ToHost) toHost.push_back(w.Time);
  }
  ASSERT_EQ(toHost.size(), 6u);
  EXPECT_GE(toHost.back() - toHost.front(), std::chrono::microseconds(5 * 1000 - 200));  // 5 byte times
}

// Over a long transfer the unit hears the host at the line rate: every byte
// has its own due time, so late wake-ups of the unit do not add up. The
// wire record keeps those times.
TEST(SimWire, PaceOfALongTransferIsTheLineRate) {
  sim::SimOptions paced;
  paced.Pacing = true;
  TestJob job(paced, 115200);
  ASSERT_TRUE(job.Open());
  job.Start();
  const Bytes filler(2000, 0x00);  // not a frame: the camera ignores it
  ASSERT_EQ(WriteComm(&job.form.Link, filler.data(), 2000), 2000);
  ASSERT_TRUE(job.unit.WaitIdle(std::chrono::milliseconds(5000)));
  std::vector<Clock::time_point> heard;
  for (const auto& w : job.unit.Wire()) {
    if (w.Direction == WireDirection::ToUnit) heard.push_back(w.Time);
  }
  ASSERT_EQ(heard.size(), 2000u);
  const double perByte =
      std::chrono::duration<double, std::micro>(heard.back() - heard.front()).count() / (heard.size() - 1);
  const double lineByte = std::chrono::duration<double, std::micro>(sim::ByteTime(115200)).count();
  EXPECT_NEAR(perByte, lineByte, lineByte * 0.01) << "microseconds per byte";
}

// The reply faults of the table, on the enter-download command (match 0x75).
TEST(SimFaults, ReplyFaults) {
  struct Case {
    const char* name;
    sim::Fault fault;
    Bytes reply;           // what the host stores
    bool downloadMode;     // the command took effect
    int64_t minReplyMs;    // reply delay at least
    uint32_t minRxCount;   // with noise behind the reply
    bool hungUp;
  } cases[] = {
      {"silence", {FaultKind::Silence, UnitPart::Camera, 0x75}, {}, false, 0, 0, false},
      {"dropped reply", {FaultKind::DropReply, UnitPart::Camera, 0x75}, {}, true, 0, 0, false},
      {"corrupt reply", {FaultKind::CorruptReply, UnitPart::Camera, 0x75, 0, 1, 1},
       {0x90, 0x41 ^ 0x5A, 0xFF, 0x90, 0x51, 0xFF}, true, 0, 0, false},
      {"corrupt command", {FaultKind::CorruptIncoming, UnitPart::Camera, 0x75, 0, 1, 4}, {}, false, 0, 0, false},
      {"late reply", {FaultKind::LateReply, UnitPart::Camera, 0x75, 0, 1, 150}, ACK_COMPLETION, true, 150, 0, false},
      {"noise flood past the buffer", {FaultKind::NoiseFlood, UnitPart::Camera, 0x75, 0, 1, 3000}, {}, true, 0,
       RX_BUFFER_SIZE, false},
      {"hang-up", {FaultKind::HangUp, UnitPart::Camera, 0x75}, ACK_COMPLETION, true, 0, 0, true},
      {"another command's fault", {FaultKind::Silence, UnitPart::Camera, 0x99}, ACK_COMPLETION, true, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimOptions options;
    options.Faults.push_back(c.fault);
    TestJob job(options);
    ASSERT_TRUE(job.Open());
    job.Start();
    const auto start = Clock::now();
    ResetReply(&job.form.Link);
    const size_t sentBefore = job.unit.WireBytes(WireDirection::ToHost).size();
    ASSERT_EQ(WriteComm(&job.form.Link, ENTER.data(), 8), 8);
    if (!c.reply.empty()) {
      ASSERT_TRUE(job.WaitForRx(static_cast<uint32_t>(c.reply.size())));
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(c.minReplyMs));
    }
    if (c.minRxCount > 0) {
      EXPECT_TRUE(job.WaitForRx(c.minRxCount));
    } else {
      EXPECT_EQ(StoredOfAllSent(job, sentBefore), c.reply);
    }
    if (c.minRxCount > 0) {
      const Bytes got = job.RxBytes();
      EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), ACK_COMPLETION);
    }
    EXPECT_EQ(job.unit.CameraInDownloadMode(), c.downloadMode);
    if (c.hungUp) {
      const auto deadline = Clock::now() + std::chrono::seconds(2);
      // Real time: the unit's thread closes its side of the terminal.
      while (!job.unit.HungUp() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(job.unit.HungUp(), c.hungUp);
  }
}

// Occurrence and Times pick which messages of a class a fault hits.
TEST(SimFaults, OccurrenceAndTimesCountMessages) {
  sim::SimOptions options;
  options.Faults.push_back({FaultKind::Silence, UnitPart::Camera, 0x30, 1, 2, 0});  // 2nd and 3rd address set
  TestJob job(options);
  ASSERT_TRUE(job.Open());
  job.Start();
  const Bytes expected[] = {ADDRESS_REPLY, {}, {}, ADDRESS_REPLY};
  for (const Bytes& reply : expected) EXPECT_EQ(Exchange(job, ADDRESS_SET, reply.size()), reply);
}

// The unit works the master side only: no descriptor of this process
// refers to the slave, so port discovery sees nobody on it. It still sets the
// slave raw at the camera's rate before any host comes, reads the rates the
// host sets, and its line lives on while the host closes and reopens it.
TEST(SimLine, UnitHoldsNoDescriptorOfItsPort) {
  TestJob job;
  struct stat slave {};
  ASSERT_EQ(stat(job.unit.SlavePath().c_str(), &slave), 0);
  int descriptors = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (const dirent* e = readdir(fds)) {
      struct stat st {};
      const std::string path = std::string("/proc/self/fd/") + e->d_name;
      if (e->d_name[0] != '.' && stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == slave.st_rdev)
        ++descriptors;
    }
    closedir(fds);
  }
  EXPECT_EQ(descriptors, 0);

  EXPECT_EQ(job.unit.HostRate(), 9600);
  {
    const int fd = open(job.unit.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const auto settings = lumo_test::TerminalSettings::Of(fd);
    close(fd);
    EXPECT_FALSE(settings.Echo());
    EXPECT_FALSE(settings.Canonical());
  }

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(job.Open());
    job.Start();  // the window thread has nothing to do here
    EXPECT_EQ(Exchange(job, ADDRESS_SET), ADDRESS_REPLY);
    SetRate(job, 115200);
    EXPECT_EQ(job.unit.HostRate(), 115200);
    EXPECT_EQ(Exchange(job, ADDRESS_SET), Bytes{});  // not heard at a rate not its own
    job.Stop();  // closes the port
  }
  EXPECT_FALSE(job.unit.HungUp());
}

// A tool killed while it has the port (kill -9) never clears the exclusive
// mark it set on the unit's terminal, and the unit keeps the terminal alive:
// the unit clears the mark once nobody has the port, so the next job opens
// it instead of finding it refused for as long as the unit runs.
TEST(SimLine, PortOfAKilledToolOpensAgain) {
  int path[2], ready[2];
  ASSERT_EQ(pipe2(path, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  // The tool's process is forked before the unit's thread runs; the port's
  // path reaches it through a pipe.
  const pid_t tool = fork();
  if (tool == 0) {
    close(path[1]);
    close(ready[0]);
    char name[256] = {};
    if (read(path[0], name, sizeof name - 1) <= 0) _exit(1);
    auto port = OpenLinuxSerialPort(name, lumo_test::TestPortConfig());
    const char answer = port ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    pause();  // until killed, the port still open
    _exit(0);
  }
  ASSERT_GT(tool, 0);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid <= 0) return;
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  } reaper{tool};
  close(path[0]);
  close(ready[1]);

  sim::SimUnit unit;
  ASSERT_EQ(write(path[1], unit.SlavePath().c_str(), unit.SlavePath().size()),
            static_cast<ssize_t>(unit.SlavePath().size()));
  close(path[1]);
  pollfd answer{ready[0], POLLIN, 0};
  char opened = 'n';
  ASSERT_EQ(poll(&answer, 1, 10000), 1) << "the tool did not answer";
  ASSERT_EQ(read(ready[0], &opened, 1), 1);
  close(ready[0]);
  ASSERT_EQ(opened, 'y') << "the tool could not open the port";
  const PortConfig config = lumo_test::TestPortConfig();
  EXPECT_TRUE(OpenLinuxSerialPort(unit.SlavePath(), config) == nullptr) << "the tool's port was not exclusive";

  kill(tool, SIGKILL);
  ASSERT_EQ(waitpid(tool, nullptr, 0), tool);
  reaper.pid = -1;

  std::unique_ptr<SerialPort> next;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!(next = OpenLinuxSerialPort(unit.SlavePath(), config)) && Clock::now() < deadline) {
    // Real time: the kernel releases the killed process's hold on the port.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(next != nullptr) << "the port stayed refused after the tool was killed";
  // The next tool holds the port as its own.
  EXPECT_TRUE(OpenLinuxSerialPort(unit.SlavePath(), config) == nullptr);
}

// A COM folder holds COM<n> as a link to the unit's terminal while the unit
// runs; the device map (and with it the tool's port box) lists it.
TEST(SimComFolder, LinkIsListedAndRemoved) {
  ComFolder folder;
  const PortConfig config = lumo_test::TestPortConfig(folder.Path());
  std::string link;
  {
    sim::SimOptions options;
    options.ComDir = folder.Path();
    options.ComNumber = 3;
    sim::SimUnit unit(options);
    link = unit.ComLinkPath();
    EXPECT_EQ(link, folder.Path() + "/COM3");
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), unit.SlavePath());
    const auto map = ReadSerialDeviceMap(config);
    ASSERT_TRUE(map.has_value());
    ASSERT_EQ(map->size(), 1u);
    EXPECT_EQ((*map)[0].Data, "COM3");
    const auto device = ResolveDevicePath("\\\\.\\COM3", *map);
    EXPECT_EQ(device, std::optional<std::string>((*map)[0].ValueName));
    ASSERT_TRUE(device.has_value());
    auto port = OpenLinuxSerialPort(*device, config);
    EXPECT_TRUE(port != nullptr);
  }
  EXPECT_NE(access(link.c_str(), F_OK), 0);
}

}  // namespace
