// What lumo-download says of a unit's end, its summary and its exit status,
// from outcomes fed straight to the console: the engine's side of a notice
// (a board that did not confirm its restart) is not needed for it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Console.h"
#include "ConsoleText.h"
#include "ExitCodes.h"

namespace {

const std::string NOTICE = "Control board was loaded but did not confirm its restart. Switch the unit off and on !!";

using lumo_test::File;
using lumo_test::Lines;
using lumo_test::ReadAll;

JobOutcome Done(const std::string& notice) {
  JobOutcome outcome;
  outcome.Success = true;
  outcome.End = JobEnd::Done;
  outcome.Notice = notice;
  return outcome;
}

// Units that each loaded the control board, ended with the given outcomes.
std::string EndedUnits(Console::Mode mode, const std::vector<JobOutcome>& outcomes) {
  File out(std::tmpfile());
  EXPECT_TRUE(out);
  std::vector<UnitState> units(outcomes.size());
  for (size_t i = 0; i < units.size(); ++i) {
    units[i].Port = units[i].Device = "/dev/ttyS" + std::to_string(i);
    units[i].Targets[MOTOR_PATH] = TargetState::Waiting;
  }
  {
    Console console(mode, out.get());
    console.Begin(units);
    for (size_t i = 0; i < units.size(); ++i) {
      console.JobStarted(units[i], 9600);
      console.TargetStarted(units[i], MOTOR_PATH, 100, 100);
      console.Progress(units[i], MOTOR_PATH, 100, 100);
      console.TargetEnded(units[i], MOTOR_PATH, true);
      console.JobEnded(units[i], outcomes[i], UnitExitCode(outcomes[i]), {}, 100);
    }
    console.Finish();
    EXPECT_EQ(console.OutputError(), "");
  }
  return ReadAll(out.get());
}

TEST(ConsoleNotice, PlainLinesGiveTheNoticeOnceAsANoteBeforeTheResult) {
  const std::vector<std::string> lines = Lines(EndedUnits(Console::Mode::Plain, {Done(NOTICE)}));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "  note: " + NOTICE);
  EXPECT_EQ(lines[3].rfind("/dev/ttyS0: done, 100 bytes in ", 0), 0u) << lines[3];

  const std::string plain = EndedUnits(Console::Mode::Plain, {Done("")});
  EXPECT_EQ(plain.find("note:"), std::string::npos) << plain;
}

TEST(ConsoleNotice, JsonJobEndCarriesTheNoticeOnlyWhenThereIsOne) {
  for (const std::string& notice : {NOTICE, std::string()}) {
    SCOPED_TRACE(notice.empty() ? "without" : "with");
    const std::vector<std::string> lines = Lines(EndedUnits(Console::Mode::Json, {Done(notice)}));
    ASSERT_FALSE(lines.empty());
    const nlohmann::json end = nlohmann::json::parse(lines.back());
    EXPECT_EQ(end.at("event"), "job_end");
    EXPECT_EQ(end.at("outcome"), "done");
    EXPECT_EQ(end.at("exit_code"), notice.empty() ? 0 : 5);
    EXPECT_EQ(end.contains("notice"), !notice.empty());
    if (!notice.empty()) {
      EXPECT_EQ(end.at("notice"), notice);
    }
    // Not one of the job's messages: no message event says it.
    for (const std::string& line : lines) {
      EXPECT_NE(nlohmann::json::parse(line).at("event"), "message");
    }
  }
}

TEST(ConsoleNotice, TheSummaryRowOfThatUnitGivesIt) {
  JobOutcome failed;
  failed.End = JobEnd::LineFailure;
  failed.Message = "Erase Flash Error !!";
  const std::string out = EndedUnits(Console::Mode::Plain, {Done(""), Done(NOTICE), failed});
  const std::vector<std::string> lines = Lines(out.substr(out.find("PORT ")));
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[1].substr(lines[1].size() - 6), "  done") << lines[1];
  const std::string tail = "  done: " + NOTICE;
  ASSERT_GT(lines[2].size(), tail.size());
  EXPECT_EQ(lines[2].substr(lines[2].size() - tail.size()), tail) << lines[2];
  EXPECT_NE(lines[3].find("failed on the line: Erase Flash Error !!"), std::string::npos) << lines[3];
}

// A reader that went away or a full disk: the console says why and writes
// nothing more, and the caller goes on.
TEST(ConsoleOutput, AFailedWriteIsKeptAndEndsTheOutput) {
  File full(std::fopen("/dev/full", "w"));
  ASSERT_TRUE(full);
  std::vector<UnitState> units(1);
  units[0].Port = units[0].Device = "/dev/ttyS0";
  Console console(Console::Mode::Json, full.get());
  console.Begin(units);
  console.JobStarted(units[0], 9600);
  EXPECT_NE(console.OutputError(), "");
  console.JobEnded(units[0], Done(""), 0, {}, 0);  // nothing more is tried, nothing throws
  console.Finish();
  EXPECT_NE(console.OutputError(), "");
}

TEST(ExitCodes, EachUnitsEndAndTheToolsCodeWithItsPrecedence) {
  JobOutcome outcome;
  struct Unit {
    JobEnd end;
    const char* notice;
    int code;
  } units[] = {
      {JobEnd::Done, "", 0},          {JobEnd::Done, "restart not confirmed", 5}, {JobEnd::LineFailure, "", 1},
      {JobEnd::PortNotOpened, "", 3}, {JobEnd::Refused, "", 4},                   {JobEnd::Stopped, "", 1},
  };
  for (const Unit& u : units) {
    outcome.End = u.end;
    outcome.Notice = u.notice;
    EXPECT_EQ(UnitExitCode(outcome), u.code) << static_cast<int>(u.end) << " " << u.notice;
  }

  struct Tool {
    const char* name;
    int signal;
    std::vector<int> units;
    bool outputLost;
    int code;
  } tools[] = {
      {"all loaded", 0, {0, 0}, false, 0},
      {"a signal first", 143, {5, 1}, true, 143},
      {"the first real failure in --port order", 0, {0, 3, 1}, false, 3},
      {"a real failure after a unit to switch off and on", 0, {5, 4}, true, 4},
      {"a unit to switch off and on", 0, {0, 5}, true, 5},
      {"a trace or the output lost", 0, {0, 0}, true, 6},
  };
  for (const Tool& t : tools) {
    EXPECT_EQ(ToolExitCode(t.signal, t.units, t.outputLost), t.code) << t.name;
  }
}

}  // namespace
