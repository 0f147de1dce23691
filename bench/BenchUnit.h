// What the benchmarks share: the simulated unit in a process of its own,
// pacing the line at its rates, the sample images, the process's CPU time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

// Starts lumo-unit-sim pacing the line, as COM1 in comDir, dumping its
// memories and wire record into dumpDir at exit; returns once COM1 is there
// (or after 5 s).
pid_t StartUnit(const std::string& sim, const std::string& comDir, const std::string& dumpDir);
// Ends the unit; it writes its dump on the way out.
void StopUnit(pid_t unit);

// The sample DSP image and two board images of boardSize bytes.
struct Images {
  std::string Dsp, Cm, Motor;
};
Images WriteImages(const std::filesystem::path& folder, int32_t boardSize);

// The CPU time of this process so far, user and system, in seconds.
double CpuSeconds();

}  // namespace bench
