// The benchmark: whole jobs through the job entry point, as the window runs
// them, against lumo-unit-sim pacing the line at its rate in a process of its
// own. For each job it prints the time taken, the floor the line and the
// mandated pauses allow, their ratio, the tool's CPU time per second of job,
// and how soon each reply was taken after its last byte was stored. Then the
// job of all three targets runs in pairs, without and with the wire trace at
// the port seam, and the ratio of their median times says what the trace
// costs.
//
//   lumo-bench LUMO_UNIT_SIM
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchUnit.h"
#include "DownloadJob.h"
#include "JobContext.h"
#include "DspImageLayout.h"
#include "LoaderModel.h"
#include "SampleImages.h"
#include "Timing.h"
#include "TracingPort.h"
#include "WireTrace.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int32_t BOARD_IMAGE = 64 * 1024;
constexpr int32_t DSP_BLOCKS = DSP_BODY_SIZE / 64;

// A front end with nothing to draw: baud requests are served at once and the
// job's end is waited for, as the command line does.
class BenchObserver : public JobObserver {
 public:
  void ShowErrorMessage(const std::string& text) override { std::fprintf(stderr, "  message: %s\n", text.c_str()); }
  void SetStatusText(const std::string&) override {}
};

struct Job {
  const char* Name;
  bool Dsp, Cm, Motor;
  int BaudRequests;      // the job's requests, each after a mandated 100 ms pause
  // Unanswered PINGs of PING_POLLS: before a loader is entered, and the one
  // that proves the camera board's restart when the control board follows.
  int PingTimeOuts;
};

const Job JOBS[] = {
    {"DSP alone", true, false, false, 2, 0},
    {"camera board alone, 64 KiB", false, true, false, 2, 2},
    {"control board alone, 64 KiB", false, false, true, 3, 2},
    {"all three", true, true, true, 4, 3},
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

// One job's figures, for the comparison of traced and untraced jobs.
struct Run {
  double Time;  // s
  double CpuPercent;
  double TakeMedian;  // us
};

constexpr int TRACE_PAIRS = 3;

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
  const bench::Images images = bench::WriteImages(work / "images", BOARD_IMAGE);
  const std::string& dspPath = images.Dsp;
  const std::string& cmPath = images.Cm;
  const std::string& motorPath = images.Motor;

  const auto runJob = [&](const Job& job, const std::string& label, const std::string& tracePath) -> std::optional<Run> {
    const fs::path com = work / "com", dump = work / "unit";
    fs::remove_all(com);
    fs::remove_all(dump);
    fs::create_directories(com);
    fs::create_directories(dump);
    const pid_t unit = bench::StartUnit(sim, com.string(), dump.string());

    // The bench is a front end: the lock folder (and a COM folder) as the environment names them.
    std::unique_ptr<PortFactory> platform = MakePlatformPortFactory(
        {FolderSetting(std::getenv("LUMO_COMPORT_DIR")), FolderSetting(std::getenv("LUMO_LOCK_DIR"))});
    // The trace, when asked for, at the port seam as the window puts it.
    std::unique_ptr<WireTrace> trace;
    std::unique_ptr<TracingPortFactory> tracing;
    if (!tracePath.empty()) {
      trace = std::make_unique<WireTrace>(tracePath);
      if (!trace->IsOpen()) {
        std::printf("%-30s the trace %s cannot be written\n", label.c_str(), tracePath.c_str());
        bench::StopUnit(unit);
        return std::nullopt;
      }
      tracing = std::make_unique<TracingPortFactory>(*platform, *trace);
    }
    PortFactory& ports = tracing ? static_cast<PortFactory&>(*tracing) : *platform;
    JobSession session(ports);
    BenchObserver observer;
    TDownloadJob download(session, &observer);
    std::mutex lock;
    std::vector<double> takes;
    ContextOf(download).Link.On_Reply_Taken = [&](std::chrono::nanoseconds late) {
      std::lock_guard<std::mutex> hold(lock);
      takes.push_back(std::chrono::duration<double, std::micro>(late).count());
    };
    JobRequest request;
    request.Device = (com / "COM1").string();
    request.User_BaudRate = 9600;
    request.Targets[DSP_PATH] = {job.Dsp, dspPath};
    request.Targets[CM_PATH] = {job.Cm, cmPath};
    request.Targets[MOTOR_PATH] = {job.Motor, motorPath};

    const double cpuBefore = bench::CpuSeconds();
    const auto start = Clock::now();
    const JobOutcome outcome = RunDownloadJob(&download, request);
    const double took = Seconds(Clock::now() - start).count();
    const double cpu = bench::CpuSeconds() - cpuBefore;
    const bool traced = !trace || trace->Close();

    bench::StopUnit(unit);
    if (!outcome.Success || !traced) {
      std::printf("%-30s failed: %s\n", label.c_str(), outcome.Success ? "the trace was not written whole" : outcome.Message.c_str());
      return std::nullopt;
    }

    // The floor: the wire at its rates, and what the job must wait besides.
    const WireTotals wire = ReadWire((dump / "wire.csv").string());
    const double baud = job.BaudRequests * Seconds(BAUD_CHANGE_PAUSE).count();
    const double dspPauses = job.Dsp ? DSP_BLOCKS * Seconds(BLOCK_PAUSE).count() : 0;
    // The 2 ms before each camera command's reply reset: the announces of the
    // probe and the 382 blocks, the two version writes, enter-download, the
    // address set, and a loader entry per board that needs one.
    // The control board alone asks the camera for its address set once its
    // PINGs go unanswered.
    const bool motorAlone = job.Motor && !job.Dsp && !job.Cm;
    const int commands = (job.Dsp ? DSP_BLOCKS + 1 + 2 : 0) + ((job.Dsp || job.Cm) ? 2 : 0) + (job.Cm ? 1 : 0) +
                         (job.Motor ? 1 : 0) + (motorAlone ? 1 : 0);
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

    const Run run{took, 100.0 * cpu / took, Percentile(takes, 0.5)};
    std::printf("%-30s %9.3f %9.3f %7.3f %10.2f %12.1f %12.1f\n", label.c_str(), took, floor, took / floor,
                run.CpuPercent, run.TakeMedian, Percentile(takes, 0.9));
    if (tracePath.empty()) {
      std::printf("    floor: wire %.3f s (%zu bytes), baud pauses %.3f, DSP block pauses %.3f, command pauses %.3f,\n"
                  "           loader pauses %.3f, unanswered PINGs %.3f, unit's erase beyond the pause %.3f (%.3f s each)\n",
                  wire.Seconds, wire.Bytes, baud, dspPauses, commandPauses, loaderPauses, pings, erase, eraseEach);
    } else {
      std::error_code ignored;
      std::printf("    trace: %ju bytes of text for %zu bytes on the wire\n",
                  static_cast<uintmax_t>(fs::file_size(tracePath, ignored)), wire.Bytes);
    }
    return run;
  };

  std::printf("%-30s %9s %9s %7s %10s %12s %12s\n", "job", "time s", "floor s", "ratio", "cpu %", "take p50 us",
              "take p90 us");
  int rc = 0;
  for (const Job& job : JOBS) {
    if (!runJob(job, job.Name, "")) rc = 1;
  }

  // The trace's cost: the job of all three, untraced and traced in turns
  // (the order swapped from pair to pair, so that a drift of the machine
  // falls on both), compared by their medians.
  const Job& all = JOBS[3];
  std::vector<Run> untraced, traced;
  std::printf("\nthe wire trace: %s, %d pairs\n", all.Name, TRACE_PAIRS);
  for (int pair = 0; pair < TRACE_PAIRS; ++pair) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool withTrace = (turn == 0) == (pair % 2 == 1);
      const std::string label = std::string(withTrace ? "traced" : "untraced") + " #" + std::to_string(pair + 1);
      const std::optional<Run> run = runJob(all, label, withTrace ? (work / "trace.txt").string() : "");
      if (!run) {
        rc = 1;
        continue;
      }
      (withTrace ? traced : untraced).push_back(*run);
    }
  }
  if (!traced.empty() && !untraced.empty()) {
    const auto median = [](const std::vector<Run>& runs, double Run::*field) {
      std::vector<double> values;
      for (const Run& r : runs) values.push_back(r.*field);
      return Percentile(values, 0.5);
    };
    const double t = median(traced, &Run::Time), u = median(untraced, &Run::Time);
    const double tc = median(traced, &Run::CpuPercent), uc = median(untraced, &Run::CpuPercent);
    const double tt = median(traced, &Run::TakeMedian), ut = median(untraced, &Run::TakeMedian);
    std::printf("    median time: traced %.3f s, untraced %.3f s, ratio %.4f\n", t, u, t / u);
    std::printf("    median cpu %%: traced %.2f, untraced %.2f; median take p50: traced %.1f us, untraced %.1f us, ratio %.3f\n",
                tc, uc, tt, ut, ut > 0 ? tt / ut : 0.0);
  }
  fs::remove_all(work);
  return rc;
}
