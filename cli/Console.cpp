#include "Console.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

using Json = nlohmann::json;
using Clock = UnitState::Clock;

constexpr auto REDRAW_PERIOD = std::chrono::milliseconds(200);
constexpr auto JSON_PROGRESS_PERIOD = std::chrono::milliseconds(250);
constexpr int BAR_WIDTH = 24;

std::string Clock_(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

const char* StateWord(TargetState state) {
  switch (state) {
    case TargetState::NotSelected: return "-";
    case TargetState::Waiting: return "not run";
    case TargetState::Running: return "stopped";  // a job that ended while it ran
    case TargetState::Done: return "done";
    case TargetState::Failed: return "failed";
    case TargetState::Stopped: return "stopped";
  }
  return "?";
}

const char* EndKey(JobEnd end) {
  switch (end) {
    case JobEnd::Done: return "done";
    case JobEnd::PortNotOpened: return "port_not_opened";
    case JobEnd::Refused: return "refused";
    case JobEnd::LineFailure: return "line_failure";
    case JobEnd::Stopped: return "stopped";
  }
  return "unknown";
}

const char* EndWords(JobEnd end) {
  switch (end) {
    case JobEnd::Done: return "done";
    case JobEnd::PortNotOpened: return "port not opened";
    case JobEnd::Refused: return "refused";
    case JobEnd::LineFailure: return "failed on the line";
    case JobEnd::Stopped: return "stopped";
  }
  return "unknown";
}

}  // namespace

const char* TargetName(PathIndex target) {
  switch (target) {
    case DSP_PATH: return "DSP";
    case CM_PATH: return "CM";
    case MOTOR_PATH: return "Motor";
  }
  return "?";
}

const char* TargetKey(PathIndex target) {
  switch (target) {
    case DSP_PATH: return "dsp";
    case CM_PATH: return "cm";
    case MOTOR_PATH: return "motor";
  }
  return "?";
}

Console::Console(Mode mode, std::FILE* out) : mode_(mode), out_(out) {}

Console::~Console() { Finish(); }

void Console::Begin(std::vector<UnitState>& units) {
  std::lock_guard<std::mutex> hold(lock_);
  units_ = &units;
  if (mode_ != Mode::Terminal) return;
  Redraw();
  // The elapsed time and the estimate move even while no block is written.
  redrawer_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(lock_);
    while (!finished_) {
      tick_.wait_for(lock, REDRAW_PERIOD);
      if (!finished_) Redraw();
    }
  });
}

std::string Console::Label(const UnitState& unit) const {
  return unit.Port == unit.Device || unit.Device.empty() ? unit.Port : unit.Port + " (" + unit.Device + ")";
}

void Console::JobStarted(UnitState& unit, int32_t rate) {
  std::lock_guard<std::mutex> hold(lock_);
  unit.Started = Clock::now();
  if (mode_ == Mode::Json) {
    Json targets = Json::array();
    for (PathIndex t : {DSP_PATH, CM_PATH, MOTOR_PATH}) {
      if (unit.Targets[t] != TargetState::NotSelected) targets.push_back(TargetKey(t));
    }
    Print(Json{{"event", "job_start"}, {"port", unit.Port}, {"device", unit.Device}, {"baud", rate},
               {"targets", targets}}
              .dump(-1, ' ', false, Json::error_handler_t::replace));
  }
}

void Console::TargetStarted(UnitState& unit, PathIndex target, int32_t bytes, int32_t total) {
  std::lock_guard<std::mutex> hold(lock_);
  if (total > 0) unit.Total = total;
  unit.Current = target;
  unit.Last = target;
  unit.Targets[target] = TargetState::Running;
  unit.TargetBytes[target] = bytes;
  switch (mode_) {
    case Mode::Json:
      Print(Json{{"event", "target_start"}, {"port", unit.Port}, {"target", TargetKey(target)}, {"bytes", bytes},
                 {"seconds", unit.Seconds()}}
                .dump(-1, ' ', false, Json::error_handler_t::replace));
      break;
    case Mode::Plain:
      Print(Label(unit) + ": " + TargetName(target) + " started, " + std::to_string(bytes) + " bytes");
      break;
    case Mode::Terminal:
      Redraw();
      break;
  }
}

void Console::Progress(UnitState& unit, PathIndex target, int32_t percent, int32_t bytesDone) {
  std::lock_guard<std::mutex> hold(lock_);
  unit.Percent = percent;
  unit.BytesDone[target] = bytesDone;
  if (mode_ == Mode::Terminal) {
    Redraw();
  } else if (mode_ == Mode::Json) {
    const Clock::time_point now = Clock::now();
    if (now - unit.LastJsonProgress < JSON_PROGRESS_PERIOD) return;
    unit.LastJsonProgress = now;
    Print(Json{{"event", "progress"}, {"port", unit.Port}, {"target", TargetKey(target)}, {"percent", percent},
               {"target_bytes_done", bytesDone}, {"bytes_done", unit.Done()}, {"bytes_total", unit.Total},
               {"seconds", unit.Seconds()}}
              .dump(-1, ' ', false, Json::error_handler_t::replace));
  }
}

void Console::Status(UnitState& unit, const std::string& text) {
  // The window's status box; its percentages come through Progress too, and
  // only its final "100 %" matters here.
  if (text != "100 %") return;
  std::lock_guard<std::mutex> hold(lock_);
  unit.Percent = 100;
}

void Console::TargetEnded(UnitState& unit, PathIndex target, bool done) {
  std::lock_guard<std::mutex> hold(lock_);
  unit.Targets[target] = done ? TargetState::Done : TargetState::Failed;
  unit.Current.reset();
  switch (mode_) {
    case Mode::Json:
      Print(Json{{"event", "target_end"}, {"port", unit.Port}, {"target", TargetKey(target)},
                 {"result", done ? "done" : "failed"}, {"bytes_done", unit.BytesDone[target]},
                 {"seconds", unit.Seconds()}}
                .dump(-1, ' ', false, Json::error_handler_t::replace));
      break;
    case Mode::Plain:
      Print(Label(unit) + ": " + TargetName(target) + (done ? " done" : " failed"));
      break;
    case Mode::Terminal:
      Redraw();
      break;
  }
}

void Console::Message(UnitState& unit, const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (mode_ == Mode::Json) {
    Json event{{"event", "message"}, {"port", unit.Port}, {"text", text}, {"seconds", unit.Seconds()}};
    if (unit.Last) event["target"] = TargetKey(*unit.Last);
    Print(event.dump(-1, ' ', false, Json::error_handler_t::replace));
    return;
  }
  const std::string where = unit.Last ? std::string(" ") + TargetName(*unit.Last) : std::string();
  Print(Label(unit) + where + ": " + text);
}

void Console::JobEnded(UnitState& unit, const JobOutcome& outcome, int exitCode,
                       const std::vector<std::string>& notes, int32_t total, const std::string& traceError) {
  std::lock_guard<std::mutex> hold(lock_);
  unit.Ended = Clock::now();
  unit.Finished = true;
  unit.Outcome = outcome;
  unit.ExitCode = exitCode;
  unit.Notes = notes;
  if (total > 0) unit.Total = total;
  std::optional<PathIndex> cut;  // the target a stop cut short
  for (PathIndex t : {DSP_PATH, CM_PATH, MOTOR_PATH}) {
    if (unit.Targets[t] == TargetState::Running) {
      unit.Targets[t] = TargetState::Stopped;
      cut = t;
    }
    if (outcome.End == JobEnd::Stopped && unit.Targets[t] == TargetState::Failed && !cut) cut = t;
  }
  if (mode_ == Mode::Json) {
    Json event{{"event", "job_end"},          {"port", unit.Port},
               {"device", unit.Device},       {"outcome", EndKey(outcome.End)},
               {"message", outcome.Message},  {"messages", outcome.Messages},
               {"bytes", unit.Done()},        {"bytes_total", unit.Total},
               {"seconds", unit.Seconds()},   {"exit_code", exitCode}};
    if (!notes.empty()) event["hint"] = notes;
    if (outcome.End == JobEnd::Stopped && cut) event["cut_short"] = TargetKey(*cut);
    if (!outcome.Notice.empty()) event["notice"] = outcome.Notice;
    if (!traceError.empty()) event["trace_error"] = traceError;
    Print(event.dump(-1, ' ', false, Json::error_handler_t::replace));
    return;
  }
  for (const std::string& note : notes) Print("  " + note);
  if (!outcome.Notice.empty()) Print("  note: " + outcome.Notice);
  std::string line = Label(unit) + ": " + EndWords(outcome.End);
  if (outcome.End == JobEnd::Done) {
    line += ", " + std::to_string(unit.Done()) + " bytes in " + Clock_(unit.Seconds());
  } else if (outcome.End == JobEnd::Stopped) {
    line += cut ? std::string(" while writing ") + TargetName(*cut) + ": load this unit again"
                : std::string(" before anything was written");
  } else if (!outcome.Message.empty()) {
    line += ": " + outcome.Message;
  }
  Print(line);
}

void Console::Note(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  if (mode_ == Mode::Json) {
    Print(Json{{"event", "note"}, {"text", text}}.dump(-1, ' ', false, Json::error_handler_t::replace));
  } else {
    Print(text);
  }
}

void Console::Finish() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (finished_) return;
    finished_ = true;
    if (mode_ == Mode::Terminal) Redraw();  // the final lines stay on the screen
    drawn_ = 0;
    if (mode_ != Mode::Json && units_ && units_->size() > 1) Print(Summary());
  }
  tick_.notify_all();
  if (redrawer_.joinable()) redrawer_.join();
}

std::string Console::OutputError() {
  std::lock_guard<std::mutex> hold(lock_);
  return outputError_;
}

void Console::Print(const std::string& line) {
  if (!outputError_.empty()) return;
  Clear();
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  if (!finished_) Redraw();
  Flush();
}

void Console::Flush() {
  if (!outputError_.empty()) return;
  errno = 0;
  if (std::fflush(out_) == 0 && !std::ferror(out_)) return;
  outputError_ = errno != 0 ? std::strerror(errno) : "write error";
}

void Console::Clear() {
  if (mode_ != Mode::Terminal || drawn_ == 0 || !outputError_.empty()) return;
  // Up to the first progress line, and away with everything from there.
  std::fprintf(out_, "\x1b[%dA\r\x1b[J", drawn_);
  drawn_ = 0;
}

void Console::Redraw() {
  if (mode_ != Mode::Terminal || !units_ || !outputError_.empty()) return;
  Clear();
  for (const UnitState& unit : *units_) {
    std::fputs(ProgressLine(unit).c_str(), out_);
    std::fputc('\n', out_);
    ++drawn_;
  }
  Flush();
}

std::string Console::ProgressLine(const UnitState& unit) const {
  std::string port = unit.Port.size() > 14 ? "..." + unit.Port.substr(unit.Port.size() - 11) : unit.Port;
  char head[64];
  std::snprintf(head, sizeof head, "%-14s %-5s ", port.c_str(),
                unit.Current ? TargetName(*unit.Current) : (unit.Finished ? "" : "-"));
  const int32_t percent = std::clamp(unit.Percent, 0, 100);
  std::string bar(BAR_WIDTH, ' ');
  std::fill(bar.begin(), bar.begin() + percent * BAR_WIDTH / 100, '=');
  const int32_t done = unit.Done();
  const double seconds = unit.Started == Clock::time_point{} ? 0.0 : unit.Seconds();
  std::string eta = "--:--";
  if (unit.Finished) {
    eta = "";
  } else if (done > 0 && unit.Total > done) {
    eta = Clock_(seconds * (unit.Total - done) / done);
  }
  char tail[96];
  std::snprintf(tail, sizeof tail, "[%s] %3d %% %7d/%-7d B %6s", bar.c_str(), static_cast<int>(unit.Percent), done,
                unit.Total, Clock_(seconds).c_str());
  std::string line = std::string(head) + tail;
  if (unit.Finished && unit.Outcome) {
    line += std::string("  ") + EndWords(unit.Outcome->End);
  } else {
    line += "  ETA " + eta;
  }
  return line;
}

std::string Console::Summary() const {
  std::string table;
  char row[256];
  std::snprintf(row, sizeof row, "%-14s %-8s %-8s %-8s %8s  %s", "PORT", "DSP", "CM", "MOTOR", "TIME", "RESULT");
  table += row;
  for (const UnitState& unit : *units_) {
    const std::string result = !unit.Outcome ? "not run"
                               : unit.Outcome->End == JobEnd::Done
                                   ? (unit.Outcome->Notice.empty() ? "done" : "done: " + unit.Outcome->Notice)
                                   : std::string(EndWords(unit.Outcome->End)) +
                                         (unit.Outcome->Message.empty() ? "" : ": " + unit.Outcome->Message);
    std::snprintf(row, sizeof row, "\n%-14s %-8s %-8s %-8s %8s  %s", unit.Port.c_str(),
                  StateWord(unit.Targets[DSP_PATH]), StateWord(unit.Targets[CM_PATH]),
                  StateWord(unit.Targets[MOTOR_PATH]), Clock_(unit.Seconds()).c_str(), result.c_str());
    table += row;
  }
  return table;
}
