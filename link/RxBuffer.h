// The receive buffer: what the unit sent since the last reply reset, as the
// receive thread stores it and the senders scan it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class SerialPort;

constexpr uint32_t RX_BUFFER_SIZE = 1024;

class RxBuffer {
 public:
  // The reply reset: every byte to zero, and the next store restarts at the
  // first byte. Never in the middle of a store.
  void Reset();
  // One pass of the receive thread: after a reset it restarts at byte 0 with
  // a count of 0; then it takes what the port has queued. Past 1024 bytes
  // since the last reset the excess is read and dropped, never wrapped: the
  // reply a sender waits for comes first after its reset and must not be
  // overwritten by noise behind it.
  void StorePass(SerialPort* port);

  // Bytes received since the last reset (Rx_Count), as the receive thread
  // raises it; a scan reads it afresh at every position.
  uint32_t Count() const { return Rx_Count.load(std::memory_order_acquire); }
  uint8_t At(uint32_t i) const { return Rx_Buffer[i].load(std::memory_order_relaxed); }
  // Whether byte i + last is a received one: below the count and inside the buffer.
  bool Received(uint32_t i, uint32_t last) const { return i + last < Count() && i + last < RX_BUFFER_SIZE; }

  // How many stores have brought bytes so far; a waiter passes what it saw.
  uint64_t Stores() const;
  // When the last store that brought bytes was made.
  std::chrono::steady_clock::time_point LastStore() const;
  // Blocks until a store after seen has brought bytes (true, seen updated)
  // or until deadline (false).
  bool WaitForStore(uint64_t& seen, std::chrono::steady_clock::time_point deadline) const;

 private:
  // Looks at the whole state from outside, under the lock, and places states
  // that no store makes, for checking the scans; lives with the tests.
  friend class RxBufferAccess;

  // Under Rx_Lock; true when it kept bytes.
  bool StoreLocked(const uint8_t* bytes, uint32_t count);
  void RestartIfReset();

  // Stores and the reset hold Rx_Lock, so a count is never added to a
  // position that was reset meanwhile. The bytes are atomic so that scans may
  // read them while a store runs; the count is published with release after
  // the bytes it counts.
  mutable std::mutex Rx_Lock;
  std::atomic<uint8_t> Rx_Buffer[RX_BUFFER_SIZE]{};
  std::atomic<uint8_t>* Rx_WritePos = nullptr;  // null: the next store restarts at byte 0
  std::atomic<uint32_t> Rx_Count{0};
  uint64_t Rx_Stores = 0;  // under Rx_Lock
  std::chrono::steady_clock::time_point Rx_LastStore{};  // under Rx_Lock
  mutable std::condition_variable Rx_Stored;
};
