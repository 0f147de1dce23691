// The wire trace and its place at the port seam: what a TracingPort records
// of a port it wraps, the file it leaves, its order in time, and recording
// from the job's threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "TraceFile.h"
#include "TracingPort.h"
#include "WireTrace.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using lumo_test::ReadTraceFile;
using lumo_test::TempFolder;
using lumo_test::TraceFile;
using lumo_test::TraceLine;

const Bytes ENTER = {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF};
const Bytes VERSION = {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x00, 0x01, 0x02, 0x03, 0x04, 0xFF};
const Bytes ACK_AND_COMPLETION = {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF};

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A device that does what the test says: how much a write takes, which rate
// it refuses, what reads deliver (one reply per write made, when asked to).
class ScriptedPort : public SerialPort {
 public:
  bool GetCommState(LineSettings& settings) override {
    std::lock_guard<std::mutex> hold(lock_);
    settings = settings_;
    return true;
  }
  bool SetCommState(const LineSettings& settings) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (settings.BaudRate == refusedRate) return false;
    settings_ = settings;
    return true;
  }
  bool QueuedInput(uint32_t& count) override {
    std::lock_guard<std::mutex> hold(lock_);
    count = 0;
    for (const Bytes& r : reads_) count += static_cast<uint32_t>(r.size());
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override {
    std::lock_guard<std::mutex> hold(lock_);
    got = 0;
    if (reads_.empty()) return true;
    Bytes& next = reads_.front();
    got = std::min<uint32_t>(size, static_cast<uint32_t>(next.size()));
    std::copy(next.begin(), next.begin() + got, buffer);
    next.erase(next.begin(), next.begin() + got);
    if (next.empty()) reads_.pop_front();
    return true;
  }
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      written = std::min(size, writeRoom);
      written_.insert(written_.end(), buffer, buffer + written);
      if (replyToWrites) reads_.push_back(ACK_AND_COMPLETION);
    }
    if (whileWriting) whileWriting();
    return written == size;
  }
  bool Gone() const override { return gone.load(); }
  void WaitForInput(std::chrono::milliseconds) override { ++waits; }
  void Wake() override { ++wakes; }

  void Deliver(const Bytes& bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    reads_.push_back(bytes);
  }
  Bytes Written() const {
    std::lock_guard<std::mutex> hold(lock_);
    return written_;
  }

  // Set before the port is shared between threads.
  uint32_t writeRoom = UINT32_MAX;
  uint32_t refusedRate = 0;
  bool replyToWrites = false;
  std::function<void()> whileWriting;  // before a write returns
  std::atomic<bool> gone{false};
  std::atomic<int> waits{0};
  std::atomic<int> wakes{0};

 private:
  mutable std::mutex lock_;
  LineSettings settings_;
  std::deque<Bytes> reads_;
  Bytes written_;
};

// Opens ScriptedPorts for "/dev/free" only; keeps a look at the last one.
class ScriptedFactory : public PortFactory {
 public:
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override {
    return std::vector<SerialDeviceEntry>{{"/dev/free", "COM1"}, {"/dev/held", "COM2"}};
  }
  bool Probe(const std::string& devicePath) override { return devicePath == "/dev/free"; }
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override {
    if (devicePath != "/dev/free") return nullptr;
    auto port = std::make_unique<ScriptedPort>();
    last = port.get();
    return port;
  }
  ScriptedPort* last = nullptr;  // owned by whoever opened it
};

bool SetRate(SerialPort& port, uint32_t rate) {
  LineSettings settings;
  settings.BaudRate = rate;
  return port.SetCommState(settings);
}

struct Expected {
  bool ToUnit;
  uint32_t Rate;
  const char* Name;
  Bytes Bytes_;
  bool Cut;
};

void ExpectFrames(const TraceFile& trace, const std::vector<Expected>& expected) {
  ASSERT_EQ(trace.Frames.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "frame " << k);
    const TraceLine& f = trace.Frames[k];
    EXPECT_EQ(f.ToUnit, expected[k].ToUnit);
    EXPECT_EQ(f.Rate, expected[k].Rate);
    EXPECT_EQ(f.Name, expected[k].Name);
    EXPECT_EQ(f.Bytes, expected[k].Bytes_);
    EXPECT_EQ(f.Cut, expected[k].Cut);
  }
}

// Everything passes through; the trace holds the bytes the device took and
// stored, at the last rate it took, and a note for each port.
TEST(TracingPort, PassesEverythingThroughAndRecordsWhatTheDeviceMoved) {
  TempFolder folder;
  const std::string path = folder.File("trace.txt");
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  {
    ScriptedFactory devices;
    TracingPortFactory ports(devices, trace);
    const auto list = ports.ListPorts();
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->size(), 2u);
    EXPECT_TRUE(ports.Probe("/dev/free"));
    EXPECT_FALSE(ports.Probe("/dev/held"));
    EXPECT_EQ(ports.Open("/dev/held"), nullptr);

    std::unique_ptr<SerialPort> port = ports.Open("/dev/free");
    ASSERT_TRUE(port);
    ScriptedPort* device = devices.last;
    EXPECT_TRUE(SetRate(*port, 9600));
    device->refusedRate = 14400;
    EXPECT_FALSE(SetRate(*port, 14400));
    LineSettings settings;
    ASSERT_TRUE(port->GetCommState(settings));
    EXPECT_EQ(settings.BaudRate, 9600u);

    uint32_t written = 0;
    EXPECT_TRUE(port->Write(ENTER.data(), static_cast<uint32_t>(ENTER.size()), written));
    EXPECT_EQ(written, ENTER.size());
    EXPECT_TRUE(SetRate(*port, 115200));
    device->Deliver({0x90, 0x41});
    device->Deliver({0xFF, 0x90, 0x51, 0xFF});
    uint32_t queued = 0;
    ASSERT_TRUE(port->QueuedInput(queued));
    EXPECT_EQ(queued, 6u);
    uint8_t buffer[64];
    uint32_t got = 0;
    ASSERT_TRUE(port->Read(buffer, sizeof buffer, got));
    EXPECT_EQ(got, 2u);
    ASSERT_TRUE(port->Read(buffer, sizeof buffer, got));
    EXPECT_EQ(got, 4u);
    // A write the device takes only part of: the rest never reaches the line.
    device->writeRoom = 3;
    EXPECT_FALSE(port->Write(VERSION.data(), static_cast<uint32_t>(VERSION.size()), written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(device->Written().size(), ENTER.size() + 3);

    EXPECT_FALSE(port->Gone());
    device->gone = true;
    EXPECT_TRUE(port->Gone());
    port->Wake();
    port->WaitForInput(std::chrono::milliseconds(5));
    EXPECT_EQ(device->wakes.load(), 1);
    EXPECT_EQ(device->waits.load(), 1);
  }
  EXPECT_TRUE(trace.Close());

  const TraceFile file = ReadTraceFile(path);
  ASSERT_TRUE(file.Read);
  EXPECT_TRUE(file.Malformed.empty()) << file.Malformed.front();
  ASSERT_EQ(file.Notes.size(), 4u);
  EXPECT_EQ(file.Notes[0].rfind("Lumo_DownloadTool wire trace, begun ", 0), 0u) << file.Notes[0];
  EXPECT_TRUE(EndsWith(file.Notes[1], "  port /dev/held could not be opened")) << file.Notes[1];
  EXPECT_TRUE(EndsWith(file.Notes[2], "  port /dev/free opened")) << file.Notes[2];
  EXPECT_TRUE(EndsWith(file.Notes[3], "  port closed")) << file.Notes[3];
  ExpectFrames(file, {{true, 9600, "command", ENTER, false},
                      {false, 115200, "reply", {0x90, 0x41, 0xFF}, false},
                      {false, 115200, "reply", {0x90, 0x51, 0xFF}, false},
                      {true, 115200, "command", {0x81, 0x01, 0x04}, true}});
}

// A trace file that cannot be made is told at once; the ports work without it.
TEST(WireTrace, AFileThatCannotBeMadeIsReported) {
  TempFolder folder;
  for (const std::string& path : {folder.File("no-such-folder/trace.txt"), folder.Path()}) {
    SCOPED_TRACE(path);
    WireTrace trace(path);
    EXPECT_FALSE(trace.IsOpen());
    ScriptedFactory devices;
    TracingPortFactory ports(devices, trace);
    std::unique_ptr<SerialPort> port = ports.Open("/dev/free");
    ASSERT_TRUE(port);
    uint32_t written = 0;
    EXPECT_TRUE(port->Write(ENTER.data(), static_cast<uint32_t>(ENTER.size()), written));
    EXPECT_EQ(devices.last->Written(), ENTER);
    port.reset();
    EXPECT_FALSE(trace.Close());
  }
  EXPECT_FALSE(fs::exists(folder.File("no-such-folder")));
}

// Lines stand in the order of their times across both directions, also when
// a frame is only told once its next byte comes (a resync byte, a reply split
// over two reads).
TEST(WireTrace, LinesFollowTheirTimesWhenAFrameWaitsForMoreBytes) {
  TempFolder folder;
  const std::string path = folder.File("trace.txt");
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  // Real time: the trace stamps each line from the steady clock; a step makes
  // the next bytes' stamp a later one.
  const auto step = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
  const Bytes resync = {0x03}, ack = {0x00, 0xCC}, ping = {0x03, 0x20, 0x20};
  trace.PortOpened("/dev/unit");
  trace.Sent(resync.data(), resync.size(), 115200);
  step();
  trace.Received(ack.data(), ack.size(), 115200);
  step();
  trace.Sent(ping.data(), ping.size(), 115200);
  step();
  trace.Received(ACK_AND_COMPLETION.data(), 2, 9600);
  step();
  trace.Sent(ENTER.data(), ENTER.size(), 9600);
  step();
  trace.Received(ACK_AND_COMPLETION.data() + 2, 1, 9600);
  EXPECT_TRUE(trace.Close());

  const TraceFile file = ReadTraceFile(path);
  EXPECT_TRUE(file.Malformed.empty());
  ExpectFrames(file, {{true, 115200, "resync", resync, false},
                      {false, 115200, "ACK", ack, false},
                      {true, 115200, "PING", ping, false},
                      {false, 9600, "reply", {0x90, 0x41, 0xFF}, false},
                      {true, 9600, "command", ENTER, false}});
  for (size_t k = 1; k < file.Frames.size(); ++k) EXPECT_LT(file.Frames[k - 1].Micros, file.Frames[k].Micros);
}

// A write whose call comes back only after the unit's answer was read (the
// sender was held up) still stands before that answer: it is timed at its start.
TEST(TracingPort, AWriteStandsBeforeTheAnswerReadWhileItRan) {
  TempFolder folder;
  const std::string path = folder.File("trace.txt");
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  {
    ScriptedFactory devices;
    TracingPortFactory ports(devices, trace);
    std::unique_ptr<SerialPort> port = ports.Open("/dev/free");
    ASSERT_TRUE(port);
    ASSERT_TRUE(SetRate(*port, 9600));
    ScriptedPort* device = devices.last;
    device->replyToWrites = true;
    device->whileWriting = [&] {
      std::thread receiver([&] {
        // Real time: the reply is read with a later stamp than the write's start.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        uint8_t buffer[16];
        uint32_t got = 0;
        EXPECT_TRUE(port->Read(buffer, sizeof buffer, got));
        EXPECT_EQ(got, ACK_AND_COMPLETION.size());
      });
      receiver.join();
      // Real time: the write ends with a later stamp than the reply's.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    uint32_t written = 0;
    EXPECT_TRUE(port->Write(ENTER.data(), static_cast<uint32_t>(ENTER.size()), written));
  }
  EXPECT_TRUE(trace.Close());
  ExpectFrames(ReadTraceFile(path), {{true, 9600, "command", ENTER, false},
                                     {false, 9600, "reply", {0x90, 0x41, 0xFF}, false},
                                     {false, 9600, "reply", {0x90, 0x51, 0xFF}, false}});
}

// Each port is a stream of its own: a frame the closing port cut short is
// written as cut, and the next port starts afresh. Once closed, the trace
// takes nothing more.
TEST(WireTrace, EachPortIsAStreamOfItsOwn) {
  TempFolder folder;
  const std::string path = folder.File("trace.txt");
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  trace.PortOpened("/dev/a");
  trace.Sent(ENTER.data(), 3, 9600);
  trace.PortClosed();
  trace.PortOpened("/dev/b");
  // Bytes that would have ended the command on the port before.
  const Bytes tail = {0x75, 0xFF};
  trace.Sent(tail.data(), tail.size(), 9600);
  trace.Sent(ENTER.data(), ENTER.size(), 9600);
  // The trace's end ends the port too.
  trace.Sent(ENTER.data(), 2, 9600);
  EXPECT_TRUE(trace.Close());
  trace.Sent(ENTER.data(), ENTER.size(), 9600);
  EXPECT_TRUE(trace.Close());

  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_TRUE(EndsWith(lines[1], "port /dev/a opened")) << lines[1];
  EXPECT_TRUE(EndsWith(lines[2], "command     81 01 04 cut")) << lines[2];
  EXPECT_TRUE(EndsWith(lines[3], "port closed")) << lines[3];
  EXPECT_TRUE(EndsWith(lines[4], "port /dev/b opened")) << lines[4];
  EXPECT_TRUE(EndsWith(lines[5], "noise       75 FF")) << lines[5];
  EXPECT_TRUE(EndsWith(lines[6], "command     81 01 04 75 BB CC DD FF")) << lines[6];
  EXPECT_TRUE(EndsWith(lines[7], "command     81 01 cut")) << lines[7];
}

// The job's threads record at once: the worker writes, the receive thread
// reads, the window thread changes the rate. Nothing is lost or torn, and the
// lines keep their time order.
TEST(WireTrace, TheJobsThreadsRecordAtOnce) {
  TempFolder folder;
  const std::string path = folder.File("trace.txt");
  constexpr int COMMANDS = 400;
  WireTrace trace(path);
  ASSERT_TRUE(trace.IsOpen());
  {
    ScriptedFactory devices;
    TracingPortFactory ports(devices, trace);
    std::unique_ptr<SerialPort> port = ports.Open("/dev/free");
    ASSERT_TRUE(port);
    devices.last->replyToWrites = true;
    ASSERT_TRUE(SetRate(*port, 9600));

    std::atomic<bool> writing{true};
    std::thread worker([&] {
      for (int k = 0; k < COMMANDS; ++k) {
        uint32_t written = 0;
        EXPECT_TRUE(port->Write(ENTER.data(), static_cast<uint32_t>(ENTER.size()), written));
        // Real time: now and then the other threads get the port between writes.
        if (k % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      writing = false;
    });
    std::thread receiver([&] {
      uint8_t buffer[5];  // small: replies are read in pieces
      for (;;) {
        const bool last = !writing.load();
        uint32_t got = 0;
        while (port->Read(buffer, sizeof buffer, got) && got > 0) {
        }
        if (last) break;
        std::this_thread::yield();
      }
    });
    std::thread window([&] {
      for (int k = 0; writing.load(); ++k) {
        EXPECT_TRUE(SetRate(*port, k % 2 ? 9600 : 115200));
        // Real time: rate changes spread over the writes, as a window's would.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    worker.join();
    receiver.join();
    window.join();
  }
  EXPECT_TRUE(trace.Close());

  const TraceFile file = ReadTraceFile(path);
  EXPECT_TRUE(file.Malformed.empty());
  Bytes commands, replies;
  for (int k = 0; k < COMMANDS; ++k) {
    commands.insert(commands.end(), ENTER.begin(), ENTER.end());
    replies.insert(replies.end(), ACK_AND_COMPLETION.begin(), ACK_AND_COMPLETION.end());
  }
  EXPECT_EQ(file.BytesOf(true), commands);
  EXPECT_EQ(file.BytesOf(false), replies);
  EXPECT_EQ(file.Count("command", true), static_cast<size_t>(COMMANDS));
  EXPECT_EQ(file.Count("reply", false), static_cast<size_t>(2 * COMMANDS));
  for (size_t k = 0; k < file.Frames.size(); ++k) {
    EXPECT_TRUE(file.Frames[k].Rate == 9600 || file.Frames[k].Rate == 115200) << file.Frames[k].Rate;
    if (k > 0) {
      EXPECT_LE(file.Frames[k - 1].Micros, file.Frames[k].Micros) << "line " << k;
    }
  }
}

}  // namespace
