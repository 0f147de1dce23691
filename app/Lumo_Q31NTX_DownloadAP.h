// The one form of the tool as a Qt dialog: a view of the form model. It
// builds its controls from the layout table, reports the user's changes to
// the model, shows what the model asks for (texts, boxes, the open-file
// dialog) and, through WindowJobObserver, is the observer of the model's job.
#pragma once

// The published controls' classes, for whoever uses the controls.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "FormModel.h"
#include "FormView.h"
#include "WindowJobObserver.h"

class TLumo_Q31NTX_DownloadAP : public QDialog, public FormView, public WindowJobObserver {
  Q_OBJECT

 public:
  // Published controls, made from the layout table.
  QLineEdit* DSP_PATH_Edit = nullptr;
  QLineEdit* CM_PATH_Edit = nullptr;
  QLineEdit* Motor_PATH_Edit = nullptr;
  QPushButton* DownLoadAP = nullptr;
  QCheckBox* DSP_CheckBox = nullptr;
  QCheckBox* CM_CheckBox = nullptr;
  QCheckBox* Motor_CheckBox = nullptr;
  QPushButton* SelectDSPFile = nullptr;
  QPushButton* SelectCMFile = nullptr;
  QPushButton* SelectMotorFile = nullptr;
  QComboBox* ComPort_ComboBox = nullptr;
  QComboBox* BaudRate_ComboBox = nullptr;
  QLabel* ComPort = nullptr;
  QLabel* BaudRate = nullptr;
  // The open-file dialog shared by the three Browse buttons.
  QFileDialog* OpenFile = nullptr;
  QFrame* Processing_States_Panel = nullptr;
  QLineEdit* Processing_States = nullptr;

  // Builds the controls, zeroes the fields and lists the free COM ports of
  // the serial device map. executableFolder: the running program's folder
  // (the settings stay there while it is writable); ports: the port seam to
  // use, null for the platform's.
  explicit TLumo_Q31NTX_DownloadAP(const QString& executableFolder, PortFactory* ports = nullptr,
                                   const std::string& userConfigFolder = {}, QWidget* Owner = nullptr);
  ~TLumo_Q31NTX_DownloadAP() override;

  // The INI file of the saved paths.
  QString IniFilePath() const;

  // FormView.
  void SetControlText(FormControl control, const std::string& text) override;
  void SetPortItems(const std::vector<PortItem>& items) override;
  std::optional<std::string> AskForFile(const FileQuestion& question) override;
  void ShowErrorBox(const std::string& text, const std::string& details) override;
  void ShowExceptionDisplay(const std::string& message) override;

 public slots:
  // Published handlers; the show event and the buttons' clicks are bound to them.
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
  void BuildControls();
  void BindControls();
  QWidget* Control(FormControl control) const;
  std::vector<QWidget*> Controls;  // by FormControl
  bool Close_Requested = false;     // window thread only

 public:
  // What the window does; the view only shows it.
  FormModel Model;
  // The job the form runs (the model's); one at a time.
  TDownloadJob& Job;
};

// The font the layout asks for; loads Tahoma from Debian's fonts-wine as an
// application font where the system has none. Idempotent.
void EnsureTahomaFont();
