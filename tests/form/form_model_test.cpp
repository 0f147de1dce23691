// The form model without a window: a recording view, a port seam with a
// fixed device map, the saved paths in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FormModel.h"
#include "JobContext.h"
#include "MessageTexts.h"
#include "SavedPaths.h"
#include "TempFolder.h"

namespace {

// Everything the model asks of its view and the job's observer, in order,
// as "kind: text".
class RecordingView : public FormView, public JobObserver {
 public:
  void SetControlText(FormControl control, const std::string& text) override {
    Log("text " + std::string(LayoutOf(control).Name) + ": " + text);
  }
  void SetPortItems(const std::vector<PortItem>& items) override {
    for (const PortItem& item : items) Log("item: " + item.Text + " (" + item.ToolTip + ")");
  }
  std::optional<std::string> AskForFile(const FileQuestion& question) override {
    Log("ask: offered '" + question.OfferedFile + "'");
    std::optional<std::string> answer;
    if (!answers.empty()) {
      answer = answers.front();
      answers.erase(answers.begin());
    }
    return answer;
  }
  void ShowErrorBox(const std::string& text, const std::string&) override { Log("box: " + text); }
  void ShowExceptionDisplay(const std::string& message) override { Log("exception: " + message); }
  void ShowErrorMessage(const std::string& text) override { Log("message: " + text); }
  void SetStatusText(const std::string& text) override { Log("status: " + text); }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.clear();
  }
  std::vector<std::optional<std::string>> answers;  // the file dialog's next answers; nullopt: cancel

 private:
  void Log(const std::string& call) {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(call);
  }
  std::mutex lock_;
  std::vector<std::string> calls_;
};

// A port seam over a fixed map: devices in `free` pass the probe; no port opens.
class MapPorts : public PortFactory {
 public:
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override { return map; }
  bool Probe(const std::string& devicePath) override { return free.count(devicePath) > 0; }
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override {
    opened.push_back(devicePath);
    return nullptr;
  }
  std::optional<std::vector<SerialDeviceEntry>> map = std::vector<SerialDeviceEntry>{};
  std::set<std::string> free;
  std::vector<std::string> opened;
};

class Model : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.Path().empty()); }
  std::string Ini() const { return folder_.Path() + "/SavePath/Save.ini"; }
  lumo_test::TempFolder folder_;
  RecordingView view_;
  MapPorts ports_;
};

}  // namespace

// A port or baud text that is no number: the framework's error, no port
// opened, no job, no status text.
TEST_F(Model, ClickWithATextThatIsNoNumberStartsNothing) {
  struct Case {
    const char* port;
    const char* baud;
    const char* shown;
  };
  const Case cases[] = {
      {"Com Port", "9600", "exception: 'Com Port' is not a valid integer value"},
      {"3", "fast", "exception: 'fast' is not a valid integer value"},
      {"", "9600", "exception: '' is not a valid integer value"},
      {"x", "y", "exception: 'x' is not a valid integer value"},  // the port is converted first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    FormModel model(view_, view_, folder_.Path(), &ports_);
    view_.Clear();
    model.SetPortText(c.port);
    model.SetBaudText(c.baud);
    model.DownLoadAPClick();
    EXPECT_EQ(view_.Calls(), std::vector<std::string>{c.shown});
    EXPECT_TRUE(ports_.opened.empty());
    EXPECT_FALSE(model.JobRunning());
    EXPECT_FALSE(ContextOf(model.Job).Download_Active.load());
  }
}

// The port number names a device through the map, in any of the framework's
// number forms; the job opens that device. A port that does not open ends
// the job with its message, before any status text.
TEST_F(Model, ClickOpensTheMappedDevice) {
  ports_.map = std::vector<SerialDeviceEntry>{{"/dev/a", "COM3"}, {"/dev/b", "COM12"}};
  FormModel model(view_, view_, folder_.Path(), &ports_);
  EXPECT_EQ(model.PortText(), "Com Port");
  EXPECT_EQ(model.BaudText(), "9600");
  model.SetPortText("0x0C");
  model.SetBaudText(" 115200");
  model.DownLoadAPClick();
  EXPECT_EQ(model.ComPort_Number, 12);
  EXPECT_EQ(model.User_BaudRate, 115200);
  EXPECT_EQ(ports_.opened, std::vector<std::string>{"/dev/b"});
  EXPECT_EQ(view_.Calls(), std::vector<std::string>{std::string("message: ") + TEXT_COMPORT_CANNOT_OPEN});
  EXPECT_FALSE(model.JobRunning());
}

// FormShow puts the saved paths into the edits ("0" for none) and then says
// "Ready"; a first start creates nothing.
TEST_F(Model, FormShowReadsTheSavedPaths) {
  FormModel model(view_, view_, folder_.Path(), &ports_);
  model.FormShow();
  EXPECT_EQ(view_.Calls(), (std::vector<std::string>{"text DSP_PATH_Edit: 0", "text CM_PATH_Edit: 0",
                                                     "text Motor_PATH_Edit: 0", "status: Ready"}));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Path()));
  std::filesystem::create_directory(folder_.File("SavePath"));
  std::ofstream(Ini()) << "[FILE_PATH]\nCM_PTAH=/c.bin\n";
  view_.Clear();
  model.FormShow();
  EXPECT_EQ(view_.Calls()[1], "text CM_PATH_Edit: /c.bin");
  EXPECT_EQ(model.Path(CM_PATH), "/c.bin");
  EXPECT_EQ(model.Path(DSP_PATH), "0");
}

// A Browse: what the view is asked and shown, and what reaches the file.
TEST_F(Model, BrowseShowsAndSavesTheChosenPath) {
  struct Case {
    const char* name;
    std::optional<std::string> answer;
    bool savePathIsAFile;
    std::vector<std::string> calls;  // after the question
    const char* saved;               // CM_PTAH afterwards; "none": absent
  };
  const std::string unsavable = std::string("box: ") + kUnsavablePathMessage;
  const Case cases[] = {
      {"cancel", std::nullopt, false, {}, "none"},
      {"a path", "/img/cm.bin", false, {"text CM_PATH_Edit: /img/cm.bin"}, "/img/cm.bin"},
      {"a line break: shown, not saved", "/img/c\nm.bin", false, {"text CM_PATH_Edit: /img/c\nm.bin", unsavable},
       "none"},
      {"SavePath is a plain file", "/img/cm.bin", true,
       {"text CM_PATH_Edit: /img/cm.bin", "exception: Unable to write to " + Ini()}, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(folder_.File("SavePath"));
    if (c.savePathIsAFile) std::ofstream(folder_.File("SavePath")) << "";
    FormModel model(view_, view_, folder_.Path(), &ports_);
    view_.Clear();
    view_.answers = {c.answer};
    model.Browse(CM_PATH);
    std::vector<std::string> expected = {"ask: offered ''"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(view_.Calls(), expected);
    EXPECT_EQ(ReadIniString(Ini(), kPathSection, kCmPathKey, "none"), c.saved);
    EXPECT_EQ(model.Path(CM_PATH), c.answer.value_or("CM_PATH_Edit"));
  }
}

// The dialog offers the file chosen last, whichever button chose it; a
// cancel keeps it.
TEST_F(Model, BrowseOffersTheLastChoice) {
  FormModel model(view_, view_, folder_.Path(), &ports_);
  view_.answers = {"/a.bin", std::nullopt, "/b.bin"};
  model.Browse(DSP_PATH);
  model.Browse(MOTOR_PATH);
  model.Browse(CM_PATH);
  model.Browse(DSP_PATH);
  std::vector<std::string> asked;
  for (const std::string& call : view_.Calls()) {
    if (call.rfind("ask:", 0) == 0) asked.push_back(call);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"ask: offered ''", "ask: offered '/a.bin'", "ask: offered '/a.bin'",
                                             "ask: offered '/b.bin'"}));
  EXPECT_EQ(ReadIniString(Ini(), kPathSection, kDspPathKey, "none"), "/a.bin");
  EXPECT_EQ(ReadIniString(Ini(), kPathSection, kCmPathKey, "none"), "/b.bin");
  EXPECT_EQ(ReadIniString(Ini(), kPathSection, kMotorPathKey, "none"), "none");
}

// The port box's items: the free ports of the map in map order, by the 4th
// character's test and the device path's length.
TEST(PortList, FreePortsOfTheMap) {
  struct Case {
    const char* name;
    std::optional<std::vector<SerialDeviceEntry>> map;
    std::set<std::string> free;
    std::vector<std::string> items;
  };
  const std::string long251 = "COM8" + std::string(247, '7'), long252 = "COM9" + std::string(248, '8');
  const Case cases[] = {
      {"no map", std::nullopt, {}, {}},
      {"the 4th character alone is tested; held ports are left out",
       std::vector<SerialDeviceEntry>{{"/d/7", "COM7"},
                                      {"/d/12", "COM12"},
                                      {"/d/0", "COM0"},
                                      {"/d/x", "COMx"},
                                      {"/d/co", "CO"},
                                      {"/d/held", "COM5"},
                                      {"/d/300", "COM300"}},
       {"/d/7", "/d/12", "/d/0", "/d/x", "/d/co", "/d/300"},
       {"7 (/d/7)", "12 (/d/12)", "300 (/d/300)"}},
      {"data of 251 characters is probed, 252 is skipped",
       std::vector<SerialDeviceEntry>{{"/d/long", long251}, {"/d/longer", long252}},
       {"/d/long", "/d/longer"},
       {long251.substr(3) + " (/d/long)"}},
      {"an entry is probed under the device its data resolves to",
       std::vector<SerialDeviceEntry>{{"/d/first", "COM4"}, {"/d/second", "COM4"}},
       {"/d/first", "/d/second"},
       {"4 (/d/first)", "4 (/d/first)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MapPorts ports;
    ports.free = c.free;
    std::vector<std::string> items;
    for (const PortItem& item : ListFreePorts(c.map, ports)) items.push_back(item.Text + " (" + item.ToolTip + ")");
    EXPECT_EQ(items, c.items);
  }
}

#ifndef _WIN32  // links to device nodes are the Linux map's
// The tooltip follows a link to its absolute target.
TEST(PortList, ToolTipNamesTheDeviceBehindALink) {
  lumo_test::TempFolder folder;
  ASSERT_FALSE(folder.Path().empty());
  std::filesystem::create_directory(folder.File("dev"));
  std::ofstream(folder.File("dev/ttyS0")).put('x');
  std::filesystem::create_symlink(folder.File("dev/ttyS0"), folder.File("COM1"));
  std::filesystem::create_symlink("dev/ttyS0", folder.File("COM2"));
  EXPECT_EQ(DeviceToolTip(folder.File("COM1")), folder.File("COM1") + " -> " + folder.File("dev/ttyS0"));
  EXPECT_EQ(DeviceToolTip(folder.File("COM2")), folder.File("COM2") + " -> " + folder.File("dev/ttyS0"));
  EXPECT_EQ(DeviceToolTip(folder.File("dev/ttyS0")), folder.File("dev/ttyS0"));
}
#endif
