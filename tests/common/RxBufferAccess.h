// The receive buffer seen and steered from outside: bytes handed to it by a
// port as the receive pass reads them, what it holds, and the states no pass
// makes (a count ahead of the bytes, or beyond the buffer) that the scans
// must cope with all the same.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "RxBuffer.h"
#include "SerialPort.h"

// Befriended by RxBuffer: the one way in besides the receive pass and the reset.
class RxBufferAccess {
 public:
  // What is stored since the last reset, taken whole under the lock; nothing
  // while the reset waits for the next pass.
  static std::vector<uint8_t> Stored(const RxBuffer& rx) {
    std::lock_guard<std::mutex> hold(rx.Rx_Lock);
    std::vector<uint8_t> bytes;
    if (rx.Rx_WritePos == nullptr) return bytes;
    const uint32_t n = std::min(rx.Rx_Count.load(std::memory_order_acquire), RX_BUFFER_SIZE);
    for (uint32_t i = 0; i < n; ++i) bytes.push_back(rx.Rx_Buffer[i].load(std::memory_order_relaxed));
    return bytes;
  }

  // Whether a reset waits for the receive thread's next pass: until then
  // the count is still the one from before the reset.
  static bool ResetPending(const RxBuffer& rx) {
    std::lock_guard<std::mutex> hold(rx.Rx_Lock);
    return rx.Rx_WritePos == nullptr;
  }

  // Whether the count equals the write position and stays within the buffer
  // (always, between a store and a reset); taken under the lock.
  static bool Consistent(const RxBuffer& rx) {
    std::lock_guard<std::mutex> hold(rx.Rx_Lock);
    if (rx.Rx_WritePos == nullptr) return true;
    const uint32_t count = rx.Rx_Count.load(std::memory_order_acquire);
    return count == static_cast<uint32_t>(rx.Rx_WritePos - rx.Rx_Buffer) && count <= RX_BUFFER_SIZE;
  }

  // Puts n bytes at the start and claims count received bytes, whatever was
  // stored.
  static void Place(RxBuffer& rx, const uint8_t* bytes, uint32_t n, uint32_t count) {
    std::lock_guard<std::mutex> hold(rx.Rx_Lock);
    n = std::min(n, RX_BUFFER_SIZE);
    for (uint32_t i = 0; i < n; ++i) rx.Rx_Buffer[i].store(bytes[i], std::memory_order_relaxed);
    rx.Rx_WritePos = rx.Rx_Buffer + std::min(count, RX_BUFFER_SIZE);
    rx.Rx_Count.store(count, std::memory_order_release);
  }
};

namespace lumo_test {

// A port with bytes queued for input, as a unit's reply waits in the driver.
class QueuedInputPort : public SerialPort {
 public:
  explicit QueuedInputPort(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool GetCommState(LineSettings& settings) override {
    settings.BaudRate = 9600;
    return true;
  }
  bool SetCommState(const LineSettings&) override { return true; }
  bool QueuedInput(uint32_t& count) override {
    count = static_cast<uint32_t>(bytes_.size() - taken_);
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override {
    got = static_cast<uint32_t>(std::min<size_t>(size, bytes_.size() - taken_));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(taken_), got, buffer);
    taken_ += got;
    return true;
  }
  bool Write(const uint8_t*, uint32_t size, uint32_t& written) override {
    written = size;
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t taken_ = 0;
};

// The receive thread's pass over a port that has bytes queued: stored as a
// job stores a unit's reply (after a reset, from the first byte; past the
// buffer, dropped).
inline void ReceivePass(RxBuffer& rx, const std::vector<uint8_t>& bytes) {
  QueuedInputPort port(bytes);
  rx.StorePass(&port);
}

}  // namespace lumo_test
