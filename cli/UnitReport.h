// What one unit's job tells lumo-download's console, and what the tool adds
// after a job whose messages say the unit itself must be reset. Apart from
// main so that a test can watch a job through them without a process.
#pragma once

#include <string>
#include <vector>

#include "Console.h"
#include "DownloadJob.h"

// The job's observer for one unit: each message, target and step goes to
// the console as that unit's.
class ConsoleJobObserver : public JobObserver {
 public:
  ConsoleJobObserver(UnitState& state, Console& console) : state_(state), console_(console) {}

  UnitState& State() { return state_; }

  void ShowErrorMessage(const std::string& text) override { console_.Message(state_, text); }
  void SetStatusText(const std::string& text) override { console_.Status(state_, text); }
  void TargetStarted(PathIndex target, int32_t bytes, int32_t jobBytes) override {
    total_ = jobBytes;
    console_.TargetStarted(state_, target, bytes, total_);
  }
  void ProgressMade(PathIndex target, int32_t percent, int32_t bytesDone) override {
    console_.Progress(state_, target, percent, bytesDone);
  }
  void TargetEnded(PathIndex target, bool done) override { console_.TargetEnded(state_, target, done); }

  int32_t Total() const { return total_; }

 private:
  UnitState& state_;
  Console& console_;
  int32_t total_ = 0;  // from the worker, read by the unit's thread after the job
};

// What to do after a job whose messages say the unit itself must be reset;
// empty for any other job.
std::vector<std::string> JobHints(const JobOutcome& outcome);
