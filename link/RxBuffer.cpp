#include "RxBuffer.h"

#include <algorithm>

#include "SerialPort.h"

void RxBuffer::Reset() {
  std::lock_guard<std::mutex> hold(Rx_Lock);
  for (auto& b : Rx_Buffer) b.store(0, std::memory_order_relaxed);
  Rx_WritePos = nullptr;
}

void RxBuffer::RestartIfReset() {
  if (Rx_WritePos == nullptr) {
    Rx_WritePos = Rx_Buffer;
    Rx_Count.store(0, std::memory_order_release);
  }
}

bool RxBuffer::StoreLocked(const uint8_t* bytes, uint32_t count) {
  std::atomic<uint8_t>* const end = Rx_Buffer + RX_BUFFER_SIZE;
  const uint32_t keep = std::min(count, static_cast<uint32_t>(end - Rx_WritePos));
  for (uint32_t i = 0; i < keep; ++i) Rx_WritePos[i].store(bytes[i], std::memory_order_relaxed);
  Rx_WritePos += keep;
  Rx_Count.fetch_add(keep, std::memory_order_release);
  if (keep > 0) {
    ++Rx_Stores;
    Rx_LastStore = std::chrono::steady_clock::now();
  }
  return keep > 0;
}

void RxBuffer::StorePass(SerialPort* port) {
  bool stored = false;
  {
    std::lock_guard<std::mutex> hold(Rx_Lock);
    RestartIfReset();
    uint32_t queued = 0;
    if (!port || !port->QueuedInput(queued)) return;
    uint8_t chunk[RX_BUFFER_SIZE];
    while (queued > 0) {
      const uint32_t want = std::min<uint32_t>(queued, sizeof chunk);
      uint32_t got = 0;
      if (!port->Read(chunk, want, got) || got == 0) break;
      stored = StoreLocked(chunk, got) || stored;
      queued -= std::min(got, queued);
    }
  }
  // The waiting sender scans again at once.
  if (stored) Rx_Stored.notify_all();
}

uint64_t RxBuffer::Stores() const {
  std::lock_guard<std::mutex> hold(Rx_Lock);
  return Rx_Stores;
}

std::chrono::steady_clock::time_point RxBuffer::LastStore() const {
  std::lock_guard<std::mutex> hold(Rx_Lock);
  return Rx_LastStore;
}

bool RxBuffer::WaitForStore(uint64_t& seen, std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock<std::mutex> hold(Rx_Lock);
  const bool stored = Rx_Stored.wait_until(hold, deadline, [&] { return Rx_Stores != seen; });
  seen = Rx_Stores;
  return stored;
}

