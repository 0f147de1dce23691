// Whole download jobs, from the targets a user ticks to what ended up in the
// unit: the real worker in virtual time against the simulated unit, so each
// job of 2000 ms pauses takes milliseconds. A job is judged by what the user
// was told, the status texts, the commands on the wire with their line rates,
// and the unit's memories. The window's own part (its boxes, its status box
// while the job runs, its baud service) is shown in download_job_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "CaseName.h"
#include "JobSteps.h"
#include "MessageTexts.h"
#include "SampleImages.h"
#include "VirtualJob.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
using lumo_test::Count;
using lumo_test::Sent;
using lumo_test::SentMessages;
using lumo_test::Steps;
using lumo_test::VirtualBench;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;

// Whether texts are the running percentage and never go back, ending in
// "100 %" just before "Ready", with "100 %" once.
void ExpectProgressThenReady(const Names& statuses, bool reload) {
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 1], "Ready");
  EXPECT_EQ(statuses[statuses.size() - 2], "100 %");
  int previous = -1;
  for (size_t k = 0; k + 1 < statuses.size(); ++k) {
    const std::string& text = statuses[k];
    ASSERT_TRUE(text.size() > 2 && text.compare(text.size() - 2, 2, " %") == 0) << "status " << k << ": " << text;
    const std::string digits = text.substr(0, text.size() - 2);
    ASSERT_TRUE(std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) << text;
    const int percent = std::stoi(digits);
    EXPECT_TRUE(percent >= 0 && percent <= 100) << text;
    // A board loaded again starts its segment over.
    if (!reload) {
      EXPECT_GE(percent, previous) << "status " << k << ": " << text;
    }
    previous = percent;
  }
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "100 %"), 1);
}

enum class DspFile { Valid, WrongSignature, Empty };

struct JobCase {
  const char* Name;
  bool Dsp, Cm, Motor;
  DspFile DspKind;
  bool CmExists, MotorExists;
  std::optional<UnitPart> ListeningAtStart;
  std::vector<Fault> Faults;
  Names Messages;   // the boxes, in order: the job's messages, then its notice
  bool Succeeds;    // "100 %" before "Ready"
  Names Wire;       // Steps()
  size_t Erases;    // DOWNLOAD packets: one per board load
  bool DspWritten, CmWritten, MotorWritten;
  int UserRate = 9600;  // the baud box, and the camera's own rate
};

void PrintTo(const JobCase& c, std::ostream* os) { *os << c.Name; }

constexpr int32_t CM_SIZE = 300;     // four chunks, the last of 72 bytes
constexpr int32_t MOTOR_SIZE = 600;  // eight chunks

const JobCase JOBS[] = {
    {"DSP alone", true, false, false, DspFile::Valid, false, false, std::nullopt, {}, {}, true,
     {"ENTER@9600", "DSP@115200", "ADDRESS@115200"}, 0, true, false, false},
    // The camera board's loader does not answer the job's ping (the line is
    // with the camera): the entry command routes the line to it.
    {"DSP and camera board", true, true, false, DspFile::Valid, true, false, std::nullopt, {}, {}, true,
     {"ENTER@9600", "DSP@115200", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200", "ADDRESS@115200"}, 1,
     true, true, false},
    {"camera board alone", false, true, false, DspFile::Valid, true, false, std::nullopt, {}, {}, true,
     {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200", "ADDRESS@115200"}, 1, false, true,
     false},
    // A loader listening that no record of this tool explains: the ping is
    // answered, so it is restarted (RESET), and the control board's entry
    // command follows the unanswered PINGs.
    {"control board alone", false, false, true, DspFile::Valid, false, true, UnitPart::ControlBoardLoader, {}, {},
     true, {"LOADER@115200", "CONTROL_ENTRY@9600", "LOADER@115200"}, 1, false, false, true},
    // The board never acknowledges its RESET: the image is in, and after the
    // job one box says to switch the unit off and on.
    {"control board does not confirm its restart", false, false, true, DspFile::Valid, false, true, std::nullopt,
     {{FaultKind::NakPacket, UnitPart::ControlBoardLoader, 0x25, 0, -1}}, {TEXT_CONTROL_RESTART_UNCONFIRMED}, true,
     {"LOADER@115200", "ADDRESS@9600", "CONTROL_ENTRY@9600", "LOADER@115200"}, 1, false, false, true},
    // At a user rate other than the default: the camera commands follow the
    // baud box, the address set returns the camera to its own rate.
    {"all three", true, true, true, DspFile::Valid, true, true, std::nullopt, {}, {}, true,
     {"ENTER@19200", "DSP@115200", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200", "ADDRESS@115200",
      "CONTROL_ENTRY@19200", "LOADER@115200"},
     2, true, true, true, 19200},
    {"no box ticked", false, false, false, DspFile::Valid, true, true, std::nullopt, {},
     {"No File Selected !!", "Download Error !!"}, false, {}, 0, false, false, false},
    // Every open comes before the first size check.
    {"camera-board file missing, DSP file empty", true, true, false, DspFile::Empty, false, false, std::nullopt, {},
     {"Open Camera FW File  Error !!", "Download Error !!"}, false, {}, 0, false, false, false},
    // -3: the routine's own message only; the camera board is not tried.
    {"wrong DSP signature", true, true, false, DspFile::WrongSignature, true, false, std::nullopt, {},
     {"This is not DSP File !!"}, false, {"ENTER@9600"}, 0, false, false, false},
    // -3 from the camera board: no "Download Error !!", no address set.
    {"camera-board erase fails", false, true, false, DspFile::Valid, true, false, std::nullopt,
     {{FaultKind::FlashFailure, UnitPart::CameraBoardLoader, 0x21}}, {"Erase Flash Error !!"}, false,
     {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200"}, 1, false, false, false},
    // The status of chunk 1 is lost (GET_STATUS 0 confirms the erase): the
    // chunk's outcome is unknown, so the board is loaded again from the erase.
    {"lost status reply during the camera-board load", false, true, false, DspFile::Valid, true, false,
     std::nullopt, {{FaultKind::DropReply, UnitPart::CameraBoardLoader, 0x23, 2}}, {}, true,
     {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200", "ADDRESS@115200"}, 2, false, true,
     false},
    // Every load of the board after its first chunk ends in a flash failure:
    // three calls, then a failure the user is told about, never "100 %".
    {"camera board asks for a reload three times", false, true, false, DspFile::Valid, true, false, std::nullopt,
     {{FaultKind::FlashFailure, UnitPart::CameraBoardLoader, 0x24, 1, -1}}, {"Download Error !!"}, false,
     {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200"}, 3, false, false, false},
    // A refused RESET leaves the camera board in its loader: it is sent
    // again, and only then does the control board follow.
    {"camera-board RESET refused once, both boards", false, true, true, DspFile::Valid, true, true, std::nullopt,
     {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x25}}, {}, true,
     {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200", "ADDRESS@115200",
      "CONTROL_ENTRY@9600", "LOADER@115200"},
     2, false, true, true},
    // The camera board never leaves its loader: the control board's image
    // would land in it, so the job ends before the control board.
    {"camera board never restarts, both boards", false, true, true, DspFile::Valid, true, true, std::nullopt,
     {{FaultKind::NakPacket, UnitPart::CameraBoardLoader, 0x25, 0, -1}},
     {"Camera board did not restart, so the Control board was not loaded. Load the Camera board (CM) again first !!",
      "Download Error !!"},
     false, {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200"}, 1, false, true, false},
    // The line goes dead right after the camera board's RESET was acknowledged:
    // one report of the write that failed, then the job's end, never "100 %".
    {"the line hangs up after the camera-board RESET, both boards", false, true, true, DspFile::Valid, true, true,
     std::nullopt, {{FaultKind::HangUp, UnitPart::CameraBoardLoader, 0x25}}, {"Not Write Correctly !!", "Download Error !!"},
     false, {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200"}, 1, false, true, false},
    {"the line hangs up after the camera-board RESET, camera board alone", false, true, false, DspFile::Valid, true,
     false, std::nullopt, {{FaultKind::HangUp, UnitPart::CameraBoardLoader, 0x25}},
     {"Not Write Correctly !!", "Download Error !!"}, false,
     {"ENTER@9600", "LOADER@115200", "CAMERA_ENTRY@115200", "LOADER@115200"}, 1, false, true, false},
};

class JobTable : public testing::TestWithParam<JobCase> {};

TEST_P(JobTable, MessagesStatusWireAndMemories) {
  const JobCase& c = GetParam();
  sim::VirtualUnitOptions options;
  options.ListeningAtStart = c.ListeningAtStart;
  options.Faults = c.Faults;
  options.CameraRate = c.UserRate;
  VirtualBench bench(options);
  const Bytes dspAtStart = bench.line.unit.DspMemory();

  Bytes dsp = sim::MakeSampleDspImage(0x56781234);
  if (c.DspKind == DspFile::WrongSignature) ++dsp[0];
  if (c.DspKind == DspFile::Empty) dsp.clear();
  const Bytes cm = sim::MakeSampleBoardImage(CM_SIZE, 2);
  const Bytes motor = sim::MakeSampleBoardImage(MOTOR_SIZE, 3);
  const std::string dspPath = bench.images.Write("job-dsp.bin", dsp);
  const std::string cmPath = c.CmExists ? bench.images.Write("job-cm.bin", cm) : bench.images.folder + "/none-cm.bin";
  const std::string motorPath =
      c.MotorExists ? bench.images.Write("job-motor.bin", motor) : bench.images.folder + "/none-motor.bin";

  const JobOutcome outcome =
      bench.Run(c.Dsp ? dspPath : "", c.Cm ? cmPath : "", c.Motor ? motorPath : "", c.UserRate);

  // The boxes: the job's messages, then its notice once it has ended.
  Names shown = bench.ui.messages;
  if (!outcome.Notice.empty()) shown.push_back(outcome.Notice);
  EXPECT_EQ(shown, c.Messages);
  EXPECT_EQ(outcome.Success, c.Succeeds);

  // Status texts: "Ready" last, once the port is closed; "100 %" only on success.
  ASSERT_FALSE(bench.ui.statuses.empty());
  EXPECT_EQ(bench.ui.statuses.back(), "Ready");
  if (c.Succeeds) {
    const bool reload = c.Erases > static_cast<size_t>(c.Cm) + static_cast<size_t>(c.Motor);
    ExpectProgressThenReady(bench.ui.statuses, reload);
  } else {
    EXPECT_EQ(std::count(bench.ui.statuses.begin(), bench.ui.statuses.end(), "100 %"), 0);
  }
  EXPECT_FALSE(bench.line.PortOpen());
  EXPECT_FALSE(bench.Job().Download_Active.load());

  // The wire.
  const std::vector<Sent> sent = SentMessages(bench.line.unit.Wire());
  EXPECT_EQ(Steps(sent), c.Wire);
  EXPECT_EQ(Count(sent, "DOWNLOAD"), c.Erases);
  if (c.DspWritten) {
    // The probe block, then the 382 blocks.
    EXPECT_EQ(Count(sent, "BLOCK"), 383u);
    EXPECT_EQ(Count(sent, "VERSION"), 2u);
  }

  // The memories.
  const Bytes memory = bench.line.unit.DspMemory();
  if (c.DspWritten) {
    EXPECT_EQ(memory, lumo_test::DspBody(dsp)) << "DSP memory differs from the image body";
    const int v = sim::DSP_VERSION_OFFSET;
    EXPECT_EQ(bench.line.unit.DspVersion(0), dsp[v + 1] << 8 | dsp[v]);
    EXPECT_EQ(bench.line.unit.DspVersion(1), dsp[v + 3] << 8 | dsp[v + 2]);
  } else {
    EXPECT_EQ(memory, dspAtStart) << "the DSP was written";
    EXPECT_EQ(bench.line.unit.DspVersion(0), 0);
    EXPECT_EQ(bench.line.unit.DspVersion(1), 0);
  }
  EXPECT_EQ(bench.line.unit.Flash(UnitPart::CameraBoardLoader) == cm, c.CmWritten);
  EXPECT_EQ(bench.line.unit.Flash(UnitPart::ControlBoardLoader) == motor, c.MotorWritten);
}

INSTANTIATE_TEST_SUITE_P(Jobs, JobTable, testing::ValuesIn(JOBS), lumo_test::NameOfCase());

// The port is closed after a job, so the next job on the same port opens it
// again and talks to the unit: a job that failed at the DSP's signature,
// which leaves the camera in download mode (no address set after its -3),
// then one that loads the DSP: its enter-download still goes out first, at
// the user's rate, and the DSP loads at 115200.
TEST(SecondJob, OnTheSamePortAfterAWrongSignature) {
  VirtualBench bench{sim::VirtualUnitOptions{}};
  const Bytes dsp = sim::MakeSampleDspImage(0x11223344, 5);
  Bytes wrong = dsp;
  ++wrong[3];
  const JobOutcome first = bench.Run(bench.images.Write("wrong.bin", wrong), "", "");
  EXPECT_EQ(bench.ui.messages, Names{TEXT_NOT_DSP_FILE});
  EXPECT_EQ(bench.ui.statuses, Names{"Ready"});
  EXPECT_FALSE(first.Success);
  EXPECT_FALSE(bench.line.PortOpen());
  EXPECT_TRUE(bench.line.unit.CameraInDownloadMode());

  const size_t wireBefore = bench.line.unit.Wire().size();
  const JobOutcome second = bench.Run(bench.images.Write("good.bin", dsp), "", "");
  EXPECT_TRUE(second.Success);
  EXPECT_TRUE(bench.ui.messages.empty());
  ExpectProgressThenReady(bench.ui.statuses, false);
  EXPECT_EQ(bench.line.Opens(), 2);
  EXPECT_FALSE(bench.line.PortOpen());
  const std::vector<sim::WireByte> wire = bench.line.unit.Wire();
  EXPECT_EQ(Steps(SentMessages(std::vector<sim::WireByte>(wire.begin() + static_cast<long>(wireBefore), wire.end()))),
            (Names{"ENTER@9600", "DSP@115200", "ADDRESS@115200"}));
  EXPECT_EQ(bench.line.unit.DspMemory(), lumo_test::DspBody(dsp));
}

}  // namespace
