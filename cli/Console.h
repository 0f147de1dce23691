// lumo-download's output: redrawn progress lines on a terminal, plain lines
// elsewhere, or one JSON object per line. Every unit's state changes and
// every line written go through here, under one lock, so lines from units
// running at once never mix.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UnitState.h"

class Console {
 public:
  enum class Mode { Terminal, Plain, Json };

  Console(Mode mode, std::FILE* out);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The units, in --port order; their lines are drawn in that order.
  void Begin(std::vector<UnitState>& units);

  void JobStarted(UnitState& unit, int32_t rate);
  void TargetStarted(UnitState& unit, PathIndex target, int32_t bytes, int32_t total);
  void Progress(UnitState& unit, PathIndex target, int32_t percent, int32_t bytesDone);
  void Status(UnitState& unit, const std::string& text);
  void TargetEnded(UnitState& unit, PathIndex target, bool done);
  void Message(UnitState& unit, const std::string& text);
  // traceError: what became of a wire trace that did not reach its file;
  // empty when there was none or it was written.
  void JobEnded(UnitState& unit, const JobOutcome& outcome, int exitCode, const std::vector<std::string>& notes,
                int32_t total, const std::string& traceError = {});
  // A line of the tool's own, not of a unit (the interrupt notice).
  void Note(const std::string& text);
  // Stops redrawing; with several units, the summary table.
  void Finish();
  // A write to the output failed (a reader that went away, a full disk):
  // from then on nothing more is written, and the jobs go on. Empty while
  // every write worked; else why the first one failed.
  std::string OutputError();

 private:
  void Print(const std::string& line);  // under lock_
  void Redraw();                        // under lock_
  void Clear();                         // under lock_
  void Flush();                         // under lock_; notes a failed write
  std::string ProgressLine(const UnitState& unit) const;
  std::string Label(const UnitState& unit) const;
  std::string Summary() const;

  const Mode mode_;
  std::FILE* const out_;
  std::mutex lock_;
  std::vector<UnitState>* units_ = nullptr;
  int drawn_ = 0;  // progress lines on the screen below the last printed line
  bool finished_ = false;
  std::string outputError_;  // the first failed write's cause; nothing is written after it
  std::condition_variable tick_;
  std::thread redrawer_;
};
