// Loader packets as the host must send them, built independently of the
// builders under test: size, checksum of command and data, command, data.
#pragma once

#include <cstdint>
#include <vector>

namespace lumo_test {

inline std::vector<uint8_t> LoaderPacket(uint8_t command, const std::vector<uint8_t>& data = {}) {
  uint8_t sum = command;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  std::vector<uint8_t> p = {static_cast<uint8_t>(data.size() + 3), sum, command};
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

}  // namespace lumo_test
