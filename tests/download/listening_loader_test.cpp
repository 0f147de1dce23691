// A unit that arrives with a board's loader listening, and a board that does
// not leave its loader: whole jobs in virtual time against the simulated
// unit. The two boards' loaders answer alike, so what counts is where each
// image ends up: the wanted board loaded, the other one untouched, or the
// job ended with a message before any image byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "CaseName.h"
#include "LoaderRecords.h"
#include "MessageTexts.h"
#include "TempFolder.h"
#include "VirtualJob.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
using lumo_test::VirtualBench;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;

const Names RESTART_THEN = {"PING@115200", "RESET@115200"};

Names Concat(Names a, const Names& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ListeningCase {
  const char* Name;
  UnitPart Listening;  // the loader that hears the line at the start
  int32_t Recorded;    // what the port's record says
  bool Cm, Motor;      // the targets
  std::vector<Fault> Faults;
  std::vector<std::string> Messages;
  JobEnd End;
  Names BeforeErase;  // the job's messages up to its first erase
  bool CmLoaded, MotorLoaded;
  int32_t Rate = 9600;  // the user's rate and the camera's own
};

void PrintTo(const ListeningCase& c, std::ostream* os) { *os << c.Name; }

const char* const DOWNLOAD_ERROR = TEXT_DOWNLOAD_ERROR;

const ListeningCase CASES[] = {
    // No record explains the loader: it is restarted, the line returns to
    // the camera, and the wanted board's entry command brings its own loader.
    {"camera board's loader, control board ticked, no record", UnitPart::CameraBoardLoader, NO_BOARD, false, true,
     {}, {}, JobEnd::Done,
     Concat(RESTART_THEN, {"PING@115200", "PING@115200", "CONTROL_ENTRY@9600", "PING@115200"}), false, true},
    // The camera heard nothing of the first enter-download (the loader had the
    // line): it goes out again once the loader has restarted.
    {"control board's loader, camera board ticked, no record", UnitPart::ControlBoardLoader, NO_BOARD, true, false,
     {}, {}, JobEnd::Done,
     Concat({"ENTER@9600"}, Concat(RESTART_THEN, {"ENTER@9600", "PING@115200", "PING@115200", "CAMERA_ENTRY@115200",
                                                  "PING@115200"})),
     true, false},
    {"control board's loader, both boards ticked, no record", UnitPart::ControlBoardLoader, NO_BOARD, true, true, {},
     {}, JobEnd::Done,
     Concat({"ENTER@9600"}, Concat(RESTART_THEN, {"ENTER@9600", "PING@115200", "PING@115200", "CAMERA_ENTRY@115200",
                                                  "PING@115200"})),
     true, true},
    // The user's rate is the loaders' own: the listening loader hears the
    // enter-download as the start of a packet too large for it, which would
    // swallow the PINGs that must find it.
    {"control board's loader, camera board ticked at 115200, no record", UnitPart::ControlBoardLoader, NO_BOARD, true,
     false, {}, {}, JobEnd::Done, {}, true, false, 115200},
    // The camera did not answer the enter-download and the loader's replies
    // to both PINGs are lost: a resync makes it answer before the PINGs are
    // asked again, and it is found all the same.
    {"control board's loader whose PING replies are lost, camera board ticked", UnitPart::ControlBoardLoader,
     NO_BOARD, true, false, {{FaultKind::DropReply, UnitPart::ControlBoardLoader, 0x20, 0, 2}}, {}, JobEnd::Done,
     {"ENTER@9600", "PING@115200", "PING@115200", "RESYNC@115200", "RESYNC@115200", "RESYNC@115200", "PING@115200",
      "RESET@115200", "ENTER@9600", "PING@115200", "PING@115200", "CAMERA_ENTRY@115200", "PING@115200"},
     true, false},
    // The control board alone, the same loss: the camera does not answer its
    // address set either, so the resync and the PINGs again find the loader.
    {"camera board's loader whose PING replies are lost, control board ticked", UnitPart::CameraBoardLoader, NO_BOARD,
     false, true, {{FaultKind::DropReply, UnitPart::CameraBoardLoader, 0x20, 0, 2}}, {}, JobEnd::Done,
     {"PING@115200", "PING@115200", "ADDRESS@9600", "RESYNC@115200", "RESYNC@115200", "RESYNC@115200", "PING@115200",
      "RESET@115200", "PING@115200", "PING@115200", "CONTROL_ENTRY@9600", "PING@115200"},
     false, true},
    // The record names the board that listens and the job wants it first:
    // no entry command.
    {"camera board's loader, camera board ticked, recorded", UnitPart::CameraBoardLoader, CAMERA_BOARD, true, false,
     {}, {}, JobEnd::Done, {"ENTER@9600", "PING@115200", "PING@115200"}, true, false},
    {"control board's loader, control board ticked, recorded", UnitPart::ControlBoardLoader, CONTROL_BOARD, false,
     true, {}, {}, JobEnd::Done, {"PING@115200", "PING@115200"}, false, true},
    {"camera board's loader, both boards ticked, recorded", UnitPart::CameraBoardLoader, CAMERA_BOARD, true, true, {},
     {}, JobEnd::Done, {"ENTER@9600", "PING@115200", "PING@115200"}, true, true},
    // The record names the other board: refused before any byte.
    {"camera board's loader recorded, control board ticked", UnitPart::CameraBoardLoader, CAMERA_BOARD, false, true,
     {}, {TEXT_CAMERA_LOADER_LEFT, DOWNLOAD_ERROR}, JobEnd::Refused, {}, false, false},
    {"control board's loader recorded, camera board ticked", UnitPart::ControlBoardLoader, CONTROL_BOARD, true, false,
     {}, {TEXT_CONTROL_LOADER_LEFT, DOWNLOAD_ERROR}, JobEnd::Refused, {}, false, false},
    // A loader that never takes its RESET: the job ends before any image byte.
    {"unknown loader that never restarts", UnitPart::CameraBoardLoader, NO_BOARD, false, true,
     {{FaultKind::ResetNotTaken, UnitPart::CameraBoardLoader, 0x25, 0, -1}}, {TEXT_LOADER_NOT_RESTARTED, DOWNLOAD_ERROR},
     JobEnd::Refused, {}, false, false},
};

class ListeningLoaderTable : public testing::TestWithParam<ListeningCase> {};

TEST_P(ListeningLoaderTable, TheWantedBoardOrNone) {
  const ListeningCase& c = GetParam();
  sim::VirtualUnitOptions options;
  options.ListeningAtStart = c.Listening;
  options.Faults = c.Faults;
  options.CameraRate = c.Rate;
  VirtualBench bench(options);
  if (c.Recorded != NO_BOARD) {
    ASSERT_TRUE(bench.Records().Set(sim::VirtualLine::DEVICE, c.Recorded));
  }

  const JobOutcome outcome =
      bench.Run("", c.Cm ? bench.images.cmPath : "", c.Motor ? bench.images.motorPath : "", c.Rate);

  EXPECT_EQ(bench.ui.messages, c.Messages);
  EXPECT_EQ(outcome.End, c.End);
  EXPECT_TRUE(outcome.Notice.empty()) << outcome.Notice;
  if (c.End == JobEnd::Refused) {
    // Nothing of any image went out: no erase, no data.
    const Names sent = bench.Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DOWNLOAD@115200"), 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "SEND_DATA@115200"), 0);
  } else if (!c.BeforeErase.empty()) {
    EXPECT_EQ(bench.SentBeforeErase(), c.BeforeErase);
  }
  EXPECT_EQ(bench.line.unit.Flash(UnitPart::CameraBoardLoader), c.CmLoaded ? bench.images.cm : Bytes{});
  EXPECT_EQ(bench.line.unit.Flash(UnitPart::ControlBoardLoader), c.MotorLoaded ? bench.images.motor : Bytes{});
  if (c.End == JobEnd::Done) {
    EXPECT_EQ(bench.Recorded(), NO_BOARD);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ListeningLoaderTable, testing::ValuesIn(CASES), lumo_test::NameOfCase());

// The last chunk's status reply comes again, later than the quiet wait before
// the RESET, while the camera board does not take its first RESET: the copy
// arrives as the RESET's acknowledge. In a job that goes on to the control
// board, the PING after it is answered by the camera board's loader, so the
// RESET goes out again, and the control board's image never reaches the
// camera board.
TEST(LateCopyOfAReply, NeverPassesForTheCameraBoardsRestart) {
  for (const int lateMs : {20, 100, 300}) {
    for (const bool withDsp : {false, true}) {
      SCOPED_TRACE(testing::Message() << lateMs << " ms, DSP " << withDsp);
      lumo_test::SampleImageFiles files;
      const int lastChunkStatus = static_cast<int>((files.cm.size() + 75) / 76);  // GET_STATUS 0 confirms the erase
      sim::VirtualUnitOptions options;
      options.Faults = {{FaultKind::LateCopy, UnitPart::CameraBoardLoader, 0x23, lastChunkStatus, 1, lateMs},
                        {FaultKind::ResetNotTaken, UnitPart::CameraBoardLoader, 0x25, 0, 1}};
      VirtualBench bench(options);
      const JobOutcome outcome =
          bench.Run(withDsp ? bench.images.dspPath : "", bench.images.cmPath, bench.images.motorPath);
      EXPECT_TRUE(outcome.Success) << (bench.ui.messages.empty() ? "" : bench.ui.messages.front());
      EXPECT_EQ(bench.line.unit.Flash(UnitPart::CameraBoardLoader), bench.images.cm);
      EXPECT_EQ(bench.line.unit.Flash(UnitPart::ControlBoardLoader), bench.images.motor);
      const Names sent = bench.Sent();
      EXPECT_EQ(std::count(sent.begin(), sent.end(), "RESET@115200"), 3);  // the camera board's two, the control board's
    }
  }
}

// A board loaded whose restart cannot be confirmed: its image is in, the job
// is done, and the user is told once to switch the unit off and on. The
// record stays, since its loader may still listen.
TEST(UnconfirmedRestart, DoneWithANotice) {
  struct Case {
    bool Cm;
    UnitPart Board;
    const char* Notice;
    int32_t Recorded;
  };
  for (const Case& c : {Case{true, UnitPart::CameraBoardLoader, TEXT_CAMERA_RESTART_UNCONFIRMED, CAMERA_BOARD},
                        Case{false, UnitPart::ControlBoardLoader, TEXT_CONTROL_RESTART_UNCONFIRMED, CONTROL_BOARD}}) {
    SCOPED_TRACE(c.Notice);
    sim::VirtualUnitOptions options;
    options.Faults = {{FaultKind::ResetNotTaken, c.Board, 0x25, 0, -1}};
    VirtualBench bench(options);
    const JobOutcome outcome = bench.Run("", c.Cm ? bench.images.cmPath : "", c.Cm ? "" : bench.images.motorPath);
    EXPECT_TRUE(outcome.Success);
    EXPECT_TRUE(bench.ui.messages.empty());
    EXPECT_EQ(outcome.Notice, c.Notice);
    EXPECT_EQ(bench.ui.statuses.back(), "Ready");
    EXPECT_EQ(bench.line.unit.Flash(c.Board), c.Cm ? bench.images.cm : bench.images.motor);
    EXPECT_EQ(bench.Recorded(), c.Recorded);
  }
}

// A job stopped during the DSP leaves the camera in download mode, where it
// hears neither a loader entry command nor an address set at its own rate.
// The next control-board job finds no loader: it leaves no record behind (a
// job of all three is then not refused for it), and says to switch the unit
// off and on.
TEST(NoLoaderAnswers, NoRecordAndSwitchTheUnitOffAndOn) {
  VirtualBench bench{sim::VirtualUnitOptions{}};
  // Stopped at the DSP's first progress, as Ctrl+C would.
  bench.ui.OnProgress = [&bench](PathIndex, int32_t, int32_t) { bench.Job().RequestStop(); };
  const JobOutcome stopped = bench.Run(bench.images.dspPath, "", "");
  bench.ui.OnProgress = nullptr;
  ASSERT_EQ(stopped.End, JobEnd::Stopped);
  ASSERT_TRUE(bench.line.unit.CameraInDownloadMode());

  const JobOutcome motor = bench.Run("", "", bench.images.motorPath);
  EXPECT_EQ(bench.ui.messages, (std::vector<std::string>{TEXT_LOADER_CONNECTION_ERROR, TEXT_UNIT_NOT_ANSWERING}));
  EXPECT_EQ(motor.End, JobEnd::LineFailure);
  EXPECT_EQ(bench.Recorded(), NO_BOARD);
  EXPECT_TRUE(bench.line.unit.Flash(UnitPart::ControlBoardLoader).empty());
}

// The record cannot be written: the job enters no loader it could not
// record, and says so.
TEST(UnwritableRecord, NoLoaderEntered) {
  lumo_test::TempFolder folder;
  // A folder where the record file should be: it cannot be replaced.
  const std::string file = folder.File("LoaderState.txt");
  ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);
  LoaderRecords records(file);
  for (const bool cm : {true, false}) {
    SCOPED_TRACE(cm ? "camera board" : "control board");
    VirtualBench bench(sim::VirtualUnitOptions{}, &records);
    const JobOutcome outcome = bench.Run("", cm ? bench.images.cmPath : "", cm ? "" : bench.images.motorPath);
    ASSERT_EQ(bench.ui.messages.size(), 2u);
    EXPECT_NE(bench.ui.messages[0].find("cannot be written"), std::string::npos) << bench.ui.messages[0];
    EXPECT_NE(bench.ui.messages[0].find(file), std::string::npos) << bench.ui.messages[0];
    EXPECT_EQ(bench.ui.messages[1], TEXT_DOWNLOAD_ERROR);
    EXPECT_EQ(outcome.End, JobEnd::Refused);
    const Names sent = bench.Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "CAMERA_ENTRY@115200"), 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "CONTROL_ENTRY@9600"), 0);
    EXPECT_EQ(bench.line.unit.Listening(), UnitPart::Camera);
  }
}

// A first job of one board fails inside that board's loader (SEND_DATA 1 to
// 3 fail in flash, so every call asks for a reload), which leaves the loader
// listening and recorded. records: where the bench keeps its records.
class LeftListening {
 public:
  LeftListening(UnitPart board, LoaderRecords* records) : bench(Options(board), records) {
    const bool cm = board == UnitPart::CameraBoardLoader;
    bench.Run("", cm ? bench.images.cmPath : "", cm ? "" : bench.images.motorPath);
    EXPECT_EQ(bench.ui.messages, Names{DOWNLOAD_ERROR});
    EXPECT_EQ(bench.line.unit.Listening(), board);
    EXPECT_EQ(bench.Recorded(), cm ? CAMERA_BOARD : CONTROL_BOARD);
  }

  // A job of these targets is refused with text before any byte goes out.
  void ExpectRefused(bool dsp, bool cm, bool motor, const char* text) {
    SCOPED_TRACE(testing::Message() << "dsp " << dsp << ", camera board " << cm << ", control board " << motor);
    const size_t wireBefore = bench.line.unit.Wire().size();
    const JobOutcome outcome = Run(dsp, cm, motor);
    EXPECT_EQ(outcome.End, JobEnd::Refused);
    EXPECT_EQ(bench.ui.messages, (Names{text, DOWNLOAD_ERROR}));
    EXPECT_EQ(bench.line.unit.Wire().size(), wireBefore) << "a byte went out";
    EXPECT_EQ(bench.ui.statuses, Names{"Ready"});
  }

  // A job of these targets goes through without a message.
  void ExpectLoaded(bool cm, bool motor) {
    SCOPED_TRACE(testing::Message() << "camera board " << cm << ", control board " << motor);
    const JobOutcome outcome = Run(false, cm, motor);
    EXPECT_TRUE(outcome.Success);
    EXPECT_TRUE(bench.ui.messages.empty());
    EXPECT_TRUE(outcome.Notice.empty()) << outcome.Notice;
    ASSERT_GE(bench.ui.statuses.size(), 2u);
    EXPECT_EQ(bench.ui.statuses[bench.ui.statuses.size() - 2], "100 %");
    EXPECT_EQ(bench.ui.statuses.back(), "Ready");
    EXPECT_EQ(bench.Recorded(), NO_BOARD);
  }

  Bytes Flash(UnitPart board) const { return bench.line.unit.Flash(board); }

  VirtualBench bench;

 private:
  JobOutcome Run(bool dsp, bool cm, bool motor) {
    return bench.Run(dsp ? bench.images.dspPath : "", cm ? bench.images.cmPath : "",
                     motor ? bench.images.motorPath : "");
  }
  static sim::VirtualUnitOptions Options(UnitPart board) {
    sim::VirtualUnitOptions options;
    options.Faults = {{FaultKind::FlashFailure, board, 0x24, 1, 3}};
    return options;
  }
};

// The camera board's loader left listening answers a PING like the control
// board's would. The next control-board job must not write its image into
// the camera board: it is refused before any byte goes out, and so is a DSP
// job, until the camera board has been loaded; the camera board and then the
// control board in one job load both.
TEST(LoaderLeftListening, ByTheCameraBoardBlocksTheControlBoard) {
  LeftListening unit(UnitPart::CameraBoardLoader, nullptr);
  unit.ExpectRefused(false, false, true, TEXT_CAMERA_LOADER_LEFT);
  unit.ExpectRefused(true, false, false, TEXT_CAMERA_LOADER_LEFT);
  EXPECT_NE(unit.Flash(UnitPart::CameraBoardLoader), unit.bench.images.motor);
  EXPECT_NE(unit.Flash(UnitPart::ControlBoardLoader), unit.bench.images.motor);
  EXPECT_EQ(unit.bench.line.unit.Listening(), UnitPart::CameraBoardLoader);

  unit.ExpectLoaded(true, true);
  EXPECT_EQ(unit.Flash(UnitPart::CameraBoardLoader), unit.bench.images.cm);
  EXPECT_EQ(unit.Flash(UnitPart::ControlBoardLoader), unit.bench.images.motor);
}

// The other way round, and across a restart of the tool: the record is in
// its file, and a tool started again (new records on the same file) refuses
// a camera-board job, alone or with the control board after it, until the
// control board has been loaded alone; then the camera board goes through.
TEST(LoaderLeftListening, ByTheControlBoardOutlivesTheTool) {
  lumo_test::TempFolder folder;
  const std::string file = folder.File("LoaderState.txt");
  // The bench keeps this object's address; the tool started again replaces
  // the object there, with nothing of the first run's memory.
  std::optional<LoaderRecords> records(std::in_place, file);
  LeftListening unit(UnitPart::ControlBoardLoader, &*records);
  records.reset();
  records.emplace(file);
  EXPECT_EQ(records->Get(sim::VirtualLine::DEVICE), CONTROL_BOARD);

  unit.ExpectRefused(false, true, false, TEXT_CONTROL_LOADER_LEFT);
  unit.ExpectRefused(false, true, true, TEXT_CONTROL_LOADER_LEFT);
  EXPECT_NE(unit.Flash(UnitPart::ControlBoardLoader), unit.bench.images.cm);
  EXPECT_NE(unit.Flash(UnitPart::CameraBoardLoader), unit.bench.images.cm);

  unit.ExpectLoaded(false, true);
  EXPECT_EQ(unit.Flash(UnitPart::ControlBoardLoader), unit.bench.images.motor);
  // Loaded and restarted: the camera board goes through again.
  unit.ExpectLoaded(true, false);
  EXPECT_EQ(unit.Flash(UnitPart::CameraBoardLoader), unit.bench.images.cm);
  EXPECT_EQ(unit.Flash(UnitPart::ControlBoardLoader), unit.bench.images.motor);
  EXPECT_EQ(LoaderRecords(file).Get(sim::VirtualLine::DEVICE), NO_BOARD);
}

}  // namespace
