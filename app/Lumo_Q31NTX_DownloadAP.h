// The one form of the tool: the dialog; it owns the download job it runs and
// is that job's observer (messages, status texts, its share of the job).
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "LoaderRecords.h"
#include "SerialPort.h"
#include "ui_Lumo_Q31NTX_DownloadAP.h"

class QEventLoop;
class QFileDialog;
class QLineEdit;

class TLumo_Q31NTX_DownloadAP : public QDialog, public Ui::Lumo_Q31NTX_DownloadAP, public JobObserver {
  Q_OBJECT

 public:
  // Published controls come from the layout (Ui::Lumo_Q31NTX_DownloadAP):
  // DSP_PATH_Edit, CM_PATH_Edit, Motor_PATH_Edit, DownLoadAP, DSP_CheckBox,
  // CM_CheckBox, Motor_CheckBox, SelectDSPFile, SelectCMFile, SelectMotorFile,
  // ComPort_ComboBox, BaudRate_ComboBox, ComPort, BaudRate,
  // Processing_States_Panel, Processing_States. The open-file dialog:
  QFileDialog* OpenFile = nullptr;

  // Loads the layout, zeroes the fields and lists the free COM ports of the
  // serial device map. ports: the port seam to use; null for the platform's
  // with its default folders. userConfigFolder: the user's configuration
  // folder for the tool, for SavePath/ when the executable's folder is not
  // writable; empty: none.
  explicit TLumo_Q31NTX_DownloadAP(QWidget* Owner = nullptr, PortFactory* ports = nullptr,
                                   const std::string& userConfigFolder = {});
  ~TLumo_Q31NTX_DownloadAP() override;

  // JobObserver. Messages and status texts from any thread; the window
  // stays responsive during a job by running its event loop until the
  // worker's end reaches it, and serves the worker's baud requests as calls
  // queued into that thread (they run in a dialog's own event loop too).
  void ShowErrorMessage(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void JobStarted() override;
  void BaudRequestPosted(const BaudRequest& request) override;
  void WaitForWorker(const WorkerEnd& end) override;
  void WorkerEnded() override;

  // The port box and baud box as numbers, set by the click handler.
  int32_t ComPort_Number = 0;
  int32_t User_BaudRate = 0;

  // Window thread: applies the status texts that other threads have handed
  // over and that are still pending, in order. SetStatusText on the window
  // thread does this first, so a worker's last text never lands after a text
  // that the window thread sets later ("Ready").
  void FlushStatusTexts();

  // The INI file of the saved paths, beside the executable.
  QString IniFilePath() const;

  // Test seam: the folder that forms created from now on take as the
  // executable's folder; empty (the default) means the real one.
  static void SetExecutableFolderForTesting(const QString& folder);

 public slots:
  // Published handlers; the show event and the Browse buttons'
  // clicks are bound to them.
  void FormShow(QObject* Sender = nullptr);
  void SelectDSPFileClick(QObject* Sender = nullptr);
  void SelectCMFileClick(QObject* Sender = nullptr);
  void SelectMotorFileClick(QObject* Sender = nullptr);
  void DownLoadAPClick(QObject* Sender = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Closing during a job keeps the window until the job has finished.
  void closeEvent(QCloseEvent* event) override;

 private:
  void ApplyFontSizes();
  void DiscoverPorts();
  void Browse(QLineEdit* edit, const char* key);
  QString Executable_Folder;
  // Holds SavePath/: the executable's folder while it is writable, else the
  // user's configuration folder for the tool (an installed tool).
  QString Settings_Folder;
  std::string Job_Device;  // the device the last job was to open
  QString PortOpenAdvice();
  std::unique_ptr<PortFactory> Own_Ports;  // when no seam was given
  PortFactory& Ports;
  // Boards whose loaders a job may have left listening, per port; kept in
  // SavePath beside the saved paths so that it outlives the run.
  LoaderRecords Loader_State;
  JobSession Session;

 public:
  // The job the form runs; one at a time.
  TDownloadJob Job;

 private:
  bool Job_Running = false;     // window thread only
  bool Close_Requested = false;  // window thread only
  QEventLoop* Worker_Loop = nullptr;  // window thread only: runs until the worker's end
  void SetJobControlsEnabled(bool enabled);
  std::mutex Status_Lock;
  std::vector<QString> Status_Pending;  // under Status_Lock
};

// The font the layout asks for; loads Tahoma from Debian's fonts-wine as an
// application font where the system has none. Idempotent.
void EnsureTahomaFont();
