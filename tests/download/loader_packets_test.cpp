// The loader packets as they go on the wire, and the two reply waits against
// byte sequences received into the receive buffer (or placed there, for the
// states no receive pass makes).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "LineRules.h"
#include "LoaderDownload.h"
#include "PortlessJob.h"
#include "RxBufferAccess.h"
#include "SerialLink.h"
#include "TimedOutWaits.h"
#include "VirtualRoutine.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct BuilderCase {
  const char* Name;
  std::function<int32_t(JobContext*, uint8_t*)> Build;
  Bytes Expected;
};

TEST(LoaderPackets, BuildersProduceTheWireBytesAndResetTheReply) {
  static const uint8_t abc[] = {0x61, 0x62, 0x63};
  static uint8_t full[76];
  uint8_t fullSum = 0x24;
  for (int i = 0; i < 76; ++i) {
    full[i] = static_cast<uint8_t>(0xF0 + i);
    fullSum = static_cast<uint8_t>(fullSum + full[i]);
  }
  Bytes fullPacket(79);
  fullPacket[0] = 79;
  fullPacket[1] = fullSum;
  fullPacket[2] = 0x24;
  std::copy(full, full + 76, fullPacket.begin() + 3);

  const BuilderCase cases[] = {
      {"PING", [](auto* f, uint8_t* p) { return BuildPingPacket(f, p); }, {0x03, 0x20, 0x20}},
      {"DOWNLOAD of 1000 bytes", [](auto* f, uint8_t* p) { return BuildDownloadPacket(f, p, 0x1000, 1000); },
       {0x0B, 0x1C, 0x21, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x03, 0xE8}},
      {"DOWNLOAD of 65536 bytes", [](auto* f, uint8_t* p) { return BuildDownloadPacket(f, p, 0x1000, 65536); },
       {0x0B, 0x32, 0x21, 0x00, 0x00, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00}},
      {"GET_STATUS with the host's acknowledge",
       [](auto* f, uint8_t* p) { return BuildGetStatusPacket(f, p); },
       {0x03, 0x23, 0x23, 0xCC}},
      {"SEND_DATA of abc", [](auto* f, uint8_t* p) { return BuildSendDataPacket(f, p, abc, 3); },
       {0x06, 0x4A, 0x24, 0x61, 0x62, 0x63}},
      {"SEND_DATA of one full chunk", [](auto* f, uint8_t* p) { return BuildSendDataPacket(f, p, full, 76); },
       fullPacket},
      {"RESET", [](auto* f, uint8_t* p) { return BuildResetPacket(f, p); }, {0x03, 0x25, 0x25}},
  };
  for (const BuilderCase& c : cases) {
    SCOPED_TRACE(c.Name);
    lumo_test::PortlessJob job;
    JobContext& form = job.form;
    lumo_test::ReceivePass(form.Link.Rx, Bytes(7, 0x5A));
    uint8_t packet[LOADER_PACKET_BUFFER];
    std::fill(std::begin(packet), std::end(packet), 0xEE);
    const int32_t n = c.Build(&form, packet);
    ASSERT_EQ(n, static_cast<int32_t>(c.Expected.size()));
    EXPECT_EQ(Bytes(packet, packet + n), c.Expected);
    EXPECT_EQ(packet[n], 0xEE) << "the builder wrote past its packet";
    // The reply reset: zeroed buffer; the count is the receive thread's to
    // clear, and its next store starts again at the first byte.
    EXPECT_EQ(form.Link.Rx.Count(), 7u);
    EXPECT_TRUE(RxBufferAccess::ResetPending(form.Link.Rx));
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(form.Link.Rx.At(i), 0) << i;
    lumo_test::ReceivePass(form.Link.Rx, {0x33});
    EXPECT_EQ(RxBufferAccess::Stored(form.Link.Rx), Bytes{0x33});
  }
}

// A reply reset, then bytes stored as the receive thread stores a reply.
void Receive(JobContext& form, const Bytes& bytes) {
  form.Link.Rx.Reset();
  lumo_test::ReceivePass(form.Link.Rx, bytes);
}

// Claims count received bytes over what the buffer holds now.
void Claim(JobContext& form, const Bytes& bytes, uint32_t count) {
  RxBufferAccess::Place(form.Link.Rx, bytes.data(), static_cast<uint32_t>(bytes.size()), count);
}

// The waits' answers as the cases write them: 204 ACK, 51 NAK, 64 status
// success, else the status byte; -1 nothing.
int32_t Code(const std::optional<LoaderAck>& ack) {
  if (!ack) return -1;
  return *ack == LoaderAck::Ack ? 204 : 51;
}
int32_t Code(const std::optional<LoaderStatus>& status) {
  if (!status) return -1;
  return status->Reply == StatusReply::Success ? 64 : status->Status;
}

struct WaitCase {
  const char* Name;
  Bytes Received;
  int32_t Ack;     // WaitLoaderAck
  int32_t Status;  // WaitLoaderStatus
};

TEST(LoaderWaits, RecogniseRepliesAnywhereInTheReceivedBytes) {
  const WaitCase cases[] = {
      {"nothing received", {}, -1, -1},
      {"ACK alone", {0x00, 0xCC}, 204, -1},
      {"NAK alone", {0x00, 0x33}, 51, -1},
      {"ACK after other bytes", {0x12, 0x00, 0xCC}, 204, -1},
      {"first pair wins: NAK then ACK", {0x00, 0x33, 0x00, 0xCC}, 51, -1},
      {"first pair wins: ACK then NAK", {0x00, 0xCC, 0x00, 0x33}, 204, -1},
      {"0xCC without a zero before it", {0x12, 0xCC, 0x33}, -1, -1},
      {"a single zero byte", {0x00}, -1, -1},
      {"status success", {0x00, 0xCC, 0x03, 0x40, 0x40}, 204, 64},
      {"status success after noise", {0x55, 0x00, 0x00, 0xCC, 0x03, 0x40, 0x40}, 204, 64},
      {"status INVALID_ADR", {0x00, 0xCC, 0x03, 0x43, 0x43}, 204, 0x43},
      {"status FLASH_FAIL", {0x00, 0xCC, 0x03, 0x44, 0x44}, 204, 0x44},
      {"status UNKNOWN_CMD", {0x00, 0xCC, 0x03, 0x41, 0x41}, 204, 0x41},
      {"status value above 0x7F as unsigned", {0x00, 0xCC, 0x03, 0xF1, 0xF1}, 204, 0xF1},
      {"other status: the checksum position decides", {0x00, 0xCC, 0x03, 0x43, 0x42}, 204, 0x43},
      {"only the second byte is 0x40", {0x00, 0xCC, 0x03, 0x41, 0x40}, 204, -1},
      {"only the first byte is 0x40", {0x00, 0xCC, 0x03, 0x40, 0x41}, 204, -1},
      {"one 0x40 of two, then a success window", {0x00, 0xCC, 0x03, 0x40, 0x41, 0x00, 0xCC, 0x03, 0x40, 0x40}, 204,
       64},
      {"four bytes of a status reply", {0x00, 0xCC, 0x03, 0x40}, 204, -1},
      {"status without the ACK before it", {0x03, 0x40, 0x40}, -1, -1},
      {"status after a NAK", {0x00, 0x33, 0x00, 0xCC, 0x03, 0x40, 0x40}, 51, 64},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.Name);
    lumo_test::PortlessJob job;
    JobContext& form = job.form;
    Receive(form, c.Received);
    EXPECT_EQ(Code(WaitLoaderAck(&form, 2)), c.Ack);
    EXPECT_EQ(Code(WaitLoaderStatus(&form, 2)), c.Status);
  }
}

TEST(LoaderWaits, LookOnlyAtTheCountedBytes) {
  // Bytes beyond Rx_Count are from before the reset or not yet counted.
  lumo_test::PortlessJob job;
  JobContext& form = job.form;
  const Bytes status = {0x00, 0xCC, 0x03, 0x40, 0x40};
  Claim(form, status, 1);
  EXPECT_EQ(Code(WaitLoaderAck(&form, 2)), -1);
  Claim(form, status, 4);
  EXPECT_EQ(Code(WaitLoaderStatus(&form, 2)), -1);
  Claim(form, status, 5);
  EXPECT_EQ(Code(WaitLoaderStatus(&form, 2)), 64);
}

TEST(LoaderWaits, NeverReadPastTheBufferWhateverTheCount) {
  lumo_test::PortlessJob job;
  JobContext& form = job.form;
  Bytes full(RX_BUFFER_SIZE, 0x11);
  full[RX_BUFFER_SIZE - 1] = 0x00;
  Claim(form, full, 5000);
  EXPECT_EQ(Code(WaitLoaderAck(&form, 1)), -1);
  EXPECT_EQ(Code(WaitLoaderStatus(&form, 1)), -1);
  full[RX_BUFFER_SIZE - 2] = 0x00;
  full[RX_BUFFER_SIZE - 1] = 0xCC;
  Claim(form, full, 5000);
  EXPECT_EQ(Code(WaitLoaderAck(&form, 1)), 204);
}

// On the virtual line, where a wait's length is exact.
TEST(LoaderWaits, PollBudgetBoundsTheWait) {
  lumo_test::VirtualRoutine r;
  ASSERT_TRUE(r.opened);
  JobContext& form = r.form;
  Receive(form, {0x00, 0xCC, 0x03, 0x40, 0x40});
  // No budget: no scan at all, even with the reply in place, and no time.
  auto start = r.line.Now();
  EXPECT_EQ(Code(WaitLoaderAck(&form, 0)), -1);
  EXPECT_EQ(Code(WaitLoaderStatus(&form, -5)), -1);
  EXPECT_EQ(r.line.Now(), start);

  // A found reply ends the wait at its first scan: nothing runs out.
  lumo_test::TimedOutWaits timedOut(form.Link);
  uint64_t waits = timedOut.Waits();
  EXPECT_EQ(Code(WaitLoaderAck(&form, 100000)), 204);
  EXPECT_EQ(Code(WaitLoaderStatus(&form, 100000)), 64);
  EXPECT_EQ(timedOut.Waits(), waits);
  EXPECT_EQ(r.line.Now(), start);

  // A wait that sees no reply lasts exactly its polls times the poll
  // period: the resync's 4, the address set's 30, the ping's 300.
  Receive(form, {0x12});
  for (int32_t polls : {4, 30, 300}) {
    SCOPED_TRACE(polls);
    const uint64_t before = timedOut.Polls();
    start = r.line.Now();
    EXPECT_EQ(Code(WaitLoaderAck(&form, polls)), -1);
    EXPECT_EQ(r.line.Now() - start, polls * POLL_PERIOD);
    EXPECT_EQ(timedOut.Polls() - before, static_cast<uint64_t>(polls));
  }

  // A reply stored while a long wait runs ends it as its last byte is
  // stored, instead of running out.
  waits = timedOut.Waits();
  constexpr std::chrono::milliseconds LATER{20};
  r.UnitSends({0x00, 0xCC}, LATER);
  start = r.line.Now();
  EXPECT_EQ(Code(WaitLoaderAck(&form, 5000)), 204);
  EXPECT_EQ(r.line.Now() - start, LATER + 2 * sim::ByteTime(9600));
  EXPECT_EQ(timedOut.Waits(), waits);
}

}  // namespace
