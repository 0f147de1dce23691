#include "SampleImages.h"

#include <fstream>

namespace sim {
namespace {

// A small generator, so images look like data rather than a counter.
uint8_t NextByte(uint32_t& state) {
  state = state * 1103515245u + 12345u;
  return static_cast<uint8_t>(state >> 16);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

std::vector<uint8_t> MakeSampleDspImage(uint32_t version, uint32_t seed) {
  std::vector<uint8_t> image(DSP_SAMPLE_SIZE);
  uint32_t state = seed;
  for (uint8_t& b : image) b = NextByte(state);
  // Signature: eleven bytes of 61 and one of 60 sum to 731.
  for (int i = 0; i < 11; ++i) image[i] = 61;
  image[11] = 60;
  for (int i = 0; i < 4; ++i) image[DSP_VERSION_OFFSET + i] = static_cast<uint8_t>(version >> (8 * i));
  return image;
}

std::vector<uint8_t> MakeSampleBoardImage(int32_t size, uint32_t seed) {
  std::vector<uint8_t> image(size > 0 ? static_cast<size_t>(size) : 0);
  uint32_t state = seed;
  for (uint8_t& b : image) b = NextByte(state);
  return image;
}

bool WriteSampleImages(const std::string& folder) {
  return WriteFile(folder + "/dsp.bin", MakeSampleDspImage()) &&
         WriteFile(folder + "/camera-board.bin", MakeSampleBoardImage(3000, 2)) &&
         WriteFile(folder + "/control-board.bin", MakeSampleBoardImage(2000, 3));
}

}  // namespace sim
