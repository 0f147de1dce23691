// Images to try the tool with: a DSP image the tool accepts and board images
// of any size. Deterministic, so a run can be checked against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DspLayout.h"

namespace sim {

// A DSP image: the 12-byte signature that sums to 731, a patterned body and
// the version field F0 F1 F2 F3 at its place.
std::vector<uint8_t> MakeSampleDspImage(uint32_t version = 0x56781234, uint32_t seed = 1);
// A board image of size bytes, a pattern that differs from byte to byte.
std::vector<uint8_t> MakeSampleBoardImage(int32_t size, uint32_t seed = 2);

// Writes dsp.bin, camera-board.bin and control-board.bin into folder; false
// when a file cannot be written.
bool WriteSampleImages(const std::string& folder);

}  // namespace sim
