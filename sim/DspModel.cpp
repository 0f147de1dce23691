// Placeholder until the DSP side of the unit is modelled.
#include "SimParts.h"

namespace sim {

bool DspModel::TakeBlockPacket(const std::vector<uint8_t>&, int, const FaultTable&) { return false; }
void DspModel::SetVersion(int pair, uint16_t value) { version_[pair & 1] = value; }
std::vector<uint8_t> DspModel::Memory() const { return memory_; }
uint16_t DspModel::Version(int pair) const { return version_[pair & 1]; }

}  // namespace sim
