// The rules of the unit's one line, in one place for both ways the unit's
// parts are run: SimUnit on a pseudo-terminal in real time, VirtualUnit in
// the caller's process in virtual time. What one does to a byte, the other
// must do too, or a fault found against one is not a fault of the other.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "SimFaults.h"
#include "SimParts.h"

namespace sim {

class CameraModel;

enum class WireDirection { ToUnit, ToHost };

struct WireByte {
  std::chrono::steady_clock::time_point Time;
  WireDirection Direction;
  uint8_t Byte;
  int Rate;  // ToUnit: the host's line rate; ToHost: the rate the part sent at
};

// ten bit times per byte
inline std::chrono::nanoseconds ByteTime(int rate) {
  if (rate <= 0) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds(10LL * 1000000000LL / rate);
}

// What a byte sent at one rate looks like to a receiver set to another:
// never a header, terminator or acknowledge byte (all of those are 0x80 or
// above), never a zero.
inline uint8_t Garble(uint8_t b) { return static_cast<uint8_t>(((b * 37 + 11) & 0x7F) | 0x01); }

// A byte as the host's side reads it. Rate 0 is raw: noise and test bytes
// arrive as they stand, whatever the host listens at.
inline uint8_t AsHostReads(uint8_t byte, int sentRate, int hostRate) {
  return (sentRate != 0 && sentRate != hostRate) ? Garble(byte) : byte;
}

// The noise the unit puts on the line: each burst starts the same sequence
// afresh, so a run with noise can be repeated byte for byte.
class NoiseSource {
 public:
  uint8_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return static_cast<uint8_t>(x_);
  }

 private:
  uint32_t x_ = 0x2545F491u;
};

// One direction of a paced line: a byte takes ten bit times at its rate and
// starts no earlier than the end of the byte before it, so each byte has its
// own due time and lateness never adds up.
class LinePace {
 public:
  using Time = std::chrono::steady_clock::time_point;
  // When the last bit of a byte put on the line at from arrives.
  Time Next(Time from, int rate) {
    free_ = std::max(from, free_) + ByteTime(rate);
    return free_;
  }
  Time Free() const { return free_; }

 private:
  Time free_{};
};

// The unit's three parts (the camera with its DSP, the camera board's and
// the control board's loaders) on the one line, and which of them holds it.
class UnitParts {
 public:
  // line is what the parts talk to; it outlives the parts. A camera rate of
  // zero or below is the camera's default, 9600.
  UnitParts(UnitLine& line, int cameraRate, std::optional<UnitPart> listeningAtStart);
  ~UnitParts();
  UnitParts(const UnitParts&) = delete;
  UnitParts& operator=(const UnitParts&) = delete;

  // Read by other threads while a SimUnit runs, hence atomic.
  UnitPart Listening() const { return static_cast<UnitPart>(listening_.load()); }
  void Route(UnitPart part) { listening_.store(static_cast<int>(part)); }
  // A reply goes out at the rate of the part that holds the line when it is sent.
  int SendRate() const { return Part(Listening()).ListenRate(); }

  // A byte arrives at the unit at rate. A busy unit hears nothing; the part
  // that holds the line hears it only at the rate it listens at (anything
  // else is a framing error to it). When the byte makes a loader give the
  // line back, the camera forgets a half-heard frame.
  void Hear(uint8_t byte, int rate, bool busy);

  CameraModel& Camera() { return *camera_; }
  const CameraModel& Camera() const { return *camera_; }
  std::vector<uint8_t> Flash(UnitPart board) const;  // empty when the part keeps none

 private:
  UnitPartModel& Part(UnitPart part) const;

  std::unique_ptr<CameraModel> camera_;
  std::unique_ptr<UnitPartModel> cameraBoardLoader_;
  std::unique_ptr<UnitPartModel> controlBoardLoader_;
  std::atomic<int> listening_;
};

}  // namespace sim
