// The simulated unit's DSP: which block packets it takes into its memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "SimParts.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::DspModel;

constexpr size_t MEMORY_SIZE = DspModel::END_ADDRESS - DspModel::FIRST_ADDRESS;

// An encoder of its own, so that the model is not checked against the tool's
// builder: address nibbles, data nibbles, checksum nibbles, no terminator.
Bytes Encode(uint16_t address, const Bytes& data, uint16_t checksumDelta = 0) {
  Bytes p;
  auto put16 = [&p](uint16_t v) {
    for (int shift = 12; shift >= 0; shift -= 4) p.push_back((v >> shift) & 0x0F);
  };
  put16(address);
  uint32_t sum = (address & 0xFF) + (address >> 8);
  for (uint8_t b : data) {
    p.push_back(b >> 4);
    p.push_back(b & 0x0F);
    sum += b;
  }
  put16(static_cast<uint16_t>(sum + checksumDelta));
  return p;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(seed + 37 * i);
  return data;
}

struct PacketCase {
  const char* name;
  Bytes packet;
  bool taken;
  uint16_t address;  // where the data lands when taken
  Bytes data;
};

std::vector<PacketCase> PacketCases() {
  const Bytes block = Pattern(64, 3);
  std::vector<PacketCase> cases = {
      {"first block", Encode(0x0080, block), true, 0x0080, block},
      {"last block", Encode(0x5FC0, block), true, 0x5FC0, block},
      {"one byte", Encode(0x1234, {0xA5}), true, 0x1234, {0xA5}},
      {"below the memory", Encode(0x007F, block), false, 0, {}},
      {"runs past 0x5FFF", Encode(0x5FC1, block), false, 0, {}},
      {"address 0xFFFF", Encode(0xFFFF, {0x01}), false, 0, {}},
      {"checksum off by one", Encode(0x0080, block, 1), false, 0, {}},
      {"no data byte", Encode(0x0080, {}), false, 0, {}},
      {"too short for a frame", {0x00, 0x00, 0x08}, false, 0, {}},
      {"empty", {}, false, 0, {}},
  };
  Bytes odd = Encode(0x0080, block);
  odd.push_back(0x00);
  cases.push_back({"odd number of nibbles", odd, false, 0, {}});

  // A byte that is no nibble, with the checksum still right if its high bits
  // were dropped: 0x12 sent as 0x11 0x02 decodes to 0x12 only when masked.
  Bytes notNibble = Encode(0x0080, {0x12});
  notNibble[4] = 0x11;
  cases.push_back({"byte above 0x0F", notNibble, false, 0, {}});

  Bytes terminated = Encode(0x0100, block);
  terminated.push_back(0xFF);
  cases.push_back({"with its 0xFF", terminated, true, 0x0100, block});
  return cases;
}

TEST(DspModel, TakesOnlyWholeCorrectBlocksInsideItsMemory) {
  const sim::FaultTable noFaults;
  for (const PacketCase& c : PacketCases()) {
    SCOPED_TRACE(c.name);
    DspModel dsp;
    EXPECT_EQ(dsp.TakeBlockPacket(c.packet, 0, noFaults), c.taken);
    Bytes expected(MEMORY_SIZE, 0xFF);
    if (c.taken) {
      std::copy(c.data.begin(), c.data.end(), expected.begin() + (c.address - DspModel::FIRST_ADDRESS));
    }
    EXPECT_EQ(dsp.Memory(), expected);
  }
}

TEST(DspModel, RefuseBlockFaultHitsTheCountedPacketsOnly) {
  sim::FaultTable faults;
  // Packets 2, 3 and 4 are refused: three refusals of one block in a row.
  faults.Add({sim::FaultKind::RefuseBlock, sim::UnitPart::Camera, -1, 2, 3, 0});
  // A fault of another part or kind does not touch the DSP.
  faults.Add({sim::FaultKind::RefuseBlock, sim::UnitPart::CameraBoardLoader, -1, 0, -1, 0});
  faults.Add({sim::FaultKind::IgnoreVersionWrite, sim::UnitPart::Camera, -1, 0, -1, 0});

  DspModel dsp;
  const Bytes block = Pattern(64, 9);
  const bool expected[] = {true, true, false, false, false, true};
  for (int index = 0; index < 6; ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(dsp.TakeBlockPacket(Encode(0x0080 + 64 * index, block), index, faults), expected[index]);
  }
  const Bytes memory = dsp.Memory();
  EXPECT_EQ(memory[2 * 64], 0xFF) << "a refused block must not be written";
  EXPECT_EQ(Bytes(memory.begin() + 5 * 64, memory.begin() + 6 * 64), block);
}

TEST(DspModel, KeepsBothVersionHalves) {
  DspModel dsp;
  EXPECT_EQ(dsp.Version(0), 0);
  EXPECT_EQ(dsp.Version(1), 0);
  dsp.SetVersion(0, 0x1234);
  dsp.SetVersion(1, 0x5678);
  dsp.SetVersion(2, 0xDEAD);  // no such pair: neither half changes
  dsp.SetVersion(-1, 0xBEEF);
  EXPECT_EQ(dsp.Version(0), 0x1234);
  EXPECT_EQ(dsp.Version(1), 0x5678);
}

}  // namespace
