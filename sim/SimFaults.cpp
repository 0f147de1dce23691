#include "SimFaults.h"

namespace sim {

void FaultTable::Add(const Fault& fault) {
  std::lock_guard<std::mutex> hold(lock_);
  faults_.push_back(fault);
}

std::optional<Fault> FaultTable::Hit(FaultKind kind, UnitPart part, int match, int index) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (const Fault& f : faults_) {
    if (f.Kind != kind || f.Part != part) continue;
    if (f.Match != -1 && f.Match != match) continue;
    if (index < f.Occurrence) continue;
    if (f.Times != -1 && index >= f.Occurrence + f.Times) continue;
    return f;
  }
  return std::nullopt;
}

std::optional<Fault> FaultTable::HitMessage(FaultKind kind, UnitPart part, int match,
                                            std::pair<int, int> index) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (const Fault& f : faults_) {
    if (f.Kind != kind || f.Part != part) continue;
    if (f.Match != -1 && f.Match != match) continue;
    const int i = f.Match == -1 ? index.second : index.first;
    if (i < f.Occurrence) continue;
    if (f.Times != -1 && i >= f.Occurrence + f.Times) continue;
    return f;
  }
  return std::nullopt;
}

}  // namespace sim
