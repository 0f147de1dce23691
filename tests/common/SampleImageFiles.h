// Test support: the simulated unit's sample images written into a folder of
// their own, for a tool that takes image paths, and what a unit's memories
// hold once they have been loaded.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "SampleImages.h"
#include "TempFolder.h"

namespace lumo_test {

struct SampleImageFiles {
  using Bytes = std::vector<uint8_t>;

  SampleImageFiles() {
    chmod(folder.c_str(), 0755);  // readable to a tool run as another user
    dspPath = Write("dsp.bin", dsp);
    cmPath = Write("cm.bin", cm);
    motorPath = Write("motor.bin", motor);
  }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = folder + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  TempFolder scratch;
  std::string folder = scratch.Path();
  Bytes dsp = sim::MakeSampleDspImage(0x01020304, 7);
  Bytes cm = sim::MakeSampleBoardImage(76 * 12 + 5, 8);
  Bytes motor = sim::MakeSampleBoardImage(76 * 7 + 30, 9);
  std::string dspPath, cmPath, motorPath;
};

// What the DSP's memory holds once image is loaded: its body.
inline std::vector<uint8_t> DspBody(const std::vector<uint8_t>& image) {
  return std::vector<uint8_t>(image.begin() + sim::DSP_HEADER_SIZE,
                              image.begin() + sim::DSP_HEADER_SIZE + sim::DSP_BODY_SIZE);
}

// A memory nothing was written into.
inline bool Erased(const std::vector<uint8_t>& memory) {
  return std::all_of(memory.begin(), memory.end(), [](uint8_t b) { return b == 0xFF; });
}

}  // namespace lumo_test
