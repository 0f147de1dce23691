// How the unit's parts (the camera with its DSP, the two boards' loaders) sit
// on the one line that the simulated unit owns.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "DspLayout.h"
#include "SimFaults.h"

namespace sim {

// What the unit's core does for a part.
class UnitLine {
 public:
  virtual ~UnitLine() = default;
  // Sends bytes to the host at the rate the sending part listens at; bytes
  // sent while the host's side is at another rate arrive as garbage.
  virtual void Send(const std::vector<uint8_t>& bytes) = 0;
  // From the next byte on, this part hears the line.
  virtual void Route(UnitPart part) = 0;
  // The part is busy (an erase, a late answer); the line is not heard meanwhile.
  virtual void Busy(std::chrono::milliseconds duration) = 0;
  virtual const FaultTable& Faults() const = 0;
  // The line goes dead: the unit hangs up the host.
  virtual void HangUp() = 0;
  // A late answer: the bytes go out after delay, as Send would send them then.
  virtual void SendAfter(std::chrono::milliseconds /*delay*/, const std::vector<uint8_t>& bytes) { Send(bytes); }
  // Noise to the host, whatever the rate; a line that cannot send it sends nothing.
  virtual void SendNoise(size_t /*count*/) {}
};

// Sends a part's reply to one message with the reply faults of the line's
// table applied: Silence and DropReply send nothing, CorruptReply changes
// byte Param of the reply, LateReply sends it Param ms late; NoiseFlood
// (Param bytes) and HangUp follow the reply. index comes from the part's
// MessageCounter.
void SendReply(UnitLine& line, UnitPart part, int match, std::pair<int, int> index, std::vector<uint8_t> reply);

class UnitPartModel {
 public:
  virtual ~UnitPartModel() = default;
  // The rate this part decodes; bytes on the line at another rate are garbage to it.
  virtual int ListenRate() const = 0;
  // One byte heard at the right rate.
  virtual void Hear(uint8_t byte) = 0;
};

// The DSP behind the camera: its memory 0x0080 to 0x5FFF and the version.
class DspModel {
 public:
  static constexpr uint16_t FIRST_ADDRESS = DSP_FIRST_ADDRESS;
  static constexpr uint16_t END_ADDRESS = DSP_END_ADDRESS;
  // A raw block packet (nibbles, checksum nibbles, without the final 0xFF).
  // True when the block was written, false when it is refused (bad checksum,
  // out of range, a fault). blockIndex counts the packets heard from 0.
  bool TakeBlockPacket(const std::vector<uint8_t>& packet, int blockIndex, const FaultTable& faults);
  // Version pair 0 or 1, value as the two 16-bit halves p q r s nibbles.
  void SetVersion(int pair, uint16_t value);
  std::vector<uint8_t> Memory() const;  // 0x6000 - 0x0080 bytes
  uint16_t Version(int pair) const;

 private:
  mutable std::mutex lock_;  // the unit's thread writes, tests read
  std::vector<uint8_t> memory_ = std::vector<uint8_t>(END_ADDRESS - FIRST_ADDRESS, 0xFF);
  uint16_t version_[2] = {0, 0};
};

// A board's serial flash loader (camera board or control board), hearing at 115200.
std::unique_ptr<UnitPartModel> MakeLoaderModel(UnitPart board, UnitLine& line);

// A loader's flash as written so far: the bytes from the load address on.
class LoaderFlashView {
 public:
  virtual ~LoaderFlashView() = default;
  virtual std::vector<uint8_t> Flash() const = 0;
};

}  // namespace sim
