// What the command line knows of one unit's job, for its progress line, its
// JSON events and the summary. Guarded by the console's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DownloadJob.h"

enum class TargetState { NotSelected, Waiting, Running, Done, Failed, Stopped };

struct UnitState {
  using Clock = std::chrono::steady_clock;

  std::string Port;    // as the user knows it: COM34, or the device path
  std::string Device;  // the device path the job opens
  TargetState Targets[3] = {TargetState::NotSelected, TargetState::NotSelected, TargetState::NotSelected};
  int32_t TargetBytes[3] = {0, 0, 0};
  int32_t BytesDone[3] = {0, 0, 0};
  int32_t Percent = 0;  // as the window's status box shows it
  int32_t Total = 0;    // the job's total, once the worker has read the images
  std::optional<PathIndex> Current;  // the target being written
  std::optional<PathIndex> Last;     // the target written last: the job's messages name it
  Clock::time_point Started{};
  Clock::time_point Ended{};
  bool Finished = false;
  std::optional<JobOutcome> Outcome;
  int ExitCode = 0;
  std::vector<std::string> Notes;  // the cause and hint of a port that did not open
  Clock::time_point LastJsonProgress{};

  int32_t Done() const { return BytesDone[0] + BytesDone[1] + BytesDone[2]; }
  double Seconds() const {
    const Clock::time_point end = Finished ? Ended : Clock::now();
    return std::chrono::duration<double>(end - Started).count();
  }
};

// The target's name as the window's check boxes give it.
const char* TargetName(PathIndex target);
// The name JSON and file names use: dsp, cm, motor.
const char* TargetKey(PathIndex target);
