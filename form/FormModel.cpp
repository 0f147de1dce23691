#include "FormModel.h"

#include <filesystem>
#include <system_error>

#include "FrameworkRules.h"
#include "ImageFile.h"
#include "MessageTexts.h"
#include "PortDiagnosis.h"
#include "SavedPaths.h"
#include "SerialDeviceMap.h"
#include "SettingsFolder.h"

namespace {

constexpr FormControl kPathEdits[3] = {FormControl::DSP_PATH_Edit, FormControl::CM_PATH_Edit,
                                       FormControl::Motor_PATH_Edit};
constexpr FormControl kCheckBoxes[3] = {FormControl::DSP_CheckBox, FormControl::CM_CheckBox,
                                        FormControl::Motor_CheckBox};
constexpr const char* kPathKeys[3] = {kDspPathKey, kCmPathKey, kMotorPathKey};

std::string LoaderStateFile(const std::string& settingsFolder) {
  return SavePathFolder(settingsFolder) + "/LoaderState.txt";
}

}  // namespace

FormModel::FormModel(FormView& view, JobObserver& observer, const std::string& executableFolder,
                     PortFactory* ports, const std::string& userConfigFolder)
    : View(view),
      Observer(observer),
      Settings_Folder(SettingsFolder(executableFolder, userConfigFolder)),
      Own_Ports(ports ? nullptr : MakePlatformPortFactory(PortConfig{})),
      Ports(ports ? *ports : *Own_Ports),
      Loader_State(LoaderStateFile(Settings_Folder)),
      Session(Ports, &Loader_State),
      Job(Session, &observer) {
  for (int i = 0; i < 3; ++i) {
    Paths[i] = LayoutOf(kPathEdits[i]).Text;
    Selections[i] = LayoutOf(kCheckBoxes[i]).Checked;
  }
  Port_Text = LayoutOf(FormControl::ComPort_ComboBox).Text;
  Baud_Text = WindowLayout().BaudRates[static_cast<size_t>(WindowLayout().BaudRateIndex)];
}

template <typename Body>
void FormModel::Guarded(Body body) {
  try {
    body();
  } catch (const Exception& e) {
    View.ShowExceptionDisplay(e.Message());
  } catch (...) {
    // Anything else is shown as the framework's exception without a message.
    View.ShowExceptionDisplay(std::string());
  }
}

void FormModel::DiscoverPorts() {
  // The serial device map, read once; none (the key cannot be opened): no items.
  const std::vector<PortItem> items = ListFreePorts(Ports.ListPorts(), Ports);
  if (items.empty()) return;
  View.SetPortItems(items);
  Port_Text = items.front().Text;
}

std::string FormModel::IniFilePath() const { return SavedPathsIniFile(Settings_Folder); }

void FormModel::FormShow() {
  Guarded([this] {
    const std::string ini = IniFilePath();
    for (int i = 0; i < 3; ++i) {
      Paths[i] = ReadIniString(ini, kPathSection, kPathKeys[i], "0");
      View.SetControlText(kPathEdits[i], Paths[i]);
    }
    Observer.SetStatusText(TEXT_READY);
  });
}

void FormModel::Browse(PathIndex target) {
  // Shows "Unable to write to ..." with the exception display.
  Guarded([this, target] {
    // One dialog for the three buttons; it offers the file chosen last.
    const std::optional<std::string> chosen = View.AskForFile({"", "", "", Last_Chosen});
    if (!chosen) return;
    Paths[target] = *chosen;
    View.SetControlText(kPathEdits[target], *chosen);
    Last_Chosen = *chosen;
    // A line break would split the key's line and lose the rest of the path:
    // the path serves this session only, and nothing on disk changes.
    if (!IniValueCanBeSaved(*chosen)) {
      View.ShowErrorBox(kUnsavablePathMessage, std::string());
      return;
    }
    // Result ignored: the write decides. Beside the executable that is one
    // level; a configuration folder may need its parents too.
    std::error_code ec;
    const std::filesystem::path folder = PathFromUtf8(SavePathFolder(Settings_Folder));
    if (!std::filesystem::is_directory(folder, ec)) std::filesystem::create_directories(folder, ec);
    // Throws "Unable to write to <ini>".
    WriteIniString(IniFilePath(), kPathSection, kPathKeys[target], *chosen);
  });
}

std::string FormModel::PortOpenAdvice() {
  const OpenFailure failure = DiagnoseOpenFailure(Job_Device, Ports);
  return failure.Detail + "\n\n" + failure.Hint;
}

void FormModel::DownLoadAPClick() {
  Guarded([this] {
    // A text that is not a number raises the framework's error: no job.
    ComPort_Number = StrToInt(Port_Text);
    User_BaudRate = StrToInt(Baud_Text);

    JobRequest request;
    // The port box's number names a device through the serial device map;
    // a number the map does not hold gives no device, which does not open.
    if (const auto map = Ports.ListPorts()) {
      request.Device = ResolveDevicePath("\\\\.\\COM" + std::to_string(ComPort_Number), *map).value_or(std::string());
    }
    request.User_BaudRate = User_BaudRate;
    for (int i = 0; i < 3; ++i) {
      request.Targets[i].Selected = Selections[i];
      request.Targets[i].Path = Paths[i];
    }
    Job_Device = request.Device;
    Job_Running = true;
    // The outcome has been shown to the user already, message by message; a
    // job that did what it was asked may still have something to say once.
    const JobOutcome outcome = RunDownloadJob(&Job, request);
    Job_Running = false;
    if (!outcome.Notice.empty()) View.ShowErrorBox(outcome.Notice, std::string());
  });
  Job_Running = false;
}
