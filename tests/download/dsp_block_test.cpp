// WriteDSPBlock's exchange with the unit on a scripted port, in virtual
// time: which replies count as written, what ends the wait early, and what
// keeps the block off the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CaseName.h"
#include "DspDownload.h"
#include "JobClock.h"
#include "SerialLink.h"
#include "SerialPort.h"
#include "PortlessJob.h"
#include "TestContext.h"
#include "TimedOutWaits.h"
#include "Timing.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes ANNOUNCE = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};

// Answers the announce with a completion (unless told not to) and the block
// packet with whatever the case gives; records every write.
class ScriptedPort : public SerialPort {
 public:
  ScriptedPort(bool answerAnnounce, Bytes blockReply, bool takeBlock)
      : answerAnnounce_(answerAnnounce), blockReply_(std::move(blockReply)), takeBlock_(takeBlock) {}

  bool GetCommState(LineSettings&) override { return true; }
  bool SetCommState(const LineSettings&) override { return true; }
  bool QueuedInput(uint32_t& count) override {
    std::lock_guard<std::mutex> hold(lock_);
    count = static_cast<uint32_t>(input_.size());
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override {
    std::lock_guard<std::mutex> hold(lock_);
    got = 0;
    while (got < size && !input_.empty()) {
      buffer[got++] = input_.front();
      input_.pop_front();
    }
    return true;
  }
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    std::lock_guard<std::mutex> hold(lock_);
    const Bytes message(buffer, buffer + size);
    if (message == ANNOUNCE) {
      writes_.push_back(message);
      written = size;
      if (answerAnnounce_) input_.insert(input_.end(), {0x90, 0x51, 0xFF});
      return true;
    }
    if (!takeBlock_) {  // the driver takes nothing
      written = 0;
      return true;
    }
    writes_.push_back(message);
    written = size;
    input_.insert(input_.end(), blockReply_.begin(), blockReply_.end());
    return true;
  }
  std::vector<Bytes> Writes() const {
    std::lock_guard<std::mutex> hold(lock_);
    return writes_;
  }

 private:
  const bool answerAnnounce_;
  const Bytes blockReply_;
  const bool takeBlock_;
  mutable std::mutex lock_;
  std::deque<uint8_t> input_;
  std::vector<Bytes> writes_;
};

// The job's clock in virtual time for a port whose replies are there the
// moment the message is written: a wait takes them at once, or runs to its
// deadline when they do not count; a pause moves the time on.
class ScriptClock final : public JobClock {
 public:
  TimePoint Now() override { return now_; }
  void Pause(std::chrono::nanoseconds duration) override { now_ += duration; }
  bool WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) override {
    if (link.ComPort_Handle) link.Rx.StorePass(link.ComPort_Handle.get());
    if (link.Rx.Stores() != seen) {
      seen = link.Rx.Stores();
      return true;
    }
    now_ = std::max(now_, deadline);
    return false;
  }
  void WaitForBaudAnswer(SerialLink& link) override { ServeBaudRequest(&link); }

 private:
  TimePoint now_{};
};

struct BlockCase {
  const char* name;
  bool answerAnnounce;
  Bytes blockReply;
  bool takeBlock;
  BlockWrite result;
  int writes;          // messages the port took: the announce, then the block
  bool waitsOut;       // the block's reply wait spends its 1000 polls
  std::vector<std::string> messages;
};

const BlockCase CASES[] = {
    {"written", true, {0x90, 0x51, 0x01, 0xFF}, true, BlockWrite::Written, 2, false, {}},
    {"written, any low nibble", true, {0x90, 0x5F, 0x01, 0xFF}, true, BlockWrite::Written, 2, false, {}},
    {"written after other replies", true, {0x90, 0x41, 0xFF, 0x00, 0x90, 0x51, 0x01, 0xFF}, true, BlockWrite::Written, 2, false, {}},
    {"refused", true, {0x90, 0x51, 0x00, 0xFF}, true, BlockWrite::NotWritten, 2, false, {}},
    // The reply nearer the start of the buffer decides.
    {"refused before written", true, {0x90, 0x51, 0x00, 0xFF, 0x90, 0x51, 0x01, 0xFF}, true, BlockWrite::NotWritten, 2, false, {}},
    {"written before refused", true, {0x90, 0x51, 0x01, 0xFF, 0x90, 0x51, 0x00, 0xFF}, true, BlockWrite::Written, 2, false, {}},
    // Neither reply: no terminator, an acknowledge instead of a completion,
    // another verdict byte. The wait spends its budget.
    {"no reply that counts", true, {0x90, 0x51, 0x01, 0x00, 0x90, 0x41, 0x01, 0xFF, 0x90, 0x51, 0x02, 0xFF}, true, BlockWrite::NotWritten,
     2, true, {}},
    // An unanswered announce keeps the block off the line.
    {"announce unanswered", false, {0x90, 0x51, 0x01, 0xFF}, true, BlockWrite::NotWritten, 1, false, {}},
    // A block that did not go out whole is a failed send at once.
    {"block not taken by the driver", true, {}, false, BlockWrite::NotWritten, 1, false, {"Not Write Correctly !!"}},
};

class DspBlockExchange : public testing::TestWithParam<BlockCase> {
 protected:
  void SetUp() override {
    const BlockCase& c = GetParam();
    auto port = std::make_unique<ScriptedPort>(c.answerAnnounce, c.blockReply, c.takeBlock);
    port_ = port.get();
    form_.Link.ComPort_Handle = std::move(port);
    form_.Link.Clock = &clock_;
    form_.Download_Active.store(true);
  }

  lumo_test::RecordingUI ui_;
  lumo_test::PortlessJob job_{&ui_};
  JobContext& form_ = job_.form;
  ScriptClock clock_;
  ScriptedPort* port_ = nullptr;
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

TEST_P(DspBlockExchange, ResultWaitAndWhatWentOut) {
  const BlockCase& c = GetParam();
  uint8_t data[64];
  for (int i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(0xC3 ^ i);
  uint8_t packet[160];
  const int32_t length = BuildDSPBlockPacket(packet, 0x2A40, data, 64).value_or(0);

  lumo_test::TimedOutWaits timedOut(form_.Link);
  const auto start = clock_.Now();
  EXPECT_EQ(WriteDSPBlock(&form_, 0x2A40, data, 64), c.result);
  const auto took = clock_.Now() - start;
  const uint64_t polls = timedOut.Polls();

  const std::vector<Bytes> writes = port_->Writes();
  ASSERT_EQ(static_cast<int>(writes.size()), c.writes);
  EXPECT_EQ(writes[0], ANNOUNCE);
  if (c.writes > 1) {
    EXPECT_EQ(writes[1], Bytes(packet, packet + length));
  }
  EXPECT_EQ(ui_.Messages(), c.messages);
  // The one wait that runs out, the block's or the unanswered announce's,
  // is given its 1000 polls; an answered announce's wait runs out of nothing.
  const bool ranOut = c.waitsOut || !c.answerAnnounce;
  EXPECT_EQ(polls, ranOut ? 1000u : 0u);
  // The announce's pause, and the whole budget only where a wait ran out.
  EXPECT_EQ(took, COMMAND_PAUSE + (ranOut ? BLOCK_REPLY_POLLS * POLL_PERIOD : std::chrono::milliseconds(0)));
}

INSTANTIATE_TEST_SUITE_P(Cases, DspBlockExchange, testing::ValuesIn(CASES), lumo_test::NameOfCase());

}  // namespace
