#include "Lumo_Q31NTX_DownloadAP.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QShowEvent>
#include <QCheckBox>
#include <QEventLoop>
#include <QThread>

#include <future>

#include "DownloadJob.h"
#include "Framework.h"
#include "SavedPaths.h"
#include "SerialDeviceMap.h"
#include "SerialDeviceMapDetail.h"
#include "MessageTexts.h"
#include "PortDiagnosis.h"
#include "SerialPort.h"
#include "SettingsFolder.h"

namespace {

QString& ExecutableFolderOverride() {
  static QString folder;
  return folder;
}

bool OnWindowThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Data of a serial device map entry: the port number is its 4th character,
// converted alone; not a digit, or no 4th character, is 0.
int FourthCharacterNumber(const std::string& data) {
  if (data.size() < 4) return 0;
  const char c = data[3];
  return (c >= '0' && c <= '9') ? c - '0' : 0;
}

// Shown by a Browse whose chosen path holds a line break.
constexpr char kUnsavablePathMessage[] =
    "The chosen path contains a line break and cannot be saved. It is used until the tool is closed; "
    "rename the file or its folder to have it remembered.";

// The device path buffer holds 256 characters: "\\.\", the data and a zero.
constexpr size_t kMaxDataLength = 256 - 4 - 1;

}  // namespace

void EnsureTahomaFont() {
  // Once per process; without the font file Qt falls back to a similar face.
  [[maybe_unused]] static const bool once = [] {
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) {
      static_cast<void>(QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")));
    }
    return true;
  }();
}

void TLumo_Q31NTX_DownloadAP::SetExecutableFolderForTesting(const QString& folder) {
  ExecutableFolderOverride() = folder;
}

namespace {

QString ChosenExecutableFolder() {
  return ExecutableFolderOverride().isEmpty() ? ExecutableFolder() : ExecutableFolderOverride();
}

std::string LoaderStateFile(const QString& settingsFolder) {
  return (SavePathFolder(settingsFolder) + QStringLiteral("/LoaderState.txt")).toUtf8().toStdString();
}

QString ChosenSettingsFolder(const QString& executableFolder, const std::string& userConfigFolder) {
  return QString::fromUtf8(SettingsFolder(executableFolder.toUtf8().toStdString(), userConfigFolder));
}

}  // namespace

TLumo_Q31NTX_DownloadAP::TLumo_Q31NTX_DownloadAP(QWidget* Owner, PortFactory* ports,
                                                 const std::string& userConfigFolder)
    : QDialog(Owner),
      Executable_Folder(ChosenExecutableFolder()),
      Settings_Folder(ChosenSettingsFolder(Executable_Folder, userConfigFolder)),
      Own_Ports(ports ? nullptr : MakePlatformPortFactory(PortConfig{})),
      Ports(ports ? *ports : *Own_Ports),
      Loader_State(LoaderStateFile(Settings_Folder)),
      Session(Ports, &Loader_State),
      Job(Session, this) {
  // The layout.
  EnsureTahomaFont();
  setupUi(this);
  ApplyFontSizes();
  // bsDialog: a fixed-size dialog frame without minimise and maximise boxes.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(573, 312);
  OpenFile = new QFileDialog(this);
  OpenFile->setObjectName(QStringLiteral("OpenFile"));
  OpenFile->setFileMode(QFileDialog::AnyFile);
  OpenFile->setAcceptMode(QFileDialog::AcceptOpen);
  connect(ComPort_ComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
    ComPort_ComboBox->setToolTip(index >= 0 ? ComPort_ComboBox->itemData(index, Qt::ToolTipRole).toString()
                                            : QString());
  });
  // The fields start at zero, false or null; then the ports.
  DiscoverPorts();
}

TLumo_Q31NTX_DownloadAP::~TLumo_Q31NTX_DownloadAP() = default;

// The layout stores the fonts in points (8, 10, 12); the designed heights
// -11, -13 and -16 are pixels at 96 pixels per inch, whatever the display.
void TLumo_Q31NTX_DownloadAP::ApplyFontSizes() {
  const auto toPixels = [](QFont font) {
    if (font.pointSizeF() > 0) font.setPixelSize(qRound(font.pointSizeF() * 96.0 / 72.0));
    return font;
  };
  for (QWidget* child : findChildren<QWidget*>()) {
    if (child->testAttribute(Qt::WA_SetFont)) child->setFont(toPixels(child->font()));
  }
  setFont(toPixels(font()));
}

void TLumo_Q31NTX_DownloadAP::DiscoverPorts() {
  const auto map = Ports.ListPorts();  // nullopt: the key cannot be opened
  bool found = false;
  if (map) {
    for (const SerialDeviceEntry& entry : *map) {
      const int number = FourthCharacterNumber(entry.Data);
      if (number < 1 || number > 255) continue;
      if (entry.Data.size() > kMaxDataLength) continue;
      const auto device = ResolveDevicePath("\\\\.\\" + entry.Data, *map);
      if (!device) continue;
      if (!Ports.Probe(*device)) continue;  // absent, held elsewhere or refused; left as it was
      ComPort_ComboBox->addItem(QString::fromUtf8(entry.Data.substr(3)));
      const QString path = QString::fromUtf8(*device);
      const QFileInfo info(path);
      ComPort_ComboBox->setItemData(ComPort_ComboBox->count() - 1,
                                    info.isSymLink() ? path + QStringLiteral(" -> ") + info.symLinkTarget() : path,
                                    Qt::ToolTipRole);
      found = true;
    }
  }
  if (found) ComPort_ComboBox->setCurrentIndex(0);
}

QString TLumo_Q31NTX_DownloadAP::IniFilePath() const { return SavedPathsIniFile(Settings_Folder); }

void TLumo_Q31NTX_DownloadAP::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) RunEventHandler([this] { FormShow(this); });
}

// A form is not closed by Escape, as a dialog would be.
void TLumo_Q31NTX_DownloadAP::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TLumo_Q31NTX_DownloadAP::FormShow(QObject*) {
  const QString ini = IniFilePath();
  const QString absent = QString::asprintf("%i", 0);
  DSP_PATH_Edit->setText(ReadIniString(ini, kPathSection, kDspPathKey, absent));
  CM_PATH_Edit->setText(ReadIniString(ini, kPathSection, kCmPathKey, absent));
  Motor_PATH_Edit->setText(ReadIniString(ini, kPathSection, kMotorPathKey, absent));
  SetStatusText(TEXT_READY);
}

// Each handler shows what escapes it ("Unable to write to ...") with the
// exception display, before the exception could reach Qt's frames.
void TLumo_Q31NTX_DownloadAP::SelectDSPFileClick(QObject*) {
  RunEventHandler([this] { Browse(DSP_PATH_Edit, kDspPathKey); });
}
void TLumo_Q31NTX_DownloadAP::SelectCMFileClick(QObject*) {
  RunEventHandler([this] { Browse(CM_PATH_Edit, kCmPathKey); });
}
void TLumo_Q31NTX_DownloadAP::SelectMotorFileClick(QObject*) {
  RunEventHandler([this] { Browse(Motor_PATH_Edit, kMotorPathKey); });
}

void TLumo_Q31NTX_DownloadAP::Browse(QLineEdit* edit, const char* key) {
  // The shared dialog; it offers the file chosen last.
  if (OpenFile->exec() != QDialog::Accepted) return;
  const QStringList chosen = OpenFile->selectedFiles();
  if (chosen.isEmpty()) return;
  // Folder part followed by name part: the chosen file's full path.
  const QString fileName = QDir::toNativeSeparators(chosen.first());
  const qsizetype cut = fileName.lastIndexOf(QDir::separator()) + 1;
  edit->setText(fileName.left(cut) + fileName.mid(cut));
  OpenFile->selectFile(chosen.first());
  // A line break would split the key's line and lose the rest of the path:
  // the path serves this session only, and nothing on disk changes.
  if (!IniValueCanBeSaved(edit->text())) {
    ShowErrorBox(QString::fromLatin1(kUnsavablePathMessage));
    return;
  }
  // Result ignored: the write decides. Beside the executable that is one
  // level; a configuration folder may need its parents too.
  const QString folder = SavePathFolder(Settings_Folder);
  if (!QFileInfo(folder).isDir()) QDir().mkpath(folder);
  // Throws "Unable to write to <ini>" for the exception display.
  WriteIniString(IniFilePath(), kPathSection, key, edit->text());
}

// Under a port that did not open, what was found and what to do, as the
// command line gives it (this user not in the port's group, another program
// holding it, no such port).
QString TLumo_Q31NTX_DownloadAP::PortOpenAdvice() {
  const OpenFailure failure = DiagnoseOpenFailure(Job_Device, Ports);
  return QString::fromUtf8(failure.Detail + "\n\n" + failure.Hint);
}

void TLumo_Q31NTX_DownloadAP::ShowErrorMessage(const std::string& text) {
  const QString message = QString::fromUtf8(text);
  if (OnWindowThread()) {
    ShowErrorBox(message, text == TEXT_COMPORT_CANNOT_OPEN ? PortOpenAdvice() : QString());
    return;
  }
  // The window thread shows the box and keeps pumping; this thread waits.
  std::promise<void> closed;
  std::future<void> done = closed.get_future();
  QMetaObject::invokeMethod(
      this, [message, &closed] { OpenErrorBox(message, [&closed] { closed.set_value(); }); },
      Qt::QueuedConnection);
  done.wait();
}

void TLumo_Q31NTX_DownloadAP::SetStatusText(const std::string& text) {
  const QString status = QString::fromUtf8(text);
  if (OnWindowThread()) {
    FlushStatusTexts();
    Processing_States->setText(status);
    return;
  }
  bool post;
  {
    std::lock_guard<std::mutex> lock(Status_Lock);
    post = Status_Pending.empty();
    Status_Pending.push_back(status);
  }
  if (post) QMetaObject::invokeMethod(this, [this] { FlushStatusTexts(); }, Qt::QueuedConnection);
}

void TLumo_Q31NTX_DownloadAP::FlushStatusTexts() {
  std::vector<QString> texts;
  {
    std::lock_guard<std::mutex> lock(Status_Lock);
    texts.swap(Status_Pending);
  }
  for (const QString& text : texts) Processing_States->setText(text);
}

void TLumo_Q31NTX_DownloadAP::SetJobControlsEnabled(bool enabled) {
  DownLoadAP->setEnabled(enabled);
  ComPort_ComboBox->setEnabled(enabled);
  BaudRate_ComboBox->setEnabled(enabled);
}

void TLumo_Q31NTX_DownloadAP::JobStarted() { SetJobControlsEnabled(false); }

void TLumo_Q31NTX_DownloadAP::BaudRequestPosted(const BaudRequest& request) {
  // A queued call runs in every event loop of this thread, so a Browse dialog
  // or a message box that runs its own loop does not hold the job up. While
  // a refused rate's address set waits for the worker, this thread keeps
  // handling events: the worker may be waiting on one of its message boxes.
  QMetaObject::invokeMethod(
      this, [request] { request.Serve([] { QCoreApplication::processEvents(); }); }, Qt::QueuedConnection);
}

void TLumo_Q31NTX_DownloadAP::WaitForWorker(const WorkerEnd& end) {
  QEventLoop loop;
  Worker_Loop = &loop;
  // An end reached before this look has its quit still queued: it finds no loop.
  if (!end.Reached()) loop.exec();
  Worker_Loop = nullptr;
}

void TLumo_Q31NTX_DownloadAP::WorkerEnded() {
  // Queued behind the worker's last status texts, which are applied first.
  QMetaObject::invokeMethod(
      this, [this] { if (Worker_Loop) Worker_Loop->quit(); }, Qt::QueuedConnection);
}

void TLumo_Q31NTX_DownloadAP::DownLoadAPClick(QObject*) {
  RunEventHandler([this] {
    // A text that is not a number raises the framework's error: no job.
    ComPort_Number = StrToInt(ComPort_ComboBox->currentText());
    User_BaudRate = StrToInt(BaudRate_ComboBox->currentText());

    JobRequest request;
    // The port box's number names a device through the serial device map;
    // a number the map does not hold gives no device, which does not open.
    if (const auto map = Ports.ListPorts()) {
      request.Device = ResolveDevicePath("\\\\.\\COM" + std::to_string(ComPort_Number), *map).value_or(std::string());
    }
    request.User_BaudRate = User_BaudRate;
    const QCheckBox* boxes[] = {DSP_CheckBox, CM_CheckBox, Motor_CheckBox};
    const QLineEdit* edits[] = {DSP_PATH_Edit, CM_PATH_Edit, Motor_PATH_Edit};
    for (int i = 0; i < 3; ++i) {
      request.Targets[i].Selected = boxes[i]->isChecked();
      // The core takes paths as UTF-8.
      request.Targets[i].Path = edits[i]->text().toUtf8().toStdString();
    }
    Job_Device = request.Device;
    Job_Running = true;
    // The outcome has been shown to the user already, message by message; a
    // job that did what it was asked may still have something to say once.
    const JobOutcome outcome = RunDownloadJob(&Job, request);
    Job_Running = false;
    // After "Ready", which the job shows last.
    SetJobControlsEnabled(true);
    if (!outcome.Notice.empty()) ShowErrorBox(QString::fromUtf8(outcome.Notice), QString());
  });
  Job_Running = false;
  if (Close_Requested) {
    Close_Requested = false;
    close();
  }
}

void TLumo_Q31NTX_DownloadAP::closeEvent(QCloseEvent* event) {
  if (Job_Running) {
    Close_Requested = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}
