#include "Lumo_Q31NTX_DownloadAP.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

#include "Framework.h"
#include "Layout.h"

void EnsureTahomaFont() {
  // Once per process; without the font file Qt falls back to a similar face.
  [[maybe_unused]] static const bool once = [] {
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) {
      static_cast<void>(QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")));
    }
    return true;
  }();
}

TLumo_Q31NTX_DownloadAP::TLumo_Q31NTX_DownloadAP(const QString& executableFolder, PortFactory* ports,
                                                 const std::string& userConfigFolder, QWidget* Owner)
    : QDialog(Owner),
      Model(*this, *this, executableFolder.toUtf8().toStdString(), ports, userConfigFolder),
      Job(Model.Job) {
  EnsureTahomaFont();
  BuildControls();
  // bsDialog: a fixed-size dialog frame without minimise and maximise boxes.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(WindowLayout().ClientWidth, WindowLayout().ClientHeight);
  AttachWindow({this,
                Processing_States,
                {DownLoadAP, ComPort_ComboBox, BaudRate_ComboBox},
                [this] { return Model.PortOpenAdvice(); }});
  OpenFile = new QFileDialog(this);
  OpenFile->setObjectName(QStringLiteral("OpenFile"));
  OpenFile->setFileMode(QFileDialog::AnyFile);
  OpenFile->setAcceptMode(QFileDialog::AcceptOpen);
  BindControls();
  // The fields start at zero, false or null; then the ports.
  Model.DiscoverPorts();
}

TLumo_Q31NTX_DownloadAP::~TLumo_Q31NTX_DownloadAP() = default;

QWidget* TLumo_Q31NTX_DownloadAP::Control(FormControl control) const {
  return Controls[static_cast<size_t>(control)];
}

// Every control of the layout table, with its parent, rectangle, text, font
// and state; then the tab order.
void TLumo_Q31NTX_DownloadAP::BuildControls() {
  const FormLayout& layout = WindowLayout();
  setObjectName(QString::fromUtf8(layout.Name));
  resize(layout.ClientWidth, layout.ClientHeight);
  const auto fontOf = [&layout](int pixels) {
    QFont font;
    font.setFamilies({QString::fromUtf8(layout.FontFamily)});
    font.setPixelSize(pixels);
    return font;
  };
  setFont(fontOf(layout.FontHeight));
  setWindowTitle(QString::fromUtf8(layout.Caption));
  setSizeGripEnabled(false);
  for (const ControlLayout& c : layout.Controls) {
    QWidget* parent = c.Parent < 0 ? static_cast<QWidget*>(this) : Controls[static_cast<size_t>(c.Parent)];
    const QString text = QString::fromUtf8(c.Text);
    QWidget* widget = nullptr;
    switch (c.Kind) {
      case ControlKind::Label:
        widget = new QLabel(text, parent);
        break;
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, parent);
        edit->setReadOnly(c.ReadOnly);
        if (c.Align == TextAlign::Centre) edit->setAlignment(Qt::AlignCenter);
        widget = edit;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);  // Enter presses no button
        widget = button;
        break;
      }
      case ControlKind::CheckBox: {
        auto* box = new QCheckBox(text, parent);
        box->setChecked(c.Checked);
        widget = box;
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setMaxVisibleItems(layout.ComboMaxVisibleItems);
        combo->setInsertPolicy(QComboBox::NoInsert);
        if (!text.isEmpty()) combo->setCurrentText(text);
        widget = combo;
        break;
      }
      case ControlKind::Panel: {
        auto* frame = new QFrame(parent);
        frame->setFrameShape(QFrame::Panel);
        frame->setFrameShadow(QFrame::Raised);
        frame->setLineWidth(1);
        widget = frame;
        break;
      }
    }
    widget->setObjectName(QString::fromUtf8(c.Name));
    widget->setGeometry(c.Left, c.Top, c.Width, c.Height);
    if (c.FontHeight > 0) widget->setFont(fontOf(c.FontHeight));
    widget->setEnabled(c.Enabled);
    Controls.push_back(widget);
  }
  DSP_PATH_Edit = static_cast<QLineEdit*>(Control(FormControl::DSP_PATH_Edit));
  CM_PATH_Edit = static_cast<QLineEdit*>(Control(FormControl::CM_PATH_Edit));
  Motor_PATH_Edit = static_cast<QLineEdit*>(Control(FormControl::Motor_PATH_Edit));
  DownLoadAP = static_cast<QPushButton*>(Control(FormControl::DownLoadAP));
  DSP_CheckBox = static_cast<QCheckBox*>(Control(FormControl::DSP_CheckBox));
  CM_CheckBox = static_cast<QCheckBox*>(Control(FormControl::CM_CheckBox));
  Motor_CheckBox = static_cast<QCheckBox*>(Control(FormControl::Motor_CheckBox));
  SelectDSPFile = static_cast<QPushButton*>(Control(FormControl::SelectDSPFile));
  SelectCMFile = static_cast<QPushButton*>(Control(FormControl::SelectCMFile));
  SelectMotorFile = static_cast<QPushButton*>(Control(FormControl::SelectMotorFile));
  ComPort_ComboBox = static_cast<QComboBox*>(Control(FormControl::ComPort_ComboBox));
  BaudRate_ComboBox = static_cast<QComboBox*>(Control(FormControl::BaudRate_ComboBox));
  ComPort = static_cast<QLabel*>(Control(FormControl::ComPort));
  BaudRate = static_cast<QLabel*>(Control(FormControl::BaudRate));
  Processing_States_Panel = static_cast<QFrame*>(Control(FormControl::Processing_States_Panel));
  Processing_States = static_cast<QLineEdit*>(Control(FormControl::Processing_States));

  for (const char* rate : layout.BaudRates) BaudRate_ComboBox->addItem(QString::fromUtf8(rate));
  BaudRate_ComboBox->setCurrentIndex(layout.BaudRateIndex);

  std::vector<const ControlLayout*> stops;
  for (const ControlLayout& c : layout.Controls) {
    if (c.TabOrder >= 0) stops.push_back(&c);
  }
  std::sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
  for (size_t i = 1; i < stops.size(); ++i) {
    QWidget::setTabOrder(Control(stops[i - 1]->Id), Control(stops[i]->Id));
  }
}

// The user's changes go to the model; the buttons call the handlers.
void TLumo_Q31NTX_DownloadAP::BindControls() {
  QLineEdit* edits[] = {DSP_PATH_Edit, CM_PATH_Edit, Motor_PATH_Edit};
  QCheckBox* boxes[] = {DSP_CheckBox, CM_CheckBox, Motor_CheckBox};
  for (int i = 0; i < 3; ++i) {
    const auto target = static_cast<PathIndex>(i);
    // The core takes paths as UTF-8.
    connect(edits[i], &QLineEdit::textChanged, this,
            [this, target](const QString& text) { Model.SetPath(target, text.toUtf8().toStdString()); });
    connect(boxes[i], &QCheckBox::toggled, this, [this, target](bool on) { Model.SetSelected(target, on); });
  }
  // A typed text and a chosen item alike.
  for (auto signal : {&QComboBox::currentTextChanged, &QComboBox::editTextChanged}) {
    connect(ComPort_ComboBox, signal, this,
            [this](const QString& text) { Model.SetPortText(text.toUtf8().toStdString()); });
    connect(BaudRate_ComboBox, signal, this,
            [this](const QString& text) { Model.SetBaudText(text.toUtf8().toStdString()); });
  }
  connect(ComPort_ComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
    ComPort_ComboBox->setToolTip(index >= 0 ? ComPort_ComboBox->itemData(index, Qt::ToolTipRole).toString()
                                            : QString());
  });
  connect(SelectDSPFile, &QPushButton::clicked, this, [this] { SelectDSPFileClick(this); });
  connect(SelectCMFile, &QPushButton::clicked, this, [this] { SelectCMFileClick(this); });
  connect(SelectMotorFile, &QPushButton::clicked, this, [this] { SelectMotorFileClick(this); });
  connect(DownLoadAP, &QPushButton::clicked, this, [this] { DownLoadAPClick(this); });
}

QString TLumo_Q31NTX_DownloadAP::IniFilePath() const { return QString::fromUtf8(Model.IniFilePath()); }

void TLumo_Q31NTX_DownloadAP::SetControlText(FormControl control, const std::string& text) {
  QWidget* widget = Control(control);
  const QString value = QString::fromUtf8(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    combo->setCurrentText(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  }
}

void TLumo_Q31NTX_DownloadAP::SetPortItems(const std::vector<PortItem>& items) {
  for (const PortItem& item : items) {
    ComPort_ComboBox->addItem(QString::fromUtf8(item.Text));
    ComPort_ComboBox->setItemData(ComPort_ComboBox->count() - 1, QString::fromUtf8(item.ToolTip), Qt::ToolTipRole);
  }
  if (!items.empty()) ComPort_ComboBox->setCurrentIndex(0);
}

std::optional<std::string> TLumo_Q31NTX_DownloadAP::AskForFile(const FileQuestion& question) {
  if (!question.Title.empty()) OpenFile->setWindowTitle(QString::fromUtf8(question.Title));
  if (!question.Folder.empty()) OpenFile->setDirectory(QString::fromUtf8(question.Folder));
  if (!question.Filter.empty()) OpenFile->setNameFilter(QString::fromUtf8(question.Filter));
  // The dialog lives as long as the window, so it still offers the file it
  // was given after its last choice (question.OfferedFile).
  if (OpenFile->exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = OpenFile->selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  OpenFile->selectFile(chosen.first());
  return QDir::toNativeSeparators(chosen.first()).toUtf8().toStdString();
}

void TLumo_Q31NTX_DownloadAP::ShowErrorBox(const std::string& text, const std::string& details) {
  ::ShowErrorBox(QString::fromUtf8(text), QString::fromUtf8(details));
}

void TLumo_Q31NTX_DownloadAP::ShowExceptionDisplay(const std::string& message) {
  ::ShowExceptionDisplay(QString::fromUtf8(message));
}

void TLumo_Q31NTX_DownloadAP::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow(this);
}

// A form is not closed by Escape, as a dialog would be.
void TLumo_Q31NTX_DownloadAP::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

// The model shows what escapes a handler ("Unable to write to ...", "'x' is
// not a valid integer value") with the exception display, before an
// exception could reach Qt's frames.
void TLumo_Q31NTX_DownloadAP::FormShow(QObject*) { Model.FormShow(); }
void TLumo_Q31NTX_DownloadAP::SelectDSPFileClick(QObject*) { Model.Browse(DSP_PATH); }
void TLumo_Q31NTX_DownloadAP::SelectCMFileClick(QObject*) { Model.Browse(CM_PATH); }
void TLumo_Q31NTX_DownloadAP::SelectMotorFileClick(QObject*) { Model.Browse(MOTOR_PATH); }

void TLumo_Q31NTX_DownloadAP::DownLoadAPClick(QObject*) {
  Model.DownLoadAPClick();
  if (Close_Requested) {
    Close_Requested = false;
    close();
  }
}

void TLumo_Q31NTX_DownloadAP::closeEvent(QCloseEvent* event) {
  if (Model.JobRunning()) {
    Close_Requested = true;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}
