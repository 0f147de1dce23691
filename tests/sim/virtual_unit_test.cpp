// The unit's parts on an in-process line in virtual time: when bytes arrive
// on either side, what the parts hear, and what the reply schedule does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

#include "DspDownload.h"
#include "LoaderModel.h"
#include "LoaderPacket.h"
#include "VirtualUnit.h"

namespace {

using namespace std::chrono_literals;
using sim::ByteTime;
using sim::ReplyAction;
using sim::ReplyFault;
using sim::UnitPart;
using sim::VirtualUnit;
using sim::VirtualUnitOptions;
using sim::WireDirection;
using Bytes = std::vector<uint8_t>;
using Time = VirtualUnit::Time;

const Bytes ENTER = {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF};
const Bytes ANNOUNCE = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};
const Bytes ADDRESS_SET = {0x88, 0x30, 0x01, 0xFF};
const Bytes CONTROL_LOADER_ENTRY = {0x81, 0xAA, 0xBB, 0x00, 0xFF};
const Bytes ACK_COMPLETION = {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF};
const Bytes ADDRESS_REPLY = {0x88, 0x30, 0x02, 0xFF};
const Bytes LOADER_ACK = {0x00, 0xCC};
const Bytes PING = lumo_test::LoaderPacket(0x20);
const Bytes RESET = lumo_test::LoaderPacket(0x25);

Bytes LoaderDownload(uint32_t address, uint32_t length) {
  Bytes d;
  for (uint32_t v : {address, length})
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<uint8_t>(v >> shift));
  return lumo_test::LoaderPacket(0x21, d);
}

Bytes Garbled(const Bytes& bytes) {
  Bytes g;
  for (uint8_t b : bytes) g.push_back(sim::Garble(b));
  return g;
}

Bytes Noise(size_t count) {
  sim::NoiseSource source;
  Bytes n(count);
  for (uint8_t& b : n) b = source.Next();
  return n;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Time At(std::chrono::microseconds offset) { return Time{} + offset; }

// When the last of count bytes written at `at` on an idle line arrives.
Time Arrival(Time at, size_t count, int rate) { return at + static_cast<int64_t>(count) * ByteTime(rate); }

void Write(VirtualUnit& unit, const Bytes& bytes, int rate, Time at) {
  unit.HostWrite(bytes.data(), bytes.size(), rate, at);
}

// Runs the unit to `until` and takes everything that has reached the host by then.
Bytes RunAndTake(VirtualUnit& unit, Time until, int hostRate) {
  unit.RunUntil(until);
  Bytes got(unit.QueuedForHost(until) + 1);
  got.resize(unit.TakeForHost(got.data(), got.size(), until, hostRate));
  return got;
}

// The wire record of one direction.
std::vector<sim::WireByte> WireOf(const VirtualUnit& unit, WireDirection direction) {
  std::vector<sim::WireByte> out;
  for (const sim::WireByte& w : unit.Wire()) {
    if (w.Direction == direction) out.push_back(w);
  }
  return out;
}

// Each byte reaches the other side ten bit times at its rate after the one
// before; a reply starts when the command's last byte has been heard, at the
// rate the camera listens at then.
TEST(VirtualUnitLine, CameraRepliesArriveAtTheByteTimesOfTheirRates) {
  struct Step {
    const char* name;
    int rate;
    Bytes command;
    Bytes reply;
  } steps[] = {
      {"enter download at the own rate", 9600, ENTER, ACK_COMPLETION},
      {"announce in download mode", 115200, ANNOUNCE, ACK_COMPLETION},
      {"address set, answered at 115200", 115200, ADDRESS_SET, ADDRESS_REPLY},
      {"back at the own rate", 9600, ADDRESS_SET, ADDRESS_REPLY},
  };
  VirtualUnit unit;
  Time at = At(5ms);
  size_t unitSeen = 0, hostSeen = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const auto byteTime = ByteTime(s.rate);
    // Written in two parts at the same instant: the second part follows the
    // first on the line.
    const size_t half = s.command.size() / 2;
    Write(unit, Bytes(s.command.begin(), s.command.begin() + half), s.rate, at);
    Write(unit, Bytes(s.command.begin() + half, s.command.end()), s.rate, at);
    const Time heard = Arrival(at, s.command.size(), s.rate);

    unit.RunUntil(heard - 1ns);
    EXPECT_EQ(unit.NextEvent(heard - 1ns), heard);
    EXPECT_EQ(unit.QueuedForHost(heard + byteTime), 0u) << "no reply before the command's last byte";
    unit.RunUntil(heard);
    EXPECT_EQ(unit.NextEvent(heard), heard + byteTime);
    EXPECT_EQ(unit.QueuedForHost(heard + byteTime - 1ns), 0u);
    EXPECT_EQ(unit.QueuedForHost(heard + byteTime), 1u);
    const Time replied = Arrival(heard, s.reply.size(), s.rate);
    EXPECT_EQ(unit.QueuedForHost(replied - 1ns), s.reply.size() - 1);
    EXPECT_EQ(RunAndTake(unit, replied, s.rate), s.reply);
    EXPECT_EQ(unit.NextEvent(replied), Time::max());

    const auto toUnit = WireOf(unit, WireDirection::ToUnit);
    ASSERT_EQ(toUnit.size(), unitSeen + s.command.size());
    for (size_t i = 0; i < s.command.size(); ++i) {
      const sim::WireByte& w = toUnit[unitSeen + i];
      EXPECT_EQ(w.Byte, s.command[i]);
      EXPECT_EQ(w.Rate, s.rate);
      EXPECT_EQ(w.Time, Arrival(at, i + 1, s.rate)) << "command byte " << i;
    }
    const auto toHost = WireOf(unit, WireDirection::ToHost);
    ASSERT_EQ(toHost.size(), hostSeen + s.reply.size());
    for (size_t i = 0; i < s.reply.size(); ++i) {
      const sim::WireByte& w = toHost[hostSeen + i];
      EXPECT_EQ(w.Byte, s.reply[i]);
      EXPECT_EQ(w.Rate, s.rate);
      EXPECT_EQ(w.Time, Arrival(heard, i + 1, s.rate)) << "reply byte " << i;
    }
    unitSeen = toUnit.size();
    hostSeen = toHost.size();
    at = replied + 3ms;
  }
  const auto wire = unit.Wire();
  for (size_t i = 1; i < wire.size(); ++i) EXPECT_GE(wire[i].Time, wire[i - 1].Time) << "wire byte " << i;
}

TEST(VirtualUnitLine, LoaderListeningAtStartAnswersPingAt115200) {
  VirtualUnitOptions options;
  options.ListeningAtStart = UnitPart::CameraBoardLoader;
  VirtualUnit unit(options);
  EXPECT_EQ(unit.Listening(), UnitPart::CameraBoardLoader);
  Write(unit, ENTER, 9600, At(1ms));  // the camera does not hear the line
  EXPECT_EQ(RunAndTake(unit, At(50ms), 9600), Bytes{});
  Write(unit, PING, 115200, At(50ms));
  const Time heard = Arrival(At(50ms), PING.size(), 115200);
  EXPECT_EQ(RunAndTake(unit, Arrival(heard, 2, 115200), 115200), LOADER_ACK);
}

TEST(VirtualUnitLine, ControlLoaderEnteredFromTheCameraAnswersPing) {
  VirtualUnit unit;
  Write(unit, CONTROL_LOADER_ENTRY, 9600, At(1ms));
  EXPECT_EQ(RunAndTake(unit, At(20ms), 9600), Bytes{});
  EXPECT_EQ(unit.Listening(), UnitPart::ControlBoardLoader);
  Write(unit, PING, 115200, At(20ms));
  EXPECT_EQ(RunAndTake(unit, At(30ms), 115200), LOADER_ACK);
}

// A byte at a rate the part does not listen at is a framing error to it; a
// reply at a rate other than the host's arrives as garbage, none of it a
// header or terminator.
TEST(VirtualUnitLine, RatesThatDoNotMatch) {
  VirtualUnit unit;
  Write(unit, ENTER, 115200, At(1ms));
  EXPECT_EQ(RunAndTake(unit, At(10ms), 115200), Bytes{});
  EXPECT_FALSE(unit.CameraInDownloadMode());
  EXPECT_EQ(WireOf(unit, WireDirection::ToUnit).size(), ENTER.size()) << "on the wire, though not heard";

  Write(unit, ENTER, 9600, At(10ms));
  const Bytes got = RunAndTake(unit, At(100ms), 115200);
  EXPECT_EQ(got, Garbled(ACK_COMPLETION));
  for (uint8_t b : got) EXPECT_LT(b, 0x80);
  EXPECT_TRUE(unit.CameraInDownloadMode());
  for (const auto& w : WireOf(unit, WireDirection::ToHost)) EXPECT_EQ(w.Rate, 9600) << "recorded as sent";
}

// An erase keeps the loader busy: what arrives meanwhile is not heard, and
// the acknowledge comes when the erase is over.
TEST(VirtualUnitLine, BusyLoaderHearsNothingUntilTheEraseEnds) {
  VirtualUnitOptions options;
  options.ListeningAtStart = UnitPart::CameraBoardLoader;
  VirtualUnit unit(options);
  const Bytes download = LoaderDownload(0x1000, 2048);  // two pages: 20 ms
  Write(unit, download, 115200, At(1ms));
  const Time heard = Arrival(At(1ms), download.size(), 115200);
  const Time eraseEnd = heard + 2 * sim::LOADER_PAGE_ERASE_TIME;
  unit.RunUntil(heard);
  EXPECT_EQ(unit.NextEvent(heard), eraseEnd);

  Write(unit, PING, 115200, heard + 5ms);
  EXPECT_EQ(RunAndTake(unit, eraseEnd, 115200), Bytes{});
  EXPECT_EQ(unit.NextEvent(eraseEnd), eraseEnd + ByteTime(115200));
  EXPECT_EQ(RunAndTake(unit, eraseEnd + 1ms, 115200), LOADER_ACK);

  Write(unit, PING, 115200, eraseEnd + 1ms);
  EXPECT_EQ(RunAndTake(unit, eraseEnd + 2ms, 115200), LOADER_ACK);
  EXPECT_EQ(WireOf(unit, WireDirection::ToUnit).size(), download.size() + 2 * PING.size());
}

// The schedule's action on the enter-download command's reply (the unit's
// first), then an announce that shows whether the line lives on.
TEST(VirtualUnitSchedule, ActionOnOneReply) {
  struct Case {
    const char* name;
    ReplyAction action;
    int hostRate;
    Bytes received;                   // what the host takes
    std::chrono::microseconds delay;  // of the reply's first byte past its usual time
    bool hungUp;
  } cases[] = {
      {"none", {}, 9600, ACK_COMPLETION, 0us, false},
      {"drop", {ReplyFault::Drop}, 9600, {}, 0us, false},
      {"delay", {ReplyFault::Delay, 1500}, 9600, ACK_COMPLETION, 1500us, false},
      {"cut", {ReplyFault::Cut, 6 + 2}, 9600, {0x90, 0x41}, 0us, false},
      {"cut to nothing", {ReplyFault::Cut, 12}, 9600, {}, 0us, false},
      {"double", {ReplyFault::Double}, 9600, ACK_COMPLETION + ACK_COMPLETION, 0us, false},
      {"garble", {ReplyFault::Garble, 6 + 1}, 9600, {0x90, 0x41 ^ 0x5A, 0xFF, 0x90, 0x51, 0xFF}, 0us, false},
      {"noise", {ReplyFault::Noise, 64 + 2}, 9600, ACK_COMPLETION + Noise(3), 0us, false},
      {"noise arrives as it is at another rate", {ReplyFault::Noise, 64 + 2}, 115200,
       Garbled(ACK_COMPLETION) + Noise(3), 0us, false},
      {"hang-up", {ReplyFault::HangUp}, 9600, ACK_COMPLETION, 0us, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualUnitOptions options;
    options.Replies = {c.action};
    VirtualUnit unit(options);
    Write(unit, ENTER, 9600, At(1ms));
    const Time heard = Arrival(At(1ms), ENTER.size(), 9600);
    unit.RunUntil(heard);
    EXPECT_TRUE(unit.CameraInDownloadMode()) << "the command takes effect whatever befalls its reply";
    EXPECT_FALSE(unit.HungUp()) << "not before the reply has reached the host";
    if (!c.received.empty()) {
      const Time first = heard + c.delay + ByteTime(9600);
      EXPECT_EQ(unit.QueuedForHost(first - 1ns), 0u);
      EXPECT_EQ(unit.QueuedForHost(first), 1u);
    }
    EXPECT_EQ(RunAndTake(unit, At(100ms), c.hostRate), c.received);
    EXPECT_EQ(unit.HungUp(), c.hungUp);

    Write(unit, ANNOUNCE, 115200, At(100ms));
    EXPECT_EQ(RunAndTake(unit, At(200ms), 115200), c.hungUp ? Bytes{} : ACK_COMPLETION);
    EXPECT_EQ(WireOf(unit, WireDirection::ToUnit).size(), ENTER.size() + (c.hungUp ? 0 : ANNOUNCE.size()))
        << "a dead line takes nothing off the wire";
  }
}

// From the hang-up on the unit hears nothing, not even bytes the host wrote
// before it that were still on their way; the reply before it still reaches
// the host, and then the line is dead.
TEST(VirtualUnitSchedule, HangUpHearsNothingMore) {
  VirtualUnitOptions options;
  options.Replies = {{ReplyFault::HangUp}};
  VirtualUnit unit(options);
  Write(unit, ADDRESS_SET + ADDRESS_SET, 9600, At(1ms));
  const Time heard = Arrival(At(1ms), ADDRESS_SET.size(), 9600);
  const Time dead = Arrival(heard, ADDRESS_REPLY.size(), 9600);
  unit.RunUntil(heard);
  EXPECT_EQ(unit.NextEvent(dead - 1ns), dead);
  unit.RunUntil(dead - 1ns);
  EXPECT_FALSE(unit.HungUp());
  EXPECT_EQ(RunAndTake(unit, At(100ms), 9600), ADDRESS_REPLY);
  EXPECT_TRUE(unit.HungUp());
  EXPECT_EQ(WireOf(unit, WireDirection::ToUnit).size(), ADDRESS_SET.size());
  EXPECT_EQ(unit.NextEvent(At(100ms)), Time::max());
}

// Replies[k] spoils the k-th reply and no other; past the end of the
// schedule every reply goes out as sent.
TEST(VirtualUnitSchedule, CountsRepliesFromTheFirst) {
  VirtualUnitOptions options;
  options.Replies = {{}, {ReplyFault::Drop}, {ReplyFault::Cut, 2}};
  VirtualUnit unit(options);
  const Bytes expected[] = {ADDRESS_REPLY, {}, {0x88, 0x30}, ADDRESS_REPLY, ADDRESS_REPLY};
  Time at = At(1ms);
  for (const Bytes& reply : expected) {
    Write(unit, ADDRESS_SET, 9600, at);
    at += 20ms;
    EXPECT_EQ(RunAndTake(unit, at, 9600), reply);
  }
}

// A loader's RESET gives the line back to the camera unless the schedule
// says that give-back is not taken; its acknowledge goes out either way.
TEST(VirtualUnitSchedule, RoutesNotTakenKeepTheLoaderOnTheLine) {
  struct Case {
    const char* name;
    std::vector<int> notTaken;
    UnitPart afterReset[2];
  } cases[] = {
      {"every route taken", {}, {UnitPart::Camera, UnitPart::Camera}},
      {"first not taken", {0}, {UnitPart::ControlBoardLoader, UnitPart::Camera}},
      {"neither taken", {0, 1}, {UnitPart::ControlBoardLoader, UnitPart::ControlBoardLoader}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualUnitOptions options;
    options.RoutesNotTaken = c.notTaken;
    VirtualUnit unit(options);
    Write(unit, CONTROL_LOADER_ENTRY, 9600, At(1ms));
    Time at = At(20ms);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(round);
      unit.RunUntil(at);
      if (unit.Listening() == UnitPart::Camera) {  // back into the loader
        Write(unit, CONTROL_LOADER_ENTRY, 9600, at);
        at += 20ms;
      }
      Write(unit, RESET, 115200, at);
      at += 2ms;
      EXPECT_EQ(RunAndTake(unit, at, 115200), LOADER_ACK);
      EXPECT_EQ(unit.Listening(), c.afterReset[round]);
      // A loader that kept the line answers; the camera does not hear 115200.
      Write(unit, PING, 115200, at);
      at += 2ms;
      EXPECT_EQ(RunAndTake(unit, at, 115200),
                c.afterReset[round] == UnitPart::Camera ? Bytes{} : LOADER_ACK);
    }
  }
}

// A whole DSP block exchange through the camera: the announce, the block
// packet as the tool builds it, and the written or refused reply.
TEST(VirtualUnitDsp, BlockExchange) {
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;
    uint8_t written;
  } cases[] = {
      {"written", {}, 0x01},
      {"refused by the fault table", {{sim::FaultKind::RefuseBlock, UnitPart::Camera, -1, 0, 1, 0}}, 0x00},
  };
  Bytes data(64);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 29 + 7);
  constexpr uint16_t ADDRESS = 0x0400;
  uint8_t packet[160];
  const int32_t length = BuildDSPBlockPacket(packet, ADDRESS, data.data(), static_cast<uint32_t>(data.size())).value_or(0);
  ASSERT_GT(length, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualUnitOptions options;
    options.Faults = c.faults;
    VirtualUnit unit(options);
    Write(unit, ENTER, 9600, At(1ms));
    EXPECT_EQ(RunAndTake(unit, At(30ms), 9600), ACK_COMPLETION);
    Write(unit, ANNOUNCE, 115200, At(30ms));
    EXPECT_EQ(RunAndTake(unit, At(32ms), 115200), ACK_COMPLETION);
    unit.HostWrite(packet, static_cast<size_t>(length), 115200, At(32ms));
    const Time heard = Arrival(At(32ms), static_cast<size_t>(length), 115200);
    EXPECT_EQ(RunAndTake(unit, Arrival(heard, 4, 115200), 115200), (Bytes{0x90, 0x51, c.written, 0xFF}));
    const Bytes memory = unit.DspMemory();
    const Bytes at(memory.begin() + (ADDRESS - sim::DspModel::FIRST_ADDRESS),
                   memory.begin() + (ADDRESS - sim::DspModel::FIRST_ADDRESS) + 64);
    EXPECT_EQ(at, c.written ? data : Bytes(64, 0xFF));
  }
}

// The same calls give the same line, byte for byte and to the nanosecond,
// faults and noise included.
TEST(VirtualUnitDsp, SameCallsSameLine) {
  const auto session = [] {
    VirtualUnitOptions options;
    options.Replies = {{ReplyFault::Noise, 40}, {ReplyFault::Delay, 700}};
    options.Faults = {{sim::FaultKind::NoiseFlood, UnitPart::Camera, 0x99, 0, 1, 50}};
    VirtualUnit unit(options);
    Write(unit, ENTER, 9600, At(1ms));
    Bytes host = RunAndTake(unit, At(80ms), 9600);
    Write(unit, ANNOUNCE, 115200, At(80ms));
    host = host + RunAndTake(unit, At(200ms), 115200);
    return std::make_pair(host, unit.Wire());
  };
  const auto first = session();
  const auto second = session();
  EXPECT_EQ(first.first, second.first);
  ASSERT_EQ(first.second.size(), second.second.size());
  for (size_t i = 0; i < first.second.size(); ++i) {
    EXPECT_EQ(first.second[i].Time, second.second[i].Time);
    EXPECT_EQ(first.second[i].Byte, second.second[i].Byte);
  }
  EXPECT_GT(first.first.size(), 2 * ACK_COMPLETION.size() + 50) << "the noise is part of the session";
}

}  // namespace
