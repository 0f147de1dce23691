#include "CameraModel.h"

namespace sim {

namespace {

constexpr size_t MAX_FRAME = 16;
constexpr size_t MAX_BLOCK_PACKET = 160;

bool IsHeader(uint8_t b) { return (b & 0xF0) == 0x80; }

bool Is(const std::vector<uint8_t>& frame, std::initializer_list<uint8_t> bytes) {
  if (frame.size() != bytes.size()) return false;
  size_t i = 0;
  for (uint8_t b : bytes) {
    if (frame[i++] != b) return false;
  }
  return true;
}

// The match class of a command for the fault table: the vendor code after
// 0x01 0x04, else the first payload byte.
int MatchOf(const std::vector<uint8_t>& frame) {
  if (frame.size() >= 5 && frame[1] == 0x01 && frame[2] == 0x04) return frame[3];
  return frame.size() >= 3 ? frame[1] : -1;
}

void CorruptIfHit(const FaultTable& faults, int match, std::pair<int, int> index, std::vector<uint8_t>& message) {
  if (message.empty()) return;
  if (auto f = faults.HitMessage(FaultKind::CorruptIncoming, UnitPart::Camera, match, index)) {
    message[static_cast<size_t>(f->Param) % message.size()] ^= 0x5A;
  }
}

}  // namespace

void CameraModel::Resume() {
  inFrame_ = false;
  awaitingBlock_ = false;
  frame_.clear();
}

void CameraModel::Hear(uint8_t byte) {
  if (awaitingBlock_) {
    if (byte == 0xFF) {
      std::vector<uint8_t> packet;
      packet.swap(frame_);
      awaitingBlock_ = false;
      BlockPacket(packet);
      return;
    }
    if (!IsHeader(byte)) {
      if (frame_.size() < MAX_BLOCK_PACKET) frame_.push_back(byte);
      return;
    }
    // A command instead of the block: the announce is forgotten.
    awaitingBlock_ = false;
  }
  if (IsHeader(byte)) {
    frame_.assign(1, byte);
    inFrame_ = true;
    return;
  }
  if (!inFrame_) return;  // bytes outside a frame mean nothing to the camera
  frame_.push_back(byte);
  if (byte == 0xFF) {
    std::vector<uint8_t> frame;
    frame.swap(frame_);
    inFrame_ = false;
    Command(frame);
  } else if (frame_.size() >= MAX_FRAME) {
    frame_.clear();
    inFrame_ = false;
  }
}

void CameraModel::AckAndCompletion(int match, std::pair<int, int> index) {
  SendReply(line_, UnitPart::Camera, match, index, {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF});
}

void CameraModel::Command(const std::vector<uint8_t>& heard) {
  std::vector<uint8_t> frame = heard;
  const FaultTable& faults = line_.Faults();
  const int match = MatchOf(frame);
  const auto index = counter_.Next(match);
  CorruptIfHit(faults, match, index, frame);
  if (faults.HitMessage(FaultKind::Silence, UnitPart::Camera, match, index)) return;

  if (Is(frame, {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF})) {
    // Answered at the own rate; only then does the camera listen at 115200.
    AckAndCompletion(match, index);
    downloadMode_ = true;
    return;
  }
  if (downloadMode_ && Is(frame, {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF})) {
    AckAndCompletion(match, index);
    awaitingBlock_ = true;
    frame_.clear();
    return;
  }
  if (frame.size() == 11 && frame[0] == 0x81 && frame[1] == 0x01 && frame[2] == 0x04 && frame[3] == 0xAA &&
      frame[4] == 0xEE && frame[5] <= 0x01 && frame[10] == 0xFF) {
    uint16_t value = 0;
    for (int i = 6; i < 10; ++i) {
      if (frame[i] > 0x0F) return;  // not a nibble: not a version write
      value = static_cast<uint16_t>(value << 4 | frame[i]);
    }
    if (faults.HitMessage(FaultKind::IgnoreVersionWrite, UnitPart::Camera, match, index)) return;
    dsp_.SetVersion(frame[5], value);
    AckAndCompletion(match, index);
    return;
  }
  if (downloadMode_ && Is(frame, {0x81, 0x01, 0x04, 0xAA, 0xAA, 0xFF})) {
    line_.Route(UnitPart::CameraBoardLoader);
    return;
  }
  if ((!downloadMode_ || ownRate_ == DOWNLOAD_MODE_RATE) && Is(frame, {0x81, 0xAA, 0xBB, 0x00, 0xFF})) {
    line_.Route(UnitPart::ControlBoardLoader);
    return;
  }
  if (Is(frame, {0x88, 0x30, 0x01, 0xFF})) {
    // The reply goes out at the rate the camera hears now; then it is back at its own rate.
    SendReply(line_, UnitPart::Camera, match, index, {0x88, 0x30, 0x02, 0xFF});
    downloadMode_ = false;
    return;
  }
  // Anything else gets no answer: the unit produces only replies the tool knows.
}

void CameraModel::BlockPacket(const std::vector<uint8_t>& heard) {
  std::vector<uint8_t> packet = heard;
  const FaultTable& faults = line_.Faults();
  const auto index = counter_.Next(MATCH_DSP_BLOCK);
  CorruptIfHit(faults, MATCH_DSP_BLOCK, index, packet);
  if (faults.HitMessage(FaultKind::Silence, UnitPart::Camera, MATCH_DSP_BLOCK, index)) return;
  const bool written = dsp_.TakeBlockPacket(packet, blockIndex_++, faults);
  SendReply(line_, UnitPart::Camera, MATCH_DSP_BLOCK, index, {0x90, 0x51, static_cast<uint8_t>(written ? 0x01 : 0x00), 0xFF});
}

}  // namespace sim
