// The bytes the DSP download puts on the wire, and the signature test.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "DspDownload.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Repeat(uint8_t value, size_t n) { return Bytes(n, value); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct BlockCase {
  const char* name;
  uint16_t address;
  Bytes data;
  Bytes packet;
};

TEST(DspBlockPacket, EncodesAddressDataChecksumAndTerminator) {
  const BlockCase cases[] = {
      {"two bytes at 0x1234", 0x1234, {0x12, 0x34},
       {0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x08, 0x0C, 0xFF}},
      {"64 zero bytes at 0x0080", 0x0080, Repeat(0x00, 64),
       Concat({{0x00, 0x00, 0x08, 0x00}, Repeat(0x00, 128), {0x00, 0x00, 0x08, 0x00, 0xFF}})},
      // 0xFF * 64 + 0xC0 + 0x5F = 0x40DF: bytes are summed unsigned, and the
      // sum carries past 8 bits.
      {"64 bytes 0xFF at 0x5FC0", 0x5FC0, Repeat(0xFF, 64),
       Concat({{0x05, 0x0F, 0x0C, 0x00}, Repeat(0x0F, 128), {0x04, 0x00, 0x0D, 0x0F, 0xFF}})},
      // 0xFF * 75 + 0xFF + 0xFF = 0x4CB3; 75 bytes are the most the 160-byte buffer holds.
      {"75 bytes 0xFF at 0xFFFF", 0xFFFF, Repeat(0xFF, 75),
       Concat({{0x0F, 0x0F, 0x0F, 0x0F}, Repeat(0x0F, 150), {0x04, 0x0C, 0x0B, 0x03, 0xFF}})},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t packet[160];
    std::fill(std::begin(packet), std::end(packet), 0xAA);
    const std::optional<int32_t> built = BuildDSPBlockPacket(packet, c.address, c.data.data(), static_cast<uint32_t>(c.data.size()));
    ASSERT_EQ(built, static_cast<int32_t>(2 * c.data.size() + 9));
    const int32_t length = *built;
    EXPECT_EQ(Bytes(packet, packet + length), c.packet);
    // The rest of the buffer is cleared, never left over from before.
    EXPECT_EQ(Bytes(packet + length, packet + 160), Repeat(0x00, 160 - length));
  }
}

TEST(DspBlockPacket, RefusesMoreDataThanTheBufferHolds) {
  uint8_t packet[160];
  const Bytes data = Repeat(0x11, 76);
  EXPECT_EQ(BuildDSPBlockPacket(packet, 0x0080, data.data(), 76), std::nullopt);
}

struct VersionCase {
  uint8_t pair;
  uint8_t low;
  uint8_t high;
  Bytes packet;
};

// The camera command's packet as the channel puts it on the wire.
Bytes Wire(const CameraCommand& command) {
  Bytes packet{static_cast<uint8_t>(0x80 + command.address)};
  packet.insert(packet.end(), command.payload, command.payload + command.length - 2);
  packet.push_back(0xFF);
  return packet;
}

TEST(DspVersionCommand, CarriesTheVersionFieldAsNibbles) {
  // Version field 0x34 0x12 0x78 0x56: pair 0 from F0 F1, pair 1 from F2 F3.
  const VersionCase cases[] = {
      {0, 0x34, 0x12, {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x00, 0x01, 0x02, 0x03, 0x04, 0xFF}},
      {1, 0x78, 0x56, {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x01, 0x05, 0x06, 0x07, 0x08, 0xFF}},
      {1, 0xF0, 0x0F, {0x81, 0x01, 0x04, 0xAA, 0xEE, 0x01, 0x00, 0x0F, 0x0F, 0x00, 0xFF}},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "pair " << int(c.pair) << " low " << int(c.low));
    CameraCommand command;
    std::fill(reinterpret_cast<uint8_t*>(&command), reinterpret_cast<uint8_t*>(&command) + sizeof command, 0x77);
    BuildDSPVersionCommand(&command, c.pair, c.low, c.high);
    EXPECT_EQ(command.address, 1);
    ASSERT_EQ(command.length, 11);
    EXPECT_EQ(Wire(command), c.packet);
    EXPECT_EQ(Bytes(command.payload + 9, command.payload + 15), Repeat(0x00, 6)) << "descriptor not cleared";
  }
}

struct SignatureCase {
  const char* name;
  Bytes head;  // the first 12 bytes
  bool result;
};

TEST(DspSignature, SumsTwelveUnsignedBytesTo731) {
  const SignatureCase cases[] = {
      {"61 x 11 + 60", {61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 60}, true},
      {"bytes above 0x7F count unsigned", {0xFF, 0xFF, 0xDD, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
      {"sum 730", {61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 59}, false},
      {"sum 732", {61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 61, 61}, false},
      {"731 + 256: no 8-bit sum", {0xFF, 0xFF, 0xFF, 0xDE, 0, 0, 0, 0, 0, 0, 0, 0}, false},
      {"all zero", Repeat(0, 12), false},
  };
  for (const SignatureCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A 13th byte of 1 would turn "sum 730" into a pass if it were counted.
    Bytes image = c.head;
    image.push_back(1);
    EXPECT_EQ(CheckDSPHeader(image.data()), c.result);
  }
}

}  // namespace
