#include "BenchUnit.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "SampleImages.h"

namespace bench {

namespace fs = std::filesystem;

pid_t StartUnit(const std::string& sim, const std::string& comDir, const std::string& dumpDir) {
  std::fflush(stdout);  // else the child would write our pending lines again
  const pid_t pid = fork();
  if (pid == 0) {
    // The unit's own report of its terminal is not part of the figures.
    if (FILE* quiet = std::freopen("/dev/null", "w", stdout)) static_cast<void>(quiet);
    execl(sim.c_str(), sim.c_str(), "--pace", "--com-dir", comDir.c_str(), "--com-number", "1", "--dump",
          dumpDir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const fs::path com = fs::path(comDir) / "COM1";
  for (int i = 0; i < 500 && !fs::exists(com); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return pid;
}

void StopUnit(pid_t unit) {
  kill(unit, SIGTERM);
  waitpid(unit, nullptr, 0);
}

Images WriteImages(const fs::path& folder, int32_t boardSize) {
  fs::create_directories(folder);
  const auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return (folder / name).string();
  };
  return {write("dsp.bin", sim::MakeSampleDspImage()), write("cm.bin", sim::MakeSampleBoardImage(boardSize, 2)),
          write("motor.bin", sim::MakeSampleBoardImage(boardSize, 3))};
}

double CpuSeconds() {
  struct rusage use {};
  getrusage(RUSAGE_SELF, &use);
  return use.ru_utime.tv_sec + use.ru_utime.tv_usec / 1e6 + use.ru_stime.tv_sec + use.ru_stime.tv_usec / 1e6;
}

}  // namespace bench
