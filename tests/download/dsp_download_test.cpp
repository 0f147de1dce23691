// DownloadDSP against the simulated unit in virtual time at 115200: what
// reaches the unit's DSP, what goes over the wire, what the user is told, and
// how long each wait that ran out lasted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CaseName.h"
#include "CameraChannel.h"
#include "DspDownload.h"
#include "LineRules.h"
#include "Progress.h"
#include "Timing.h"
#include "VirtualJob.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Time = sim::VirtualLine::Time;
using lumo_test::VirtualRoutine;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using RanOut = std::map<microseconds, int>;  // waits that ran out, per length

constexpr int32_t HEADER = 132;
constexpr int32_t BODY = 24448;
constexpr int32_t VERSION_OFFSET = 31947;
constexpr int32_t FULL_SIZE = 32768;
const uint8_t VERSION[4] = {0x34, 0x12, 0x78, 0x56};

const Bytes ANNOUNCE = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};
const Bytes VERSION_PAIR_0 = {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x00, 0x01, 0x02, 0x03, 0x04, 0xFF};
const Bytes VERSION_PAIR_1 = {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x01, 0x05, 0x06, 0x07, 0x08, 0xFF};

// An image in a heap block of exactly its size, so that AddressSanitizer
// reports any read past its end.
struct Image {
  std::unique_ptr<uint8_t[]> bytes;
  int32_t size;
  const uint8_t* Body() const { return bytes.get() + HEADER; }
};

Image MakeImage(int32_t size, bool signature = true) {
  Image image{std::unique_ptr<uint8_t[]>(new uint8_t[size]), size};
  for (int32_t i = 0; i < size; ++i) image.bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8) * 13);
  // The signature: 12 bytes that sum to 731 (or, when it is to be wrong, 732).
  // Short images get as much of it as they hold.
  const uint8_t head[12] = {61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 61, static_cast<uint8_t>(signature ? 60 : 61)};
  std::memcpy(image.bytes.get(), head, std::min<int32_t>(size, 12));
  if (size >= VERSION_OFFSET + 4) std::memcpy(image.bytes.get() + VERSION_OFFSET, VERSION, 4);
  return image;
}

// The unit in download mode at 115200, the wire record marked, the DSP the
// only target of the job.
class DspDownloadTest : public testing::Test {
 protected:
  explicit DspDownloadTest(std::vector<sim::Fault> faults = {})
      : r(Options(std::move(faults)), 115200), ranOut(r.form.Link) {}

  static sim::VirtualUnitOptions Options(std::vector<sim::Fault> faults) {
    sim::VirtualUnitOptions options;
    options.CameraRate = 115200;
    options.Faults = std::move(faults);
    return options;
  }

  void SetUp() override {
    ASSERT_TRUE(r.opened);
    CameraCommand enter{};
    enter.address = 1;
    const uint8_t payload[] = {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD};
    std::memcpy(enter.payload, payload, sizeof payload);
    enter.length = 8;
    ASSERT_EQ(SendCameraCommand(&r.form, &enter, WAIT_ACK_AND_COMPLETION), CommandReply::Answered);
    ASSERT_TRUE(r.line.unit.CameraInDownloadMode());
    r.Idle(milliseconds(10));
    r.Mark();
    ranOut.Clear();
    r.form.Total_Size.store(BODY);
  }

  JobResult Download(const Image& image) {
    const JobResult result = DownloadDSP(&r.form, image.bytes.get(), image.size);
    // Whatever is still on its way reaches the unit.
    r.Idle(milliseconds(50));
    return result;
  }

  VirtualRoutine r;
  lumo_test::RanOutWaits ranOut;
};

// The host's side of the wire cut into messages, each ending in 0xFF (block
// packets hold nibbles only, so 0xFF ends them too), with the time of its
// first and last byte.
struct Message {
  Bytes bytes;
  Time first;
  Time last;
  Time replyBefore;  // when the unit's last byte before it reached the host
};

std::vector<Message> SentMessages(const std::vector<sim::WireByte>& wire) {
  std::vector<Message> messages;
  Message current;
  Time lastReply{};
  for (const sim::WireByte& w : wire) {
    if (w.Direction != sim::WireDirection::ToUnit) {
      lastReply = w.Time;
      continue;
    }
    if (current.bytes.empty()) {
      current.first = w.Time;
      current.replyBefore = lastReply;
    }
    current.bytes.push_back(w.Byte);
    current.last = w.Time;
    if (w.Byte == 0xFF) {
      messages.push_back(current);
      current = Message{};
    }
  }
  if (!current.bytes.empty()) messages.push_back(current);
  return messages;
}

Bytes BlockPacket(uint16_t address, const uint8_t* data) {
  uint8_t packet[160];
  const int32_t length = BuildDSPBlockPacket(packet, address, data, 64).value_or(0);
  return Bytes(packet, packet + length);
}

TEST_F(DspDownloadTest, WritesTheBodyAndVersionWithTheFirstBlockTwice) {
  const Image image = MakeImage(FULL_SIZE);
  ASSERT_EQ(Download(image), JobResult::Done);
  EXPECT_TRUE(r.ui.messages.empty());
  EXPECT_TRUE(ranOut.Counts().empty()) << "every block and version write was answered";

  const Bytes memory = r.line.unit.DspMemory();
  ASSERT_EQ(memory.size(), static_cast<size_t>(BODY));
  EXPECT_TRUE(std::equal(memory.begin(), memory.end(), image.Body())) << "DSP memory differs from the image body";
  EXPECT_EQ(r.line.unit.DspVersion(0), 0x1234);
  EXPECT_EQ(r.line.unit.DspVersion(1), 0x5678);

  // The probe, then 382 blocks from 0x0080 to 0x5FC0, then the two pairs.
  std::vector<Bytes> expected = {ANNOUNCE, BlockPacket(0x0080, image.Body())};
  for (int32_t block = 0; block < 382; ++block) {
    expected.push_back(ANNOUNCE);
    expected.push_back(BlockPacket(static_cast<uint16_t>(0x0080 + 64 * block), image.Body() + 64 * block));
  }
  expected.push_back(VERSION_PAIR_0);
  expected.push_back(VERSION_PAIR_1);
  std::vector<Bytes> sent;
  for (const Message& m : SentMessages(r.Wire())) sent.push_back(m.bytes);
  ASSERT_EQ(sent.size(), expected.size());
  for (size_t i = 0; i < sent.size(); ++i) ASSERT_EQ(sent[i], expected[i]) << "message " << i;

  // With the DSP the only target, one text per block, 0 % up to 99 %.
  const std::vector<std::string>& statuses = r.ui.statuses;
  ASSERT_EQ(statuses.size(), 382u);
  EXPECT_EQ(statuses.front(), "0 %");
  EXPECT_EQ(statuses[191], "50 %");
  EXPECT_EQ(statuses.back(), "99 %");
  for (size_t i = 1; i < statuses.size(); ++i) {
    EXPECT_LE(std::stoi(statuses[i - 1]), std::stoi(statuses[i])) << "at block " << i;
  }
}

struct OutcomeCase {
  const char* name;
  int32_t size;
  bool signature;
  std::vector<sim::Fault> faults;
  JobResult result;
  std::vector<std::string> messages;
  int blocks;          // announce-and-block pairs on the wire
  int versionWrites0;  // first version pair commands on the wire
  int versionWrites1;  // second version pair commands on the wire
  int retries;         // a block sent again right after itself, each after the retry pause
  int32_t total = BODY;        // Total_Size of the job
  std::string lastStatus = "";  // the last progress text; empty: none at all
  // The waits that ran out, per length: a version write's 1000 polls.
  RanOut ranOut = {};
};

using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;

// Block packets count from 0 on the unit's side: 0 is the probe, 1 the
// loop's first block.
const Fault REFUSE_PROBE = {FaultKind::RefuseBlock, UnitPart::Camera, -1, 0, 1, 0};
const Fault REFUSE_SECOND_BLOCK_THRICE = {FaultKind::RefuseBlock, UnitPart::Camera, -1, 2, 3, 0};
const Fault REFUSE_SECOND_BLOCK_TWICE = {FaultKind::RefuseBlock, UnitPart::Camera, -1, 2, 2, 0};
const Fault IGNORE_ALL_VERSION_WRITES = {FaultKind::IgnoreVersionWrite, UnitPart::Camera, 0xAA, 0, -1, 0};
const Fault IGNORE_SECOND_VERSION_PAIR = {FaultKind::IgnoreVersionWrite, UnitPart::Camera, 0xAA, 1, -1, 0};

const OutcomeCase OUTCOMES[] = {
    {"wrong signature", FULL_SIZE, false, {}, JobResult::Reported, {"This is not DSP File !!"}, 0, 0, 0, 0},
    // Too short for the signature: it is not read at all.
    {"11 bytes", 11, true, {}, JobResult::Reported, {"This is not DSP File !!"}, 0, 0, 0, 0},
    {"empty", 0, true, {}, JobResult::Reported, {"This is not DSP File !!"}, 0, 0, 0, 0},
    {"signature only", 12, true, {}, JobResult::Reported, {"DSP File Size Error !!"}, 0, 0, 0, 0},
    {"one byte short of the body", 24579, true, {}, JobResult::Reported, {"DSP File Size Error !!"}, 0, 0, 0, 0},
    // The body is there but the version field is not: refused before the
    // unit is touched, not half written.
    {"body without version field", 24580, true, {}, JobResult::Reported, {"DSP File Size Error !!"}, 0, 0, 0, 0},
    {"version field one byte short", 31950, true, {}, JobResult::Reported, {"DSP File Size Error !!"}, 0, 0, 0, 0},
    {"refused probe", FULL_SIZE, true, {REFUSE_PROBE}, JobResult::Reported, {"It's communication Error !!"}, 1, 0, 0, 0},
    // Three refusals of one block end the download; the job reports it.
    {"block refused three times", FULL_SIZE, true, {REFUSE_SECOND_BLOCK_THRICE}, JobResult::Failed, {}, 5, 0, 0, 2, BODY, "0 %"},
    // The smallest whole image; the DSP shares the job with a camera board
    // image of the same size, so its last block shows 49 %.
    {"block taken at its third attempt", 31951, true, {REFUSE_SECOND_BLOCK_TWICE}, JobResult::Done, {}, 385, 1, 1, 2, 2 * BODY,
     "49 %"},
    // Without a total the DSP counts as the whole job.
    {"first version pair unanswered", FULL_SIZE, true, {IGNORE_ALL_VERSION_WRITES}, JobResult::Failed,
     {"Write Version is not correct!!"}, 383, 4, 0, 0, 0, "99 %", {{CAMERA_REPLY_POLLS * POLL_PERIOD, VERSION_ATTEMPTS}}},
    {"second version pair unanswered", FULL_SIZE, true, {IGNORE_SECOND_VERSION_PAIR}, JobResult::Failed,
     {"Write Version is not correct !!"}, 383, 1, 4, 0, BODY, "99 %", {{CAMERA_REPLY_POLLS * POLL_PERIOD, VERSION_ATTEMPTS}}},
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class DspDownloadOutcome : public DspDownloadTest, public testing::WithParamInterface<OutcomeCase> {
 protected:
  DspDownloadOutcome() : DspDownloadTest(GetParam().faults) {}
};

TEST_P(DspDownloadOutcome, ResultMessagesAndWire) {
  const OutcomeCase& c = GetParam();
  const Image image = MakeImage(c.size, c.signature);
  r.form.Total_Size.store(c.total);

  EXPECT_EQ(Download(image), c.result);
  EXPECT_EQ(r.ui.messages, c.messages);
  EXPECT_EQ(ranOut.Counts(), c.ranOut);
  const std::vector<std::string>& statuses = r.ui.statuses;
  if (c.lastStatus.empty()) {
    EXPECT_TRUE(statuses.empty());
  } else {
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), c.lastStatus);
  }

  int blocks = 0, version0 = 0, version1 = 0, retries = 0, pausedRetries = 0;
  const std::vector<Message> sent = SentMessages(r.Wire());
  for (size_t i = 0; i < sent.size(); ++i) {
    const Bytes& m = sent[i].bytes;
    if (m == ANNOUNCE) {
      ++blocks;
      ASSERT_LT(i + 1, sent.size()) << "announce without its block";
      // The loop's first block repeats the probe (messages 0 to 3) without a pause.
      if (i >= 4 && sent[i + 1].bytes == sent[i - 1].bytes) {
        ++retries;
        // The refusal taken, the retry pause, the announce's own pause; its
        // first byte's time on the line.
        if (sent[i].first - sent[i].replyBefore == BLOCK_RETRY_PAUSE + COMMAND_PAUSE + sim::ByteTime(115200)) ++pausedRetries;
      }
      ++i;  // its block packet
    } else if (m == VERSION_PAIR_0) {
      ++version0;
    } else if (m == VERSION_PAIR_1) {
      ++version1;
    } else {
      ADD_FAILURE() << "unexpected message of " << m.size() << " bytes at " << i;
    }
  }
  EXPECT_EQ(blocks, c.blocks);
  EXPECT_EQ(version0, c.versionWrites0);
  EXPECT_EQ(version1, c.versionWrites1);
  EXPECT_EQ(retries, c.retries);
  EXPECT_EQ(pausedRetries, c.retries);

  if (c.result == JobResult::Done) {
    const Bytes memory = r.line.unit.DspMemory();
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), image.Body())) << "DSP memory differs from the image body";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DspDownloadOutcome, testing::ValuesIn(OUTCOMES), lumo_test::NameOfCase());

}  // namespace
