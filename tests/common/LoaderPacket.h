// Loader packets as the host must send them, built independently of the
// builders under test: size, checksum of command and data, command, data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace lumo_test {

inline std::vector<uint8_t> LoaderPacket(uint8_t command, const std::vector<uint8_t>& data = {}) {
  uint8_t sum = command;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  // Sized once and filled: GCC 12 warns falsely about an insert into a
  // three-byte vector under ThreadSanitizer.
  std::vector<uint8_t> p(data.size() + 3);
  p[0] = static_cast<uint8_t>(data.size() + 3);
  p[1] = sum;
  p[2] = command;
  std::copy(data.begin(), data.end(), p.begin() + 3);
  return p;
}

}  // namespace lumo_test
