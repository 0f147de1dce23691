// The camera's command interface: VISCA framing, acknowledge and completion,
// download mode at 115200, the DSP block packets, the version writes, the
// broadcast address set and the two loader entry commands.
#pragma once

#include <cstdint>
#include <vector>

#include "SimFaults.h"
#include "SimParts.h"

namespace sim {

constexpr int DOWNLOAD_MODE_RATE = 115200;

class CameraModel final : public UnitPartModel {
 public:
  CameraModel(UnitLine& line, int ownRate) : line_(line), ownRate_(ownRate) {}

  int ListenRate() const override { return downloadMode_ ? DOWNLOAD_MODE_RATE : ownRate_; }
  void Hear(uint8_t byte) override;
  // The line comes back from a loader: a half-heard frame is forgotten.
  void Resume();

  bool InDownloadMode() const { return downloadMode_; }
  DspModel& Dsp() { return dsp_; }
  const DspModel& Dsp() const { return dsp_; }

 private:
  void Command(const std::vector<uint8_t>& frame);
  void BlockPacket(const std::vector<uint8_t>& packet);
  void AckAndCompletion(int match, std::pair<int, int> index);

  UnitLine& line_;
  int ownRate_;
  bool downloadMode_ = false;
  bool awaitingBlock_ = false;
  bool inFrame_ = false;
  std::vector<uint8_t> frame_;
  int blockIndex_ = 0;
  MessageCounter counter_;
  DspModel dsp_;
};

}  // namespace sim
