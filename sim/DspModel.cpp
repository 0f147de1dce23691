// The DSP behind the camera: takes nibble-coded block packets into its memory
// and keeps the two version halves.
#include "SimParts.h"

#include <algorithm>

namespace sim {
namespace {

// The address and the checksum take four nibbles each.
constexpr size_t FRAME_NIBBLES = 8;

uint16_t Nibbles16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 12) | (p[1] << 8) | (p[2] << 4) | p[3]);
}

}  // namespace

bool DspModel::TakeBlockPacket(const std::vector<uint8_t>& packet, int blockIndex, const FaultTable& faults) {
  size_t size = packet.size();
  if (size > 0 && packet[size - 1] == 0xFF) --size;  // tolerate the terminator
  // At least one data byte, and whole bytes of two nibbles each.
  if (size < FRAME_NIBBLES + 2 || (size - FRAME_NIBBLES) % 2 != 0) return false;
  for (size_t i = 0; i < size; ++i) {
    if (packet[i] > 0x0F) return false;
  }

  const uint8_t* p = packet.data();
  const uint16_t address = Nibbles16(p);
  const size_t count = (size - FRAME_NIBBLES) / 2;
  std::vector<uint8_t> data(count);
  uint16_t sum = static_cast<uint16_t>((address & 0xFF) + (address >> 8));
  for (size_t i = 0; i < count; ++i) {
    data[i] = static_cast<uint8_t>((p[4 + 2 * i] << 4) | p[5 + 2 * i]);
    sum = static_cast<uint16_t>(sum + data[i]);
  }
  if (Nibbles16(p + 4 + 2 * count) != sum) return false;
  if (address < FIRST_ADDRESS || address + count > END_ADDRESS) return false;
  if (faults.Hit(FaultKind::RefuseBlock, UnitPart::Camera, MATCH_DSP_BLOCK, blockIndex)) return false;

  std::lock_guard<std::mutex> hold(lock_);
  std::copy(data.begin(), data.end(), memory_.begin() + (address - FIRST_ADDRESS));
  return true;
}

void DspModel::SetVersion(int pair, uint16_t value) {
  if (pair != 0 && pair != 1) return;
  std::lock_guard<std::mutex> hold(lock_);
  version_[pair] = value;
}

std::vector<uint8_t> DspModel::Memory() const {
  std::lock_guard<std::mutex> hold(lock_);
  return memory_;
}

uint16_t DspModel::Version(int pair) const {
  if (pair != 0 && pair != 1) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  return version_[pair];
}

}  // namespace sim
