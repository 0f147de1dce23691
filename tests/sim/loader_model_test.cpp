// The boards' flash loader model, fed byte by byte through a recording line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LoaderPacket.h"
#include "LoaderModel.h"
#include "SimParts.h"

namespace {

using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;
using Bytes = std::vector<uint8_t>;

// Records what the loader does to the line, in order, as text.
class RecordingLine : public sim::UnitLine {
 public:
  void Send(const Bytes& bytes) override {
    if (bytes.size() > 16) {
      events.push_back("send " + std::to_string(bytes.size()) + " bytes");
      bulk.insert(bulk.end(), bytes.begin(), bytes.end());
      return;
    }
    std::string text = "send";
    for (uint8_t b : bytes) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", b);
      text += hex;
    }
    events.push_back(text);
  }
  void SendAfter(std::chrono::milliseconds delay, const Bytes& bytes) override {
    const size_t before = events.size();
    Send(bytes);
    events[before] = "after " + std::to_string(delay.count()) + " " + events[before];
  }
  void Route(UnitPart part) override { events.push_back("route " + std::to_string(static_cast<int>(part))); }
  void Busy(std::chrono::milliseconds d) override { events.push_back("busy " + std::to_string(d.count())); }
  const sim::FaultTable& Faults() const override { return faults; }
  void HangUp() override { events.push_back("hangup"); }

  sim::FaultTable faults;
  std::vector<std::string> events;
  Bytes bulk;
};

Bytes Packet(uint8_t command, const Bytes& data = {}) { return lumo_test::LoaderPacket(command, data); }
Bytes Ping() { return Packet(0x20); }
Bytes Status() { return {0x03, 0x23, 0x23, 0xCC}; }  // with the host's acknowledge
Bytes Reset() { return Packet(0x25); }
Bytes Data(const Bytes& data) { return Packet(0x24, data); }
Bytes Download(uint32_t address, uint32_t length) {
  Bytes d;
  for (uint32_t v : {address, length})
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<uint8_t>(v >> shift));
  return Packet(0x21, d);
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const char* ACK = "send 00 CC";
const char* NAK = "send 00 33";

struct ModelCase {
  const char* Name;
  std::vector<Fault> Faults;
  Bytes Input;
  std::vector<std::string> Events;
  Bytes Flash;
};

TEST(LoaderModel, AnswersPacketsAsTheBoardsLoaderDoes) {
  const Fault nakSecondData{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x24, 1};
  const ModelCase cases[] = {
      {"PING", {}, Ping(), {ACK}, {}},
      {"zero bytes between packets are skipped", {}, Bytes{0, 0} + Ping() + Bytes{0} + Ping(), {ACK, ACK}, {}},
      {"a zero byte inside a packet is data", {}, Download(0x1000, 3) + Data({0x00, 0x07, 0x00}),
       {"busy 10", "after 10 send 00 CC", ACK}, {0x00, 0x07, 0x00}},
      {"bad checksum: NAK, status kept", {}, Bytes{0x03, 0x21, 0x20} + Status(), {NAK, "send 00 CC 03 40 40"}, {}},
      {"size above the packet buffer: swallowed whole, no reply", {},
       Bytes{80, 0x00} + Bytes(78, 0x24) + Ping(), {ACK}, {}},
      {"size 79, the largest SEND_DATA, is taken", {}, Download(0x1000, 76) + Data(Bytes(76, 0x5A)),
       {"busy 10", "after 10 send 00 CC", ACK}, Bytes(76, 0x5A)},
      {"three resync bytes: ACK, status UNKNOWN_CMD", {}, Bytes{0x03, 0x03, 0x03} + Status(),
       {ACK, "send 00 CC 03 41 41"}, {}},
      {"resync bytes complete a partial packet first", {}, Bytes{0x06, 0x24, 0x24} + Bytes(6, 0x03),
       {NAK, ACK}, {}},
      {"the status reply waits for the host's non-zero byte", {}, Bytes{0x03, 0x23, 0x23} + Bytes{0, 0, 0xCC} + Ping(),
       {"send 00 CC 03 40 40", ACK}, {}},
      {"without the host's byte the next packet is mis-framed", {}, Bytes{0x03, 0x23, 0x23} + Ping(),
       {"send 00 CC 03 40 40"}, {}},
      {"DOWNLOAD erases one page per KiB before its ACK", {}, Download(0x1000, 65536) + Status(),
       {"busy 640", "after 640 send 00 CC", "send 00 CC 03 40 40"}, {}},
      {"DOWNLOAD to another address: INVALID_ADR, no erase", {}, Download(0x2000, 100) + Status(),
       {ACK, "send 00 CC 03 43 43"}, {}},
      {"DOWNLOAD too large for the flash: INVALID_ADR", {}, Download(0x1000, sim::LOADER_IMAGE_ROOM + 1) + Status(),
       {ACK, "send 00 CC 03 43 43"}, {}},
      {"DOWNLOAD filling the flash exactly", {}, Download(0x1000, sim::LOADER_IMAGE_ROOM) + Status(),
       {"busy 2520", "after 2520 send 00 CC", "send 00 CC 03 40 40"}, {}},
      {"DOWNLOAD with a short address field: INVALID_CMD", {}, Packet(0x21, {0, 0, 0x10, 0}) + Status(),
       {ACK, "send 00 CC 03 42 42"}, {}},
      {"SEND_DATA before any DOWNLOAD: INVALID_ADR, nothing written", {}, Data({1, 2, 3}) + Status(),
       {ACK, "send 00 CC 03 43 43"}, {}},
      {"SEND_DATA past the announced length: INVALID_ADR, nothing written", {},
       Download(0x1000, 4) + Data({1, 2, 3}) + Status() + Data({4, 5}) + Status(),
       {"busy 10", "after 10 send 00 CC", ACK, "send 00 CC 03 40 40", ACK, "send 00 CC 03 43 43"}, {1, 2, 3}},
      {"a new DOWNLOAD erases what was written", {}, Download(0x1000, 2) + Data({1, 2}) + Download(0x1000, 2),
       {"busy 10", "after 10 send 00 CC", ACK, "busy 10", "after 10 send 00 CC"}, {0xFF, 0xFF}},
      {"RESET: ACK, then the line returns to the camera", {}, Reset(), {ACK, "route 0"}, {}},
      // Faults.
      {"NAK for the second SEND_DATA: not written", {nakSecondData},
       Download(0x1000, 4) + Data({1, 2}) + Data({3, 4}) + Data({3, 4}),
       {"busy 10", "after 10 send 00 CC", ACK, NAK, ACK}, {1, 2, 3, 4}},
      {"dropped ACK: the chunk is written all the same",
       {{FaultKind::DropReply, UnitPart::CameraBoardLoader, 0x24}}, Download(0x1000, 4) + Data({1, 2}),
       {"busy 10", "after 10 send 00 CC"}, {1, 2}},
      {"dropped status reply: the host's byte is still consumed",
       {{FaultKind::DropReply, UnitPart::CameraBoardLoader, 0x23}}, Status() + Ping(), {ACK}, {}},
      {"corrupted status byte", {{FaultKind::CorruptReply, UnitPart::CameraBoardLoader, 0x23, 0, 1, 4}}, Status(),
       {"send 00 CC 03 40 1A"}, {}},
      {"corrupted on the way in: NAK, not written",
       {{FaultKind::CorruptIncoming, UnitPart::CameraBoardLoader, 0x24, 0, 1, 2}},
       Download(0x1000, 2) + Data({1, 2}) + Data({1, 2}), {"busy 10", "after 10 send 00 CC", NAK, ACK}, {1, 2}},
      {"silence: neither carried out nor answered", {{FaultKind::Silence, UnitPart::CameraBoardLoader, 0x24}},
       Download(0x1000, 2) + Data({1, 2}) + Status(), {"busy 10", "after 10 send 00 CC", "send 00 CC 03 40 40"}, {}},
      {"late reply", {{FaultKind::LateReply, UnitPart::CameraBoardLoader, 0x20, 0, 1, 300}}, Ping(),
       {"busy 300", "after 300 send 00 CC"}, {}},
      {"late erase", {{FaultKind::LateErase, UnitPart::CameraBoardLoader, 0x21, 0, 1, 500}}, Download(0x1000, 2048),
       {"busy 520", "after 520 send 00 CC"}, {}},
      {"erase fails: FLASH_FAIL, and no data is taken",
       {{FaultKind::FlashFailure, UnitPart::CameraBoardLoader, 0x21}},
       Download(0x1000, 2) + Status() + Data({1, 2}) + Status(),
       {"busy 10", "after 10 send 00 CC", "send 00 CC 03 44 44", ACK, "send 00 CC 03 43 43"}, {}},
      {"programming fails: FLASH_FAIL, nothing written",
       {{FaultKind::FlashFailure, UnitPart::CameraBoardLoader, 0x24}},
       Download(0x1000, 2) + Data({1, 2}) + Status(), {"busy 10", "after 10 send 00 CC", ACK, "send 00 CC 03 44 44"}, {}},
      {"hang-up after a packet", {{FaultKind::HangUp, UnitPart::CameraBoardLoader, 0x20}}, Ping(), {ACK, "hangup"},
       {}},
      {"a fault for every packet counts all packets", {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, -1, 2}},
       Ping() + Bytes{3, 3, 3} + Reset() + Ping(), {ACK, ACK, NAK, ACK}, {}},
      {"faults of the other board do not apply", {{FaultKind::NakPacket, UnitPart::ControlBoardLoader, -1, 0, -1}},
       Ping(), {ACK}, {}},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.Name);
    RecordingLine line;
    for (const Fault& f : c.Faults) line.faults.Add(f);
    auto model = sim::MakeLoaderModel(UnitPart::CameraBoardLoader, line);
    EXPECT_EQ(model->ListenRate(), 115200);
    for (uint8_t b : c.Input) model->Hear(b);
    EXPECT_EQ(line.events, c.Events);
    auto* flash = dynamic_cast<sim::LoaderFlashView*>(model.get());
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ(flash->Flash(), c.Flash);
  }
}

TEST(LoaderModel, NoiseFloodFollowsTheReplyAndNeverLooksLikeOne) {
  RecordingLine line;
  line.faults.Add({FaultKind::NoiseFlood, UnitPart::ControlBoardLoader, 0x20, 0, 1, 3000});
  auto model = sim::MakeLoaderModel(UnitPart::ControlBoardLoader, line);
  for (uint8_t b : Ping()) model->Hear(b);
  ASSERT_EQ(line.events.size(), 2u);
  EXPECT_EQ(line.events[0], ACK);
  EXPECT_EQ(line.events[1], "send 3000 bytes");
  for (uint8_t b : line.bulk) ASSERT_NE(b, 0) << "a zero byte could start a false ACK";
}

TEST(LoaderModel, WholeImageInChunksLandsAtTheLoadAddressAndSurvivesReset) {
  RecordingLine line;
  auto model = sim::MakeLoaderModel(UnitPart::ControlBoardLoader, line);
  Bytes image(1000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes input = Ping() + Download(0x1000, 1000) + Status();
  for (size_t at = 0; at < image.size(); at += 76) {
    const size_t n = std::min<size_t>(76, image.size() - at);
    input = input + Data(Bytes(image.begin() + at, image.begin() + at + n)) + Status();
  }
  input = input + Reset();
  for (uint8_t b : input) model->Hear(b);
  EXPECT_EQ(dynamic_cast<sim::LoaderFlashView&>(*model).Flash(), image);
  EXPECT_EQ(line.events.back(), "route 0");
  // Entered again after the restart, it has no transfer open.
  line.events.clear();
  for (uint8_t b : Data({1}) + Status()) model->Hear(b);
  EXPECT_EQ(line.events, (std::vector<std::string>{ACK, "send 00 CC 03 43 43"}));
  EXPECT_EQ(dynamic_cast<sim::LoaderFlashView&>(*model).Flash(), image);
}

}  // namespace
