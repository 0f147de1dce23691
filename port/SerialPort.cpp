#include "SerialPort.h"

#include <algorithm>
#include <thread>

namespace {
// Slack on top of the line time of a write: scheduling, the other side's
// read latency, a full driver queue that drains at line rate.
constexpr int64_t WRITE_MARGIN_MS = 500;
constexpr uint32_t UNSET_RATE_AS = 9600;
}  // namespace

const PortConfig& PortFactory::Config() const {
  static const PortConfig platformDefaults;
  return platformDefaults;
}

void SerialPort::WaitForInput(std::chrono::milliseconds bound) {
  std::this_thread::sleep_for(std::min(bound, INPUT_POLL_PERIOD));
}

std::chrono::milliseconds WriteBound(uint32_t size, uint32_t rate) {
  if (rate == 0) rate = UNSET_RATE_AS;
  const int64_t lineMs = static_cast<int64_t>(size) * 10 * 1000 / rate;
  return std::chrono::milliseconds(lineMs + lineMs / 2 + WRITE_MARGIN_MS);
}
