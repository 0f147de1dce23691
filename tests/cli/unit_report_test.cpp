// What lumo-download tells of a unit whose fault takes long in real time: the
// job runs in virtual time, watched through the tool's own observer and
// console, and ends as the tool ends each unit (its hints, its exit code).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Console.h"
#include "ConsoleText.h"
#include "DownloadJob.h"
#include "ExitCodes.h"
#include "JobContext.h"
#include "LoaderRecords.h"
#include "MessageTexts.h"
#include "SampleImageFiles.h"
#include "UnitReport.h"
#include "VirtualLine.h"

namespace {

using sim::UnitPart;

using lumo_test::File;
using lumo_test::Lines;
using lumo_test::ReadAll;

// One unit on its own virtual line, told by the console through the tool's
// observer; Run does what lumo-download's thread of that unit does around
// the job.
class VirtualUnitRun {
 public:
  VirtualUnitRun(const sim::VirtualUnitOptions& options, UnitState& state, Console& console)
      : line(options), state_(state), console_(console), session_(line.Ports(), &records_),
        observer_(state, console), job_(session_, &observer_) {
    line.Attach(ContextOf(job_).Link);
  }

  JobOutcome Run(const std::string& cm, const std::string& motor) {
    JobRequest request;
    request.Device = sim::VirtualLine::DEVICE;
    request.User_BaudRate = 9600;
    request.Targets[CM_PATH] = {!cm.empty(), cm};
    request.Targets[MOTOR_PATH] = {!motor.empty(), motor};
    console_.JobStarted(state_, request.User_BaudRate);
    const JobOutcome outcome = RunDownloadJobOnThisThread(&job_, request);
    std::vector<std::string> notes;
    for (const std::string& hint : JobHints(outcome)) notes.push_back("hint: " + hint);
    console_.JobEnded(state_, outcome, UnitExitCode(outcome), notes, observer_.Total());
    return outcome;
  }

  sim::VirtualLine line;

 private:
  UnitState& state_;
  Console& console_;
  LoaderRecords records_;
  JobSession session_;
  ConsoleJobObserver observer_;
  TDownloadJob job_;
};

// Neither the camera nor a loader answers (in real time some 25 s of
// time-outs): among loaded units, this one's lines name the target with the
// loader's message, the summary row gives the last message, the tool says
// what to do, and the exit status is the line failure's.
TEST(UnitReport, AUnitWhereNothingAnswersAmongLoadedOnes) {
  lumo_test::SampleImageFiles images;
  File out(std::tmpfile());
  ASSERT_TRUE(out);
  std::vector<UnitState> units(2);
  for (size_t i = 0; i < units.size(); ++i) {
    units[i].Port = "COM" + std::to_string(5 + i);
    units[i].Device = sim::VirtualLine::DEVICE;
    units[i].Targets[CM_PATH] = units[i].Targets[MOTOR_PATH] = TargetState::Waiting;
  }
  sim::VirtualUnitOptions silent;
  for (UnitPart part : {UnitPart::Camera, UnitPart::CameraBoardLoader, UnitPart::ControlBoardLoader}) {
    silent.Faults.push_back({sim::FaultKind::Silence, part, -1, 0, -1});
  }
  std::vector<int> codes;
  {
    Console console(Console::Mode::Plain, out.get());
    console.Begin(units);
    VirtualUnitRun loaded(sim::VirtualUnitOptions{}, units[0], console);
    EXPECT_EQ(loaded.Run(images.cmPath, images.motorPath).End, JobEnd::Done);
    EXPECT_EQ(loaded.line.unit.Flash(UnitPart::ControlBoardLoader), images.motor);
    VirtualUnitRun dead(silent, units[1], console);
    const JobOutcome outcome = dead.Run(images.cmPath, images.motorPath);
    EXPECT_EQ(outcome.End, JobEnd::LineFailure);
    EXPECT_EQ(outcome.Message, TEXT_UNIT_NOT_ANSWERING);
    EXPECT_TRUE(dead.line.unit.Flash(UnitPart::CameraBoardLoader).empty());
    console.Finish();
    EXPECT_EQ(console.OutputError(), "");
  }
  for (const UnitState& unit : units) codes.push_back(unit.ExitCode);
  EXPECT_EQ(codes, (std::vector<int>{EXIT_ALL_DONE, EXIT_LINE_FAILURE}));
  EXPECT_EQ(ToolExitCode(0, codes, false), EXIT_LINE_FAILURE);

  const std::string text = ReadAll(out.get());
  const size_t table = text.find("PORT ");
  ASSERT_NE(table, std::string::npos) << text;
  std::vector<std::string> own;
  for (const std::string& line : Lines(text.substr(0, table))) {
    if (line.rfind("COM6", 0) == 0 || line.rfind("  ", 0) == 0) own.push_back(line);
  }
  const std::string label = std::string("COM6 (") + sim::VirtualLine::DEVICE + ")";
  EXPECT_EQ(own, (std::vector<std::string>{
                     label + ": CM started, " + std::to_string(images.cm.size()) + " bytes",
                     label + " CM: " + TEXT_LOADER_CONNECTION_ERROR,
                     label + " CM: " + TEXT_UNIT_NOT_ANSWERING,
                     label + ": CM failed",
                     "  hint: the unit may still be in download mode from a job that was cut short. Switch it off and "
                     "on, then run the same command again.",
                     label + ": failed on the line: " + TEXT_UNIT_NOT_ANSWERING}))
      << text;
  // The summary: a row per unit, each target's result.
  const std::vector<std::string> rows = Lines(text.substr(table));
  ASSERT_EQ(rows.size(), 3u) << text;
  EXPECT_EQ(rows[1].rfind("COM5 ", 0), 0u) << rows[1];
  EXPECT_EQ(rows[1].substr(rows[1].size() - 6), "  done") << rows[1];
  EXPECT_EQ(rows[2].rfind("COM6 ", 0), 0u) << rows[2];
  const std::string result = std::string("  failed on the line: ") + TEXT_UNIT_NOT_ANSWERING;
  ASSERT_GT(rows[2].size(), result.size());
  EXPECT_EQ(rows[2].substr(rows[2].size() - result.size()), result) << rows[2];
  EXPECT_NE(rows[2].find(" failed   not run "), std::string::npos) << "the boards' columns: " << rows[2];
}

}  // namespace
