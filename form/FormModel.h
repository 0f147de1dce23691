// What the window does, without a toolkit: its fields, the port list, the
// saved paths, the Browse flow and the click handler's flow. A view binds its
// controls to it: it reports each change the user makes (SetPath, SetSelected,
// SetPortText, SetBaudText) and calls the handlers; the model sets the
// controls' texts through the FormView.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DownloadJob.h"
#include "FormView.h"
#include "LoaderRecords.h"
#include "SerialPort.h"

// Shown by a Browse whose chosen path holds a line break.
inline constexpr const char* kUnsavablePathMessage =
    "The chosen path contains a line break and cannot be saved. It is used until the tool is closed; "
    "rename the file or its folder to have it remembered.";

class FormModel {
 public:
  // executableFolder: the folder of the running program, where the settings
  // stay while it is writable. ports: the port seam; null for the platform's
  // with its default folders. userConfigFolder: the user's configuration
  // folder for the tool, for the settings when the executable's folder is
  // not writable; empty: none. Fields take the layout's initial texts and
  // ticks; nothing is shown yet.
  FormModel(FormView& view, JobObserver& observer, const std::string& executableFolder,
            PortFactory* ports = nullptr, const std::string& userConfigFolder = {});
  FormModel(const FormModel&) = delete;
  FormModel& operator=(const FormModel&) = delete;

  // The fields, as the controls show them.
  const std::string& Path(PathIndex target) const { return Paths[target]; }
  bool Selected(PathIndex target) const { return Selections[target]; }
  const std::string& PortText() const { return Port_Text; }
  const std::string& BaudText() const { return Baud_Text; }
  // The view's reports of the user's changes.
  void SetPath(PathIndex target, const std::string& path) { Paths[target] = path; }
  void SetSelected(PathIndex target, bool selected) { Selections[target] = selected; }
  void SetPortText(const std::string& text) { Port_Text = text; }
  void SetBaudText(const std::string& text) { Baud_Text = text; }

  // The port box and baud box as numbers, set by the click handler.
  int32_t ComPort_Number = 0;
  int32_t User_BaudRate = 0;

  // Window construction, once its controls exist: fills the port box with
  // the free COM ports of the serial device map.
  void DiscoverPorts();

  // The handlers. Each shows what escapes it with the exception display.
  // FormShow: the saved paths into the edits ("0" for none), then "Ready".
  void FormShow();
  // A Browse: asks for a file, shows it and saves it under the target's key.
  void Browse(PathIndex target);
  // Converts the port and baud texts, runs one job on the port, and shows
  // the job's notice if it has one. Returns when the job has ended.
  void DownLoadAPClick();

  // A job is running (inside DownLoadAPClick).
  bool JobRunning() const { return Job_Running; }

  // The settings folder (holds SavePath/) and the saved paths' INI file.
  const std::string& SettingsFolderPath() const { return Settings_Folder; }
  std::string IniFilePath() const;

  // Under a port that did not open: what was found and what to do, as the
  // command line gives it.
  std::string PortOpenAdvice();

 private:
  template <typename Body>
  void Guarded(Body body);

  FormView& View;
  JobObserver& Observer;  // the job's, which also shows the status texts
  std::string Settings_Folder;
  std::string Paths[3];
  bool Selections[3] = {};
  std::string Port_Text;
  std::string Baud_Text;
  std::string Last_Chosen;  // the file the last Browse chose, offered by the next
  std::string Job_Device;   // the device the last job was to open
  bool Job_Running = false;
  std::unique_ptr<PortFactory> Own_Ports;  // when no seam was given
  PortFactory& Ports;
  // Boards whose loaders a job may have left listening, per port; kept in
  // SavePath beside the saved paths so that it outlives the run.
  LoaderRecords Loader_State;
  JobSession Session;

 public:
  // The job the form runs; one at a time.
  TDownloadJob Job;
};
