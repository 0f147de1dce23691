// DownloadByLoader against the simulated unit in virtual time at 115200, with
// a board's loader listening: what ends up in the board's flash, what goes
// over the wire, what the user is told, and how long each wait that ran out
// lasted, to the microsecond.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CaseName.h"
#include "LoaderPacket.h"
#include "LoaderDownload.h"
#include "LoaderModel.h"
#include "Progress.h"
#include "LineRules.h"
#include "Timing.h"
#include "VirtualJob.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Time = sim::VirtualLine::Time;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;
using lumo_test::VirtualRoutine;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using RanOut = std::map<microseconds, int>;  // waits that ran out, per length

const std::chrono::nanoseconds BYTE_115200 = sim::ByteTime(115200);
constexpr microseconds RESYNC_WAIT = RESYNC_POLLS * POLL_PERIOD;  // each resync byte's

// An image in a heap block of exactly its size, so that AddressSanitizer
// reports any read past its end. Every byte value occurs, zeros and 0x03
// included, which the loader must take as data inside a packet.
struct Image {
  std::unique_ptr<uint8_t[]> bytes;
  int32_t size;
  Bytes Vector() const { return Bytes(bytes.get(), bytes.get() + size); }
};

Image MakeImage(int32_t size) {
  Image image{std::unique_ptr<uint8_t[]>(new uint8_t[size]), size};
  for (int32_t i = 0; i < size; ++i) image.bytes[i] = static_cast<uint8_t>(i * 7 + 3 + (i >> 8));
  return image;
}

Bytes Packet(uint8_t command, const Bytes& data = {}) { return lumo_test::LoaderPacket(command, data); }
const Bytes PING = Packet(0x20);
const Bytes GET_STATUS = {0x03, 0x23, 0x23, 0xCC};
const Bytes RESET = Packet(0x25);
const Bytes RESYNC = {0x03};
Bytes DownloadPacket(uint32_t length) {
  return Packet(0x21, {0x00, 0x00, 0x10, 0x00, static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                       static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
}

struct SentPacket {
  Bytes bytes;
  Time first;
  Time last;
  int rate;
};

// The host's side of the wire cut into loader packets by their size bytes; a
// GET_STATUS takes the host's acknowledge byte with it; a 0x03 that does not
// start a three-byte PING, GET_STATUS or RESET is a resync byte of its own.
std::vector<SentPacket> SentPackets(const std::vector<sim::WireByte>& record) {
  std::vector<sim::WireByte> wire;
  for (const sim::WireByte& w : record) {
    if (w.Direction == sim::WireDirection::ToUnit) wire.push_back(w);
  }
  std::vector<SentPacket> packets;
  size_t i = 0;
  while (i < wire.size()) {
    size_t n = wire[i].Byte;
    if (n == 3) {
      const bool command = i + 2 < wire.size() && wire[i + 1].Byte == wire[i + 2].Byte &&
                           (wire[i + 1].Byte == 0x20 || wire[i + 1].Byte == 0x23 || wire[i + 1].Byte == 0x25);
      if (!command) n = 1;
      else if (wire[i + 1].Byte == 0x23) n = 4;
    }
    if (n == 0) n = 1;
    n = std::min(n, wire.size() - i);
    SentPacket p{{}, wire[i].Time, wire[i + n - 1].Time, wire[i].Rate};
    for (size_t k = i; k < i + n; ++k) p.bytes.push_back(wire[k].Byte);
    packets.push_back(p);
    i += n;
  }
  return packets;
}

std::vector<Bytes> PacketBytes(const std::vector<SentPacket>& packets) {
  std::vector<Bytes> bytes;
  for (const SentPacket& p : packets) bytes.push_back(p.bytes);
  return bytes;
}

size_t CountOf(const std::vector<Bytes>& packets, const Bytes& wanted) {
  return static_cast<size_t>(std::count(packets.begin(), packets.end(), wanted));
}

// The camera board's loader listening at 115200, the host at 115200, the
// image the whole job.
class LoaderDownloadTest : public testing::Test {
 protected:
  explicit LoaderDownloadTest(std::vector<Fault> faults = {}) : r(Options(std::move(faults)), 115200), ranOut(r.form.Link) {}

  static sim::VirtualUnitOptions Options(std::vector<Fault> faults) {
    sim::VirtualUnitOptions options;
    options.ListeningAtStart = UnitPart::CameraBoardLoader;
    options.Faults = std::move(faults);
    return options;
  }

  void SetUp() override { ASSERT_TRUE(r.opened); }

  JobResult Download(const Image& image) {
    r.form.Total_Size.store(image.size);
    started = r.line.Now();
    const JobResult result = DownloadByLoader(&r.form, 1, image.bytes.get(), image.size);
    took = r.line.Now() - started;
    // Whatever is still on its way reaches the unit.
    r.Idle(milliseconds(50));
    return result;
  }

  Bytes Flash() const { return r.line.unit.Flash(UnitPart::CameraBoardLoader); }

  VirtualRoutine r;
  lumo_test::RanOutWaits ranOut;
  Time started{};
  std::chrono::nanoseconds took{};
};

class LoaderDownloadImage : public LoaderDownloadTest, public testing::WithParamInterface<int32_t> {};

TEST_P(LoaderDownloadImage, LandsInFlashByteForByte) {
  const Image image = MakeImage(GetParam());
  ASSERT_EQ(Download(image), JobResult::Done);
  EXPECT_TRUE(r.ui.messages.empty());
  EXPECT_EQ(Flash(), image.Vector()) << "flash differs from the image";
  // RESET acknowledged; the line is back with the camera.
  EXPECT_EQ(r.line.unit.Listening(), UnitPart::Camera);

  // PING, DOWNLOAD, erase confirmed, 76-byte chunks each confirmed, RESET.
  const int32_t chunks = (image.size + 75) / 76;
  std::vector<Bytes> expected = {PING, DownloadPacket(static_cast<uint32_t>(image.size)), GET_STATUS};
  for (int32_t k = 0; k < chunks; ++k) {
    const int32_t from = 76 * k;
    const int32_t n = std::min(76, image.size - from);
    expected.push_back(Packet(0x24, Bytes(image.bytes.get() + from, image.bytes.get() + from + n)));
    expected.push_back(GET_STATUS);
  }
  expected.push_back(RESET);
  const std::vector<SentPacket> sent = SentPackets(r.Wire());
  const std::vector<Bytes> sentBytes = PacketBytes(sent);
  ASSERT_EQ(sentBytes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(sentBytes[i], expected[i]) << "packet " << i;
  for (const SentPacket& p : sent) ASSERT_EQ(p.rate, 115200);

  // The two pauses: before the first PING, and between the DOWNLOAD packet
  // and the wait for its acknowledge (so before the erase's GET_STATUS). The
  // unit stamps a byte when its last bit arrives: the PING's first byte one
  // byte time after the pause, the GET_STATUS's first byte one byte time
  // after the pause that began when the DOWNLOAD packet was written (its
  // last byte arrived eleven byte times after that).
  EXPECT_EQ(sent[0].first - started, LOADER_START_PAUSE + BYTE_115200);
  EXPECT_EQ(sent[2].first - sent[1].last, ERASE_PAUSE - 10 * BYTE_115200);
  // Nothing went unanswered: the only waits that ran out are the quiet
  // line's before the RESET.
  EXPECT_EQ(ranOut.Counts(), (RanOut{{RESET_SETTLE, 1}}));

  // One progress text per chunk, the indexes 0 to count - 1 of one segment.
  const std::vector<std::string> statuses = r.ui.statuses;
  ASSERT_EQ(statuses.size(), static_cast<size_t>(chunks));
  EXPECT_EQ(statuses.front(), "0 %");
  char last[16];
  std::snprintf(last, sizeof last, "%d %%", (chunks - 1) * 100 / chunks);
  EXPECT_EQ(statuses.back(), last);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LoaderDownloadImage, testing::Values(1, 76, 1000, 65536));

enum class FlashAfter { Image, NotImage, Untouched };

struct RecoveryCase {
  const char* Name;
  std::vector<Fault> Faults;
  JobResult Result;
  std::vector<std::string> Messages;
  FlashAfter Flash;
  // Extra checks on the host's packets.
  std::function<void(const std::vector<Bytes>& sent, const Image& image)> Wire;
  // The waits that ran out, per length: reply waits of their polls times
  // POLL_PERIOD, resync bytes' 4 polls, quiet lines before a RESET.
  RanOut RanOutWaits = {};
};

void PrintTo(const RecoveryCase& c, std::ostream* os) { *os << c.Name; }

constexpr int32_t RECOVERY_IMAGE = 1000;  // 14 chunks, the last of 12 bytes
constexpr UnitPart BOARD = UnitPart::CameraBoardLoader;

Bytes ChunkPacket(const Image& image, int k) {
  const int32_t from = 76 * k;
  const int32_t n = std::min(76, image.size - from);
  return Packet(0x24, Bytes(image.bytes.get() + from, image.bytes.get() + from + n));
}

const RecoveryCase RECOVERIES[] = {
    {"SEND_DATA corrupted on the line: NAK, plain retry",
     {{FaultKind::CorruptIncoming, BOARD, 0x24, 2, 1, 5}}, JobResult::Done, {}, FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image& image) {
       EXPECT_EQ(CountOf(sent, RESYNC), 0u);
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 2)), 2u);
       EXPECT_EQ(CountOf(sent, RESET), 1u);
     },
     RanOut{{RESET_SETTLE, 1}}},
    {"NAK to the first PING: the next PING without resync", {{FaultKind::NakPacket, BOARD, 0x20}}, JobResult::Done, {},
     FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image&) {
       ASSERT_GE(sent.size(), 3u);
       EXPECT_EQ(sent[0], PING);
       EXPECT_EQ(sent[1], PING);
       EXPECT_EQ(sent[2], DownloadPacket(RECOVERY_IMAGE));
     },
     RanOut{{RESET_SETTLE, 1}}},
    {"lost reply to a PING: time-out, resync, next PING", {{FaultKind::DropReply, BOARD, 0x20}}, JobResult::Done, {},
     FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image&) {
       // Three single 0x03 bytes make a packet the loader acknowledges: the
       // first two wait out their polls, the third is answered.
       ASSERT_GE(sent.size(), 5u);
       EXPECT_EQ(sent[0], PING);
       EXPECT_EQ(sent[1], RESYNC);
       EXPECT_EQ(CountOf(sent, RESYNC), 3u);
       EXPECT_EQ(CountOf(sent, DownloadPacket(RECOVERY_IMAGE)), 1u);
     },
     RanOut{{CONNECT_POLLS * POLL_PERIOD, 1}, {RESYNC_WAIT, 2}, {RESET_SETTLE, 1}}},
    // The loader wrote the chunk; the retry writes it again behind it, and the
    // last chunk no longer fits the announced length: status 0x43.
    {"lost ACK to a SEND_DATA: reload requested, never success", {{FaultKind::DropReply, BOARD, 0x24, 3}}, JobResult::Reload, {},
     FlashAfter::NotImage,
     [](const std::vector<Bytes>& sent, const Image& image) {
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 3)), 2u);
       EXPECT_EQ(CountOf(sent, RESET), 0u);
       ASSERT_FALSE(sent.empty());
       EXPECT_EQ(sent.back(), GET_STATUS);
     },
     RanOut{{SEND_POLLS * POLL_PERIOD, 1}, {RESYNC_WAIT, 2}}},
    // The resync's own packet sets the status to 0x41: the chunk's outcome is lost.
    {"lost status reply: reload requested", {{FaultKind::DropReply, BOARD, 0x23, 4}}, JobResult::Reload, {}, FlashAfter::NotImage,
     [](const std::vector<Bytes>& sent, const Image& image) {
       // GET_STATUS 4 is the one of chunk 3 (0 confirmed the erase).
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 3)), 1u);
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 4)), 0u);
       EXPECT_EQ(CountOf(sent, RESYNC), 3u);
       EXPECT_EQ(CountOf(sent, RESET), 0u);
     },
     RanOut{{CONFIRM_POLLS * POLL_PERIOD, 1}, {RESYNC_WAIT, 2}}},
    {"flash failure on a chunk: reload requested", {{FaultKind::FlashFailure, BOARD, 0x24, 6}}, JobResult::Reload, {},
     FlashAfter::NotImage,
     [](const std::vector<Bytes>& sent, const Image& image) {
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 7)), 0u);
       EXPECT_EQ(CountOf(sent, RESET), 0u);
     }},
    // -4: reported, and no loader answered at all (the job then clears its record).
    {"six unanswered PINGs", {{FaultKind::Silence, BOARD, 0x20, 0, -1}}, JobResult::NoLoader, {"Stellaries Connection Error !!"},
     FlashAfter::Untouched,
     [](const std::vector<Bytes>& sent, const Image&) {
       EXPECT_EQ(CountOf(sent, PING), 6u);
       // Each time-out is followed by a resync of three bytes, the last one too.
       EXPECT_EQ(CountOf(sent, RESYNC), 18u);
       EXPECT_EQ(sent.size(), 6u + CountOf(sent, RESYNC));
     },
     RanOut{{CONNECT_POLLS * POLL_PERIOD, 6}, {RESYNC_WAIT, 12}}},
    {"erase fails with FLASH_FAIL", {{FaultKind::FlashFailure, BOARD, 0x21}}, JobResult::Reported, {"Erase Flash Error !!"},
     FlashAfter::Untouched,
     [](const std::vector<Bytes>& sent, const Image&) {
       // Any status but success: plain retries, fifteen in all, no resync.
       EXPECT_EQ(CountOf(sent, DownloadPacket(RECOVERY_IMAGE)), 1u);
       EXPECT_EQ(CountOf(sent, GET_STATUS), 15u);
       EXPECT_EQ(CountOf(sent, RESYNC), 0u);
       EXPECT_EQ(sent.size(), 17u);
     }},
    {"DOWNLOAD refused fifteen times", {{FaultKind::NakPacket, BOARD, 0x21, 0, -1}}, JobResult::Reported, {"Erase Flash Error !!"},
     FlashAfter::Untouched,
     [](const std::vector<Bytes>& sent, const Image&) {
       EXPECT_EQ(CountOf(sent, DownloadPacket(RECOVERY_IMAGE)), 15u);
       EXPECT_EQ(CountOf(sent, GET_STATUS), 0u);
     }},
    {"SEND_DATA refused fifteen times", {{FaultKind::NakPacket, BOARD, 0x24, 1, -1}}, JobResult::Failed, {"Write Data Error !!"},
     FlashAfter::NotImage,
     [](const std::vector<Bytes>& sent, const Image& image) {
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 1)), 15u);
       EXPECT_EQ(CountOf(sent, RESYNC), 0u);
     }},
    // The board restarted but its ACK was lost: after the 6000 polls one
    // PING goes unanswered. That cannot tell a restarted board from a lost
    // PING reply, so the image is in but the restart stays unconfirmed.
    {"RESET unacknowledged, the PING unanswered: the restart stays unconfirmed", {{FaultKind::DropReply, BOARD, 0x25}}, JobResult::DoneRestartUnconfirmed,
     {}, FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image&) {
       ASSERT_GE(sent.size(), 2u);
       EXPECT_EQ(sent[sent.size() - 2], RESET);
       EXPECT_EQ(sent.back(), PING);
       EXPECT_EQ(CountOf(sent, RESET), 1u);
       EXPECT_EQ(CountOf(sent, RESYNC), 0u);
     },
     RanOut{{RESET_SETTLE, 1}, {RESET_POLLS * POLL_PERIOD, 1}, {RESTART_PING_POLLS * POLL_PERIOD, 1}}},
    // A NAK means the RESET was not taken: the board still listens.
    {"RESET refused once: sent again", {{FaultKind::NakPacket, BOARD, 0x25}}, JobResult::Done, {}, FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image&) {
       EXPECT_EQ(CountOf(sent, RESET), 2u);
       EXPECT_EQ(CountOf(sent, PING), 1u);
       EXPECT_EQ(sent.back(), RESET);
     },
     RanOut{{RESET_SETTLE, 2}}},
    {"RESET never taken: the restart stays unconfirmed", {{FaultKind::NakPacket, BOARD, 0x25, 0, -1}},
     JobResult::DoneRestartUnconfirmed, {}, FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image&) {
       EXPECT_EQ(CountOf(sent, RESET), static_cast<size_t>(RESET_TRIES));
       EXPECT_EQ(sent.back(), RESET);
     },
     RanOut{{RESET_SETTLE, RESET_TRIES}}},
    // The board restarted, but its ACK came damaged: a resync (nobody answers
    // it now: all its 255 bytes wait out their polls), the RESET again
    // (unanswered), and the PING, unanswered: unconfirmed.
    {"RESET answered with a damaged reply: resync, again, then the PING", {{FaultKind::CorruptReply, BOARD, 0x25, 0, 1, 1}},
     JobResult::DoneRestartUnconfirmed, {}, FlashAfter::Image,
     [](const std::vector<Bytes>& sent, const Image&) {
       EXPECT_EQ(CountOf(sent, RESET), 2u);
       EXPECT_EQ(CountOf(sent, RESYNC), static_cast<size_t>(RESYNC_BYTES));
       EXPECT_EQ(sent.back(), PING);
     },
     RanOut{{RESET_SETTLE, 2}, {RESYNC_WAIT, RESYNC_BYTES}, {RESET_POLLS * POLL_PERIOD, 2}, {RESTART_PING_POLLS * POLL_PERIOD, 1}}},
    // A write that fails once has been reported; the routine stops there
    // instead of repeating the report for every try and resync byte. The
    // line dies as the loader has heard the status request, so the host's
    // acknowledge byte written behind it never reaches the unit.
    {"the line goes dead after the erase", {{FaultKind::HangUp, BOARD, 0x23}}, JobResult::Reported, {"Not Write Correctly !!"},
     FlashAfter::Untouched,
     [](const std::vector<Bytes>& sent, const Image&) {
       EXPECT_EQ(sent, (std::vector<Bytes>{PING, DownloadPacket(RECOVERY_IMAGE), Bytes{0x03, 0x23, 0x23}}));
     }},
    // The slow one: fifteen waits of 1200 polls for the status of chunk 0,
    // each followed by a resync whose status reply is lost as well.
    {"fifteen time-outs on one chunk", {{FaultKind::DropReply, BOARD, 0x23, 1, -1}}, JobResult::Failed, {"Write Data Error !!"},
     FlashAfter::NotImage,
     [](const std::vector<Bytes>& sent, const Image& image) {
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 0)), 1u);
       EXPECT_EQ(CountOf(sent, GET_STATUS), 16u);
       EXPECT_EQ(CountOf(sent, RESYNC), 45u);
       EXPECT_EQ(CountOf(sent, ChunkPacket(image, 1)), 0u);
     },
     RanOut{{CONFIRM_POLLS * POLL_PERIOD, 15}, {RESYNC_WAIT, 30}}},
};

class LoaderDownloadRecovery : public LoaderDownloadTest, public testing::WithParamInterface<RecoveryCase> {
 protected:
  LoaderDownloadRecovery() : LoaderDownloadTest(GetParam().Faults) {}
};

TEST_P(LoaderDownloadRecovery, ResultMessagesFlashAndWire) {
  const RecoveryCase& c = GetParam();
  const Image image = MakeImage(RECOVERY_IMAGE);

  EXPECT_EQ(Download(image), c.Result);
  EXPECT_EQ(r.ui.messages, c.Messages);
  switch (c.Flash) {
    case FlashAfter::Image:
      EXPECT_EQ(Flash(), image.Vector());
      break;
    case FlashAfter::NotImage:
      EXPECT_NE(Flash(), image.Vector());
      break;
    case FlashAfter::Untouched:
      EXPECT_TRUE(Flash().empty());
      break;
  }
  const std::vector<Bytes> sent = PacketBytes(SentPackets(r.Wire()));
  c.Wire(sent, image);
  EXPECT_EQ(ranOut.Counts(), c.RanOutWaits);
  // The call's time is its pauses (the start, one erase pause per DOWNLOAD
  // packet) and the waits that ran out, plus the time the bytes of the
  // exchange took on the line, both ways.
  std::chrono::nanoseconds fixed = LOADER_START_PAUSE + ERASE_PAUSE * CountOf(sent, DownloadPacket(RECOVERY_IMAGE));
  for (const auto& [length, count] : ranOut.Counts()) fixed += length * count;
  EXPECT_GE(took, fixed);
  EXPECT_LE(took, fixed + static_cast<int64_t>(r.Wire().size()) * BYTE_115200);
}

// A status reply damaged on the line (one 0x40 of two) is no reply: time-out
// and resync. The resync stops at the ACK still in the buffer, so its bytes
// may run into the next GET_STATUS; how the loader's framing comes back
// depends on timing. Whatever the path, the chunk counts as written only on a
// genuine 0x40: the call finishes with the image in flash, asks for a reload,
// or fails with its message, and never reports a wrong flash as written.
class DamagedStatusReply : public LoaderDownloadTest {
 protected:
  DamagedStatusReply() : LoaderDownloadTest({{FaultKind::CorruptReply, BOARD, 0x23, 3, 1, 4}}) {}
};

TEST_F(DamagedStatusReply, IsNeverTakenForSuccess) {
  const Image image = MakeImage(RECOVERY_IMAGE);
  const JobResult result = Download(image);
  if (result == JobResult::Done) {
    EXPECT_EQ(Flash(), image.Vector());
    EXPECT_TRUE(r.ui.messages.empty());
  } else if (result == JobResult::Reload) {
    EXPECT_TRUE(r.ui.messages.empty());
  } else {
    // Fifteen time-outs on the chunk's status: a failure, reported.
    EXPECT_EQ(result, JobResult::Failed);
    EXPECT_EQ(r.ui.messages, std::vector<std::string>{"Write Data Error !!"});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoaderDownloadRecovery, testing::ValuesIn(RECOVERIES), lumo_test::NameOfCase());

}  // namespace
