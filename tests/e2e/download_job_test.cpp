// Whole download jobs through the window: the real form (offscreen), its
// "DownLoad AP" button pressed, the real port backend on a pseudo-terminal and
// the simulated unit behind it, in real time. What is the window's own is
// shown here, one short job each: its boxes, its status box while the job
// runs, its controls, its service of the worker's baud requests, a dialog
// and a close during a job. The jobs' targets, orders, faults, wire and
// memories are shown in virtual time (job_table_test.cpp).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CaseName.h"
#include "JobSteps.h"
#include "WireMessages.h"
#include "AppTestSupport.h"
#include "JobContext.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "RefusingPort.h"
#include "SampleImages.h"
#include "SavedPaths.h"
#include "SerialLink.h"
#include "LinuxSerialPort.h"
#include "LoaderRecords.h"
#include "SerialPort.h"
#include "SimUnit.h"
#include "Startup.h"
#include "TestContext.h"
#include "TraceFile.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
using lumo_test::Count;
using lumo_test::Sent;
using lumo_test::SentMessages;
using lumo_test::Steps;
using sim::Fault;
using sim::FaultKind;
using sim::UnitPart;

// A job that does not end fails the run instead of blocking it: the click
// handler cannot be interrupted from a test, so the watchdog ends the process.
class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds bound = std::chrono::seconds(180))
      : thread_([this, what, bound] {
          std::unique_lock<std::mutex> hold(lock_);
          if (!done_.wait_for(hold, bound, [this] { return finished_; })) {
            std::fprintf(stderr, "%s did not end within %lld s\n", what, static_cast<long long>(bound.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// ---- The bench: a unit on COM<n>, the form, recorders ------------------------

// What the status box showed, with the state of the job at that moment.
struct StatusSample {
  QString Text;
  bool Active;       // Download_Active
  bool PortOpen;     // ComPort_Opened
  bool ButtonEnabled;
};

constexpr int COM_NUMBER = 7;

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class Bench {
  lumo_test::ComFolder ownCom_;  // the unit's COM folder unless one is given
  std::string com_;

 public:
  // windowPorts: the seam the window is given, as start-up makes it; null
  // for the bench's own. comFolder: where the unit's COM link goes (the
  // folder windowPorts lists); empty for a folder of the bench's own.
  explicit Bench(sim::SimOptions options = {}, bool refuse115200 = false, PortFactory* windowPorts = nullptr,
                 const std::string& comFolder = {})
      : com_(comFolder.empty() ? ownCom_.Path() : comFolder), ports(0, com_), windowPorts_(windowPorts) {
    if (refuse115200) ports.RefuseRate(115200);
    options.ComDir = com_;
    options.ComNumber = COM_NUMBER;
    unit = std::make_unique<sim::SimUnit>(options);
    dspAtStart = unit->DspMemory();
    Restart();
  }

  // A new form in the same folder, as when the tool is started again.
  void Restart() {
    form.reset();
    form = std::make_unique<TLumo_Q31NTX_DownloadAP>(files_.path(), windowPorts_ ? windowPorts_ : &ports);
    form->show();
    QObject::connect(form->Processing_States, &QLineEdit::textChanged, form.get(), [this](const QString& text) {
      statuses.push_back(
          {text, ContextOf(form->Job).Download_Active.load(), ContextOf(form->Job).Link.ComPort_Opened.load(), form->DownLoadAP->isEnabled()});
    });
  }

  ~Bench() {
    form.reset();
  }

  std::string File(const char* name) const { return (files_.path() + "/" + name).toStdString(); }

  void SetPaths(const std::string& dsp, const std::string& cm, const std::string& motor) {
    form->DSP_PATH_Edit->setText(QString::fromStdString(dsp));
    form->CM_PATH_Edit->setText(QString::fromStdString(cm));
    form->Motor_PATH_Edit->setText(QString::fromStdString(motor));
  }

  void Tick(bool dsp, bool cm, bool motor) {
    form->DSP_CheckBox->setChecked(dsp);
    form->CM_CheckBox->setChecked(cm);
    form->Motor_CheckBox->setChecked(motor);
  }

  // Presses the button; returns once the click handler has returned, which it
  // does when the job has ended. The status box is emptied first so that
  // every text the job writes shows up as a change.
  void Press() {
    statuses.clear();
    form->Processing_States->setText(QString());
    statuses.clear();
    Watchdog watchdog("a download job");
    QTest::mouseClick(form->DownLoadAP, Qt::LeftButton);
    unit->WaitIdle();
  }

  std::vector<QString> StatusTexts() const {
    std::vector<QString> texts;
    for (const StatusSample& s : statuses) texts.push_back(s.Text);
    return texts;
  }

  bool ControlsEnabled() const {
    return form->DownLoadAP->isEnabled() && form->ComPort_ComboBox->isEnabled() &&
           form->BaudRate_ComboBox->isEnabled();
  }

  // The tool no longer holds the port: the device opens for exclusive use.
  bool PortFree() const { return OpenLinuxSerialPort(unit->SlavePath(), lumo_test::TestPortConfig()) != nullptr; }

  lumo_test::TestPortFactory ports;
  MessageRecorder messages;
  std::unique_ptr<sim::SimUnit> unit;
  Bytes dspAtStart;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form;
  std::vector<StatusSample> statuses;

 private:
  PortFactory* windowPorts_;
  QTemporaryDir files_;
};

// Whether texts are the running percentage and never go back, ending in "100 %"
// just before "Ready". dspLoaded: the job's progress lasted seconds (the DSP's
// blocks), long enough that the window thread shows some of it while the job
// runs however busy the machine is; a few board chunks may all come within
// one of its passes.
void ExpectProgressThenReady(const std::vector<StatusSample>& statuses, bool reload, bool dspLoaded) {
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses[statuses.size() - 1].Text, QStringLiteral("Ready"));
  EXPECT_EQ(statuses[statuses.size() - 2].Text, QStringLiteral("100 %"));
  int previous = -1;
  int shownDuringJob = 0;
  for (size_t k = 0; k + 1 < statuses.size(); ++k) {
    const QString& text = statuses[k].Text;
    ASSERT_TRUE(text.endsWith(QStringLiteral(" %"))) << "status " << k << ": " << text.toStdString();
    bool number = false;
    const int percent = text.chopped(2).toInt(&number);
    ASSERT_TRUE(number) << text.toStdString();
    EXPECT_TRUE(percent >= 0 && percent <= 100) << text.toStdString();
    // A board loaded again starts its segment over.
    if (!reload) {
      EXPECT_GE(percent, previous) << "status " << k << ": " << text.toStdString();
    }
    previous = percent;
    if (statuses[k].Active) ++shownDuringJob;
    EXPECT_FALSE(statuses[k].ButtonEnabled) << "the button was enabled while " << text.toStdString();
  }
  // The running percentage is shown while the job runs, not saved up for its
  // end. The worker's last texts may land as the job ends (the window thread
  // applies them in its next pass), but always before "Ready" and before the
  // controls come back.
  if (dspLoaded) {
    EXPECT_GE(shownDuringJob, 1) << "no percentage shown while the job ran";
  }
  EXPECT_EQ(std::count_if(statuses.begin(), statuses.end(),
                          [](const StatusSample& s) { return s.Text == QStringLiteral("100 %"); }),
            1);
}

// ---- The table of jobs -------------------------------------------------------

enum class DspFile { Valid, WrongSignature, Empty };

struct JobCase {
  const char* Name;
  bool Dsp, Cm, Motor;
  DspFile DspKind;
  int32_t CmSize;     // 0: the file does not exist
  int32_t MotorSize;  // 0: the file does not exist
  std::optional<UnitPart> ListeningAtStart;
  std::vector<Fault> Faults;
  bool Refuse115200;
  std::vector<QString> Messages;
  bool Succeeds;  // "100 %" before "Ready"
  Names Wire;     // Steps()
  size_t Erases;  // DOWNLOAD packets: one per board load
  bool DspWritten, CmWritten, MotorWritten;
  int UserRate = 9600;  // the baud box, and the camera's own rate
  int32_t Recorded = NO_BOARD;  // the board a job before this one left listening, as the form keeps it
};

void PrintTo(const JobCase& c, std::ostream* os) { *os << c.Name; }

constexpr int32_t CM_SIZE = 300;     // four chunks, the last of 72 bytes
constexpr int32_t MOTOR_SIZE = 600;  // eight chunks
const Names ADDRESS_SET_SIX_TIMES(6, "ADDRESS@9600");

Names Concat(Names a, const Names& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The window's own part of a job, one short job each; every other
// combination of targets, faults and orders is in job_table_test.cpp.
const JobCase JOBS[] = {
    // The running percentage shown while the job runs, and the baud box's rate
    // on the wire: the camera commands follow it, the DSP loads at 115200.
    {"DSP alone at 19200", true, false, false, DspFile::Valid, 0, 0, std::nullopt, {}, false, {}, true,
     {"ENTER@19200", "DSP@115200", "ADDRESS@115200"}, 0, true, false, false, 19200},
    // The job's notice: after the job, one box says to switch the unit off
    // and on. The cheapest board load: the control board's loader listens
    // and is recorded, so the job's first PING finds it (the loader's own
    // pauses stay); the way to an unrecorded loader is in job_table_test.cpp.
    {"control board does not confirm its restart", false, false, true, DspFile::Valid, 0, MOTOR_SIZE,
     UnitPart::ControlBoardLoader, {{FaultKind::NakPacket, UnitPart::ControlBoardLoader, 0x25, 0, -1}}, false,
     {"Control board was loaded, but it did not confirm its restart. Switch the unit off and on before using it !!"},
     true, {"LOADER@115200"}, 1, false, false, true, 9600, CONTROL_BOARD},
    // Boxes before any byte.
    {"no box ticked", false, false, false, DspFile::Valid, CM_SIZE, MOTOR_SIZE, std::nullopt, {}, false,
     {"No File Selected !!", "Download Error !!"}, false, {}, 0, false, false, false},
    // The window thread marks the request failed, runs the address set at the
    // rate the port still has (the camera in download mode does not hear it),
    // then reports; the worker ends the job.
    {"the change to 115200 refused", true, false, false, DspFile::Valid, 0, 0, std::nullopt, {}, true,
     {"ComPort  Error !!", "Download Error !!"}, false, Concat({"ENTER@9600"}, ADDRESS_SET_SIX_TIMES), 0, false,
     false, false},
};

class DownloadJobTable : public testing::TestWithParam<JobCase> {};

TEST_P(DownloadJobTable, MessagesStatusWireAndMemories) {
  const JobCase& c = GetParam();
  sim::SimOptions options;
  options.ListeningAtStart = c.ListeningAtStart;
  options.Faults = c.Faults;
  options.CameraRate = c.UserRate;
  Bench bench(options, c.Refuse115200);
  if (c.Recorded != NO_BOARD) {
    LoaderRecords records(SavePathFolder(bench.form->Model.SettingsFolderPath()) + "/LoaderState.txt");
    ASSERT_TRUE(records.Set(bench.unit->SlavePath(), c.Recorded));
    bench.Restart();
  }
  ASSERT_EQ(bench.form->ComPort_ComboBox->currentText(), QString::number(COM_NUMBER));
  bench.form->BaudRate_ComboBox->setCurrentText(QString::number(c.UserRate));
  ASSERT_EQ(bench.form->BaudRate_ComboBox->currentText(), QString::number(c.UserRate));

  Bytes dsp = sim::MakeSampleDspImage(0x56781234);
  if (c.DspKind == DspFile::WrongSignature) ++dsp[0];
  if (c.DspKind == DspFile::Empty) dsp.clear();
  const Bytes cm = sim::MakeSampleBoardImage(CM_SIZE, 2);
  const Bytes motor = sim::MakeSampleBoardImage(MOTOR_SIZE, 3);
  WriteFile(bench.File("dsp.bin"), dsp);
  if (c.CmSize > 0) WriteFile(bench.File("cm.bin"), cm);
  if (c.MotorSize > 0) WriteFile(bench.File("motor.bin"), motor);
  bench.SetPaths(bench.File("dsp.bin"), bench.File("cm.bin"), bench.File("motor.bin"));
  bench.Tick(c.Dsp, c.Cm, c.Motor);

  bench.Press();

  EXPECT_EQ(bench.messages.Texts(), c.Messages);
  for (const ShownMessageBox& box : bench.messages.Boxes()) {
    EXPECT_EQ(box.kind, ShownMessageBox::ErrorBox);
    EXPECT_EQ(box.caption, QStringLiteral("Error"));
  }

  // Status texts: "Ready" last, once the port is closed; "100 %" only on success.
  ASSERT_FALSE(bench.statuses.empty());
  const StatusSample& ready = bench.statuses.back();
  EXPECT_EQ(ready.Text, QStringLiteral("Ready"));
  EXPECT_FALSE(ready.Active);
  EXPECT_FALSE(ready.PortOpen);
  if (c.Succeeds) {
    const bool reload = c.Erases > static_cast<size_t>(c.Cm) + static_cast<size_t>(c.Motor);
    ExpectProgressThenReady(bench.statuses, reload, c.Dsp);
  } else {
    const std::vector<QString> texts = bench.StatusTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), QStringLiteral("100 %")), 0);
  }
  EXPECT_EQ(bench.form->Processing_States->text(), QStringLiteral("Ready"));

  // Controls back, port closed.
  EXPECT_TRUE(bench.ControlsEnabled());
  EXPECT_FALSE(ContextOf(bench.form->Job).Link.ComPort_Opened.load());
  if (!bench.unit->HungUp()) {
    EXPECT_TRUE(bench.PortFree());
  }

  // The wire.
  const std::vector<Sent> sent = SentMessages(*bench.unit);
  EXPECT_EQ(Steps(sent), c.Wire);
  EXPECT_EQ(Count(sent, "DOWNLOAD"), c.Erases);
  if (c.DspWritten) {
    // The probe block, then the 382 blocks.
    EXPECT_EQ(Count(sent, "BLOCK"), 383u);
    EXPECT_EQ(Count(sent, "VERSION"), 2u);
  }

  // The memories.
  const Bytes memory = bench.unit->DspMemory();
  if (c.DspWritten) {
    ASSERT_EQ(memory.size(), static_cast<size_t>(sim::DSP_BODY_SIZE));
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), dsp.begin() + sim::DSP_HEADER_SIZE))
        << "DSP memory differs from the image body";
    const int v = sim::DSP_VERSION_OFFSET;
    EXPECT_EQ(bench.unit->DspVersion(0), dsp[v + 1] << 8 | dsp[v]);
    EXPECT_EQ(bench.unit->DspVersion(1), dsp[v + 3] << 8 | dsp[v + 2]);
  } else {
    EXPECT_EQ(memory, bench.dspAtStart) << "the DSP was written";
    EXPECT_EQ(bench.unit->DspVersion(0), 0);
    EXPECT_EQ(bench.unit->DspVersion(1), 0);
  }
  if (c.CmWritten) {
    EXPECT_EQ(bench.unit->Flash(UnitPart::CameraBoardLoader), cm);
  } else {
    EXPECT_NE(bench.unit->Flash(UnitPart::CameraBoardLoader), cm);
  }
  if (c.MotorWritten) {
    EXPECT_EQ(bench.unit->Flash(UnitPart::ControlBoardLoader), motor);
  } else {
    EXPECT_NE(bench.unit->Flash(UnitPart::ControlBoardLoader), motor);
  }
}

INSTANTIATE_TEST_SUITE_P(Jobs, DownloadJobTable, testing::ValuesIn(JOBS), lumo_test::NameOfCase());

// ---- Around the job ----------------------------------------------------------

// Started with --trace FILE, the window writes the wire of each of its jobs
// into FILE, one after the other: a DSP job, then one that ends at the DSP's
// signature.
TEST(DownloadJob, AWindowStartedWithATraceWritesEveryJob) {
  QTemporaryDir folder;
  const std::string path = (folder.path() + QStringLiteral("/wire trace.txt")).toStdString();
  std::vector<std::string> arguments = {"Lumo_DownloadTool", "--trace", path};
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  StartupOptions options = ReadStartupOptions(static_cast<int>(argv.size()), argv.data());
  // As the start-up reads them for LUMO_COMPORT_DIR=<com> and the test lock folder.
  lumo_test::ComFolder com;
  options.Ports = lumo_test::TestPortConfig(com.Path());
  WindowPorts ports(options);
  ASSERT_FALSE(ports.TraceFailed());
  ASSERT_TRUE(ports.Traced());

  Bytes heard, sent;
  {
    Bench bench({}, false, ports.Ports(), com.Path());
    Bytes dsp = sim::MakeSampleDspImage();
    WriteFile(bench.File("dsp.bin"), dsp);
    ++dsp[0];
    WriteFile(bench.File("wrong.bin"), dsp);
    bench.Tick(true, false, false);
    bench.SetPaths(bench.File("dsp.bin"), "", "");
    bench.Press();
    bench.SetPaths(bench.File("wrong.bin"), "", "");
    bench.Press();
    EXPECT_EQ(bench.messages.Texts(), std::vector<QString>{QStringLiteral("This is not DSP File !!")});
    heard = bench.unit->WireBytes(sim::WireDirection::ToUnit);
    sent = bench.unit->WireBytes(sim::WireDirection::ToHost);
  }
  ASSERT_TRUE(ports.CloseTrace());

  const lumo_test::TraceFile trace = lumo_test::ReadTraceFile(path);
  ASSERT_TRUE(trace.Read);
  EXPECT_TRUE(trace.Malformed.empty()) << trace.Malformed.front();
  // The heading, then each job's port opened and closed.
  ASSERT_EQ(trace.Notes.size(), 5u);
  for (size_t k : {1u, 3u}) EXPECT_NE(trace.Notes[k].find("opened"), std::string::npos) << trace.Notes[k];
  for (size_t k : {2u, 4u}) EXPECT_NE(trace.Notes[k].find("port closed"), std::string::npos) << trace.Notes[k];
  EXPECT_EQ(trace.BytesOf(true), heard);
  EXPECT_EQ(trace.BytesOf(false), sent);
  EXPECT_EQ(trace.Count("block", true), 383u);
  EXPECT_EQ(trace.Count("command", true), 1u + 383u + 2u + 1u + 1u);  // enter, announces, versions, address set; enter
  EXPECT_EQ(trace.Count("noise", true) + trace.Count("noise", false), 0u);
}

// A Browse dialog opened as the job starts and held open runs its own event
// loop: the job's baud requests are still served, and it ends while the
// dialog is up.
TEST(DownloadJob, ABrowseDialogHeldOpenDoesNotHoldTheJobUp) {
  Bench bench;
  WriteFile(bench.File("dsp.bin"), sim::MakeSampleDspImage());
  bench.SetPaths(bench.File("dsp.bin"), "", "");
  bench.Tick(true, false, false);

  bool doneWhileOpen = false;
  bool opened = false;
  // Looks for the job's start from within the click handler's event loop,
  // before the worker's first baud request.
  QTimer open;
  open.setInterval(1);
  QObject::connect(&open, &QTimer::timeout, bench.form.get(), [&] {
    if (opened || !ContextOf(bench.form->Job).Download_Active.load()) return;
    open.stop();
    opened = true;
    // Closes the dialog once the job has shown "100 %", or after a bound.
    QElapsedTimer held;
    held.start();
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, bench.form.get(), [&] {
      const bool done = bench.form->Processing_States->text() == QStringLiteral("100 %");
      if (done) doneWhileOpen = true;
      if ((done || held.elapsed() > 60000) && bench.form->OpenFile->isVisible()) bench.form->OpenFile->reject();
    });
    watch.start();
    bench.form->SelectDSPFileClick();
  });
  open.start();
  bench.Press();
  open.stop();

  EXPECT_TRUE(opened);
  EXPECT_TRUE(doneWhileOpen) << "the job stood still while the dialog was open";
  EXPECT_TRUE(bench.messages.Texts().empty());
  const Bytes memory = bench.unit->DspMemory();
  const Bytes dsp = sim::MakeSampleDspImage();
  EXPECT_TRUE(std::equal(memory.begin(), memory.end(), dsp.begin() + sim::DSP_HEADER_SIZE));
}

// Closing the window while a job runs keeps it until the job has finished;
// then it closes.
TEST(DownloadJob, CloseDuringAJobWaitsForTheJob) {
  Bench bench;
  const Bytes dsp = sim::MakeSampleDspImage();
  WriteFile(bench.File("dsp.bin"), dsp);
  bench.SetPaths(bench.File("dsp.bin"), "", "");
  bench.Tick(true, false, false);

  // Sampled from the event loop of the click handler.
  struct Sample {
    bool Active;
    bool Visible;
  };
  std::vector<Sample> samples;
  bool closeAsked = false;
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!ContextOf(bench.form->Job).Download_Active.load()) return;
    if (!closeAsked) {
      closeAsked = true;
      bench.form->close();
      return;
    }
    samples.push_back({true, bench.form->isVisible()});
  });
  timer.start();
  bench.Press();
  timer.stop();

  ASSERT_TRUE(closeAsked);
  ASSERT_FALSE(samples.empty()) << "no look at the window while the job ran";
  for (const Sample& s : samples) EXPECT_TRUE(s.Visible) << "the window went away during the job";
  EXPECT_FALSE(bench.form->isVisible());
  // The job itself ran to its end.
  EXPECT_TRUE(bench.messages.Texts().empty());
  EXPECT_EQ(bench.unit->DspMemory(), Bytes(dsp.begin() + sim::DSP_HEADER_SIZE,
                                           dsp.begin() + sim::DSP_HEADER_SIZE + sim::DSP_BODY_SIZE));
  EXPECT_FALSE(ContextOf(bench.form->Job).Link.ComPort_Opened.load());
}

// The port is held by another program: the open is refused, reported, and
// no job starts; the controls stay as they were.
TEST(DownloadJob, PortHeldElsewhereStartsNothing) {
  Bench bench;
  WriteFile(bench.File("dsp.bin"), sim::MakeSampleDspImage());
  bench.SetPaths(bench.File("dsp.bin"), "", "");
  bench.Tick(true, false, false);
  const std::unique_ptr<SerialPort> holder = OpenLinuxSerialPort(bench.unit->SlavePath(), lumo_test::TestPortConfig());
  ASSERT_TRUE(holder);

  bench.Press();

  EXPECT_EQ(bench.messages.Texts(), std::vector<QString>{QStringLiteral("Comport cannot open!!")});
  // Under the message, what the command line would say: who holds it.
  const std::vector<ShownMessageBox> boxes = bench.messages.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].details.contains(QStringLiteral(" is held by "))) << boxes[0].details.toStdString();
  EXPECT_TRUE(bench.statuses.empty()) << "a status text without a job";
  EXPECT_TRUE(bench.ControlsEnabled());
  EXPECT_FALSE(ContextOf(bench.form->Job).Link.ComPort_Opened.load());
  EXPECT_FALSE(ContextOf(bench.form->Job).Download_Active.load());
  EXPECT_FALSE(ContextOf(bench.form->Job).Worker_Busy.load());
  EXPECT_TRUE(bench.unit->WireBytes(sim::WireDirection::ToUnit).empty());
}

// No port found: the box still shows "Com Port". The conversion fails with
// the framework's exception display and nothing starts.
TEST(DownloadJob, PortBoxWithoutANumberStartsNothing) {
  lumo_test::ComFolder empty;
  const std::unique_ptr<PortFactory> ports = lumo_test::MakeTestPortFactory(empty.Path());
  MessageRecorder messages;
  QTemporaryDir folder;
  {
    TLumo_Q31NTX_DownloadAP form(folder.path(), ports.get());
    form.show();
    ASSERT_EQ(form.ComPort_ComboBox->count(), 0);
    ASSERT_EQ(form.ComPort_ComboBox->currentText(), QStringLiteral("Com Port"));
    form.DSP_CheckBox->setChecked(true);
    form.Processing_States->setText(QStringLiteral("before"));
    {
      Watchdog watchdog("a click without a port");
      QTest::mouseClick(form.DownLoadAP, Qt::LeftButton);
    }
    const std::vector<ShownMessageBox> boxes = messages.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
    EXPECT_EQ(boxes[0].text, QStringLiteral("'Com Port' is not a valid integer value."));
    EXPECT_FALSE(ContextOf(form.Job).Link.ComPort_Opened.load());
    EXPECT_FALSE(ContextOf(form.Job).Download_Active.load());
    EXPECT_FALSE(ContextOf(form.Job).Worker_Busy.load());
    EXPECT_FALSE(ContextOf(form.Job).Reader_Busy.load());
    EXPECT_TRUE(form.DownLoadAP->isEnabled());
    EXPECT_TRUE(form.ComPort_ComboBox->isEnabled());
    EXPECT_TRUE(form.BaudRate_ComboBox->isEnabled());
    EXPECT_EQ(form.Processing_States->text(), QStringLiteral("before"));
  }
}

}  // namespace
