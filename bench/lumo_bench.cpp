// The benchmark: whole jobs through the job entry point, as the window runs
// them, against lumo-unit-sim pacing the line at its rate in a process of its
// own. For each job it prints the time taken, the floor the line and the
// mandated pauses allow, their ratio, the tool's CPU time per second of job,
// and how soon each reply was taken after its last byte was stored.
//
//   lumo-bench LUMO_UNIT_SIM
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DownloadJob.h"
#include "DspImageLayout.h"
#include "LoaderModel.h"
#include "SampleImages.h"
#include "Timing.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int32_t BOARD_IMAGE = 64 * 1024;
constexpr int32_t DSP_BLOCKS = DSP_BODY_SIZE / 64;

// A front end that pumps like the window thread: nothing to draw, so one pump
// step does nothing; it keeps the reply latencies the link reports.
class BenchObserver : public JobObserver {
 public:
  void ShowErrorMessage(const std::string& text) override { std::fprintf(stderr, "  message: %s\n", text.c_str()); }
  void SetStatusText(const std::string&) override {}
};

struct Job {
  const char* Name;
  bool Dsp, Cm, Motor;
  int BaudRequests;      // the job's requests, each after a mandated 100 ms pause
  int PingTimeOuts;      // unanswered PINGs of PING_POLLS before a loader is entered
};

const Job JOBS[] = {
    {"DSP alone", true, false, false, 2, 0},
    {"camera board alone, 64 KiB", false, true, false, 2, 2},
    {"control board alone, 64 KiB", false, false, true, 3, 2},
    {"all three", true, true, true, 4, 2},
};

struct WireTotals {
  double Seconds = 0;
  size_t Bytes = 0;
  size_t CameraCommands = 0;  // commands that start 0x81 or 0x88 at a camera rate
};

// Every byte at its line rate, ten bits each, both directions.
WireTotals ReadWire(const std::string& csv) {
  WireTotals totals;
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string time, direction, byte, rate;
    std::getline(fields, time, ',');
    std::getline(fields, direction, ',');
    std::getline(fields, byte, ',');
    std::getline(fields, rate, ',');
    const double r = std::stod(rate);
    if (r > 0) totals.Seconds += 10.0 / r;
    ++totals.Bytes;
  }
  return totals;
}

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
  return pid;
}

double CpuSeconds() {
  struct rusage use {};
  getrusage(RUSAGE_SELF, &use);
  return use.ru_utime.tv_sec + use.ru_utime.tv_usec / 1e6 + use.ru_stime.tv_sec + use.ru_stime.tv_usec / 1e6;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * (values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumo-bench LUMO_UNIT_SIM\n");
    return 2;
  }
  const std::string sim = argv[1];
  const fs::path work = fs::temp_directory_path() / ("lumo-bench-" + std::to_string(getpid()));
  fs::create_directories(work / "images");
  const auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(work / "images" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return (work / "images" / name).string();
  };
  const std::string dspPath = write("dsp.bin", sim::MakeSampleDspImage());
  const std::string cmPath = write("cm.bin", sim::MakeSampleBoardImage(BOARD_IMAGE, 2));
  const std::string motorPath = write("motor.bin", sim::MakeSampleBoardImage(BOARD_IMAGE, 3));

  std::printf("%-30s %9s %9s %7s %10s %12s %12s\n", "job", "time s", "floor s", "ratio", "cpu %", "take p50 us",
              "take p90 us");
  int rc = 0;
  for (const Job& job : JOBS) {
    const fs::path com = work / "com", dump = work / "unit";
    fs::remove_all(com);
    fs::remove_all(dump);
    fs::create_directories(com);
    fs::create_directories(dump);
    const pid_t unit = StartUnit(sim, com.string(), dump.string());
    for (int i = 0; i < 500 && !fs::exists(com / "COM1"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));

    std::unique_ptr<PortFactory> ports = MakePlatformPortFactory();
    JobSession session(*ports);
    BenchObserver observer;
    TDownloadJob download(session, &observer);
    std::mutex lock;
    std::vector<double> takes;
    download.Link.On_Reply_Taken = [&](std::chrono::nanoseconds late) {
      std::lock_guard<std::mutex> hold(lock);
      takes.push_back(std::chrono::duration<double, std::micro>(late).count());
    };
    JobRequest request;
    request.Device = (com / "COM1").string();
    request.User_BaudRate = 9600;
    request.Targets[DSP_PATH] = {job.Dsp, dspPath};
    request.Targets[CM_PATH] = {job.Cm, cmPath};
    request.Targets[MOTOR_PATH] = {job.Motor, motorPath};

    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    const JobOutcome outcome = RunDownloadJob(&download, request);
    const double took = Seconds(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;

    kill(unit, SIGTERM);
    waitpid(unit, nullptr, 0);
    if (!outcome.Success) {
      std::printf("%-30s failed: %s\n", job.Name, outcome.Message.c_str());
      rc = 1;
      continue;
    }

    // The floor: the wire at its rates, and what the job must wait besides.
    const WireTotals wire = ReadWire((dump / "wire.csv").string());
    const double baud = job.BaudRequests * Seconds(BAUD_CHANGE_PAUSE).count();
    const double dspPauses = job.Dsp ? DSP_BLOCKS * Seconds(BLOCK_PAUSE).count() : 0;
    // The 2 ms before each camera command's reply reset: the announces of the
    // probe and the 382 blocks, the two version writes, enter-download, the
    // address set, and a loader entry per board that needs one.
    const int commands = (job.Dsp ? DSP_BLOCKS + 1 + 2 : 0) + ((job.Dsp || job.Cm) ? 2 : 0) + (job.Cm ? 1 : 0) +
                         (job.Motor ? 1 : 0);
    const double commandPauses = commands * Seconds(COMMAND_PAUSE).count();
    const int boards = (job.Cm ? 1 : 0) + (job.Motor ? 1 : 0);
    const double loaderPauses = boards * Seconds(LOADER_START_PAUSE + ERASE_PAUSE).count();
    const double pings = job.PingTimeOuts * PING_POLLS * Seconds(POLL_PERIOD).count();
    const int pages = (BOARD_IMAGE + static_cast<int>(sim::LOADER_PAGE_SIZE) - 1) / static_cast<int>(sim::LOADER_PAGE_SIZE);
    // The unit erases while the tool makes its pause after DOWNLOAD: only
    // what outlasts that pause adds to the floor.
    const double eraseEach = pages * Seconds(sim::LOADER_PAGE_ERASE_TIME).count();
    const double erase = boards * std::max(0.0, eraseEach - Seconds(ERASE_PAUSE).count());
    const double floor = wire.Seconds + baud + dspPauses + commandPauses + loaderPauses + pings + erase;

    std::printf("%-30s %9.3f %9.3f %7.3f %10.2f %12.1f %12.1f\n", job.Name, took, floor, took / floor,
                100.0 * cpu / took, Percentile(takes, 0.5), Percentile(takes, 0.9));
    std::printf("    floor: wire %.3f s (%zu bytes), baud pauses %.3f, DSP block pauses %.3f, command pauses %.3f,\n"
                "           loader pauses %.3f, unanswered PINGs %.3f, unit's erase beyond the pause %.3f (%.3f s each)\n",
                wire.Seconds, wire.Bytes, baud, dspPauses, commandPauses, loaderPauses, pings, erase, eraseEach);
  }
  fs::remove_all(work);
  return rc;
}
