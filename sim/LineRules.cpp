#include "LineRules.h"

#include "CameraModel.h"

namespace sim {

UnitParts::UnitParts(UnitLine& line, int cameraRate, std::optional<UnitPart> listeningAtStart)
    : camera_(std::make_unique<CameraModel>(line, cameraRate > 0 ? cameraRate : 9600)),
      cameraBoardLoader_(MakeLoaderModel(UnitPart::CameraBoardLoader, line)),
      controlBoardLoader_(MakeLoaderModel(UnitPart::ControlBoardLoader, line)),
      listening_(static_cast<int>(listeningAtStart.value_or(UnitPart::Camera))) {}

UnitParts::~UnitParts() = default;

UnitPartModel& UnitParts::Part(UnitPart part) const {
  switch (part) {
    case UnitPart::CameraBoardLoader: return *cameraBoardLoader_;
    case UnitPart::ControlBoardLoader: return *controlBoardLoader_;
    default: return *camera_;
  }
}

void UnitParts::Hear(uint8_t byte, int rate, bool busy) {
  if (busy) return;  // busy parts hear nothing
  const UnitPart before = Listening();
  UnitPartModel& part = Part(before);
  // A byte at another rate is a framing error to the part: it never hears it.
  if (rate != part.ListenRate()) return;
  part.Hear(byte);
  if (Listening() != before && Listening() == UnitPart::Camera) camera_->Resume();
}

void SendReply(UnitLine& line, UnitPart part, int match, std::pair<int, int> index, std::vector<uint8_t> reply) {
  const FaultTable& faults = line.Faults();
  const bool dropped = faults.HitMessage(FaultKind::Silence, part, match, index).has_value() ||
                       faults.HitMessage(FaultKind::DropReply, part, match, index).has_value();
  if (!dropped && !reply.empty()) {
    if (auto f = faults.HitMessage(FaultKind::CorruptReply, part, match, index)) {
      reply[static_cast<size_t>(f->Param) % reply.size()] ^= 0x5A;
    }
    if (auto f = faults.HitMessage(FaultKind::LateReply, part, match, index)) {
      line.SendAfter(std::chrono::milliseconds(f->Param), reply);
    } else {
      line.Send(reply);
    }
  }
  if (auto f = faults.HitMessage(FaultKind::NoiseFlood, part, match, index)) line.SendNoise(static_cast<size_t>(f->Param));
  if (faults.HitMessage(FaultKind::HangUp, part, match, index)) line.HangUp();
}

std::vector<uint8_t> UnitParts::Flash(UnitPart board) const {
  const auto* view = dynamic_cast<const LoaderFlashView*>(&Part(board));
  return view ? view->Flash() : std::vector<uint8_t>{};
}

}  // namespace sim
