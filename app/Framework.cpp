#include "Framework.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>

#include <memory>
#include <utility>

QString ApplicationTitle(const QString& executablePath) {
  QString name = executablePath;
  const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
  if (slash >= 0) name = name.mid(slash + 1);
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

QString ApplicationTitle() { return ApplicationTitle(ExecutablePath()); }

QString ExecutablePath() {
#ifdef Q_OS_LINUX
  // Works before the application object exists, and for a copy started through a link.
  return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
#else
  return QCoreApplication::applicationFilePath();  // GetModuleFileNameW on Windows
#endif
}

QString ExecutableFolder() { return QFileInfo(ExecutablePath()).absolutePath(); }

namespace {
QMutex hookMutex;
MessageBoxHook messageBoxHook;
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
  QMutexLocker lock(&hookMutex);
  messageBoxHook = std::move(hook);
}

bool HasMessageBoxHook() {
  QMutexLocker lock(&hookMutex);
  return static_cast<bool>(messageBoxHook);
}

void CallMessageBoxHook(const ShownMessageBox& box) {
  MessageBoxHook hook;
  {
    QMutexLocker lock(&hookMutex);
    hook = messageBoxHook;
  }
  if (hook) hook(box);
}

namespace {
QMessageBox* NewErrorBox(const QString& text, const QString& details) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Error"), text, QMessageBox::Ok);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (!details.isEmpty()) box->setInformativeText(details);
  return box;
}
}  // namespace

void ShowErrorBox(const QString& text, const QString& details) {
  if (HasMessageBoxHook()) {
    CallMessageBoxHook({ShownMessageBox::ErrorBox, QStringLiteral("Error"), text, details});
    return;
  }
  std::unique_ptr<QMessageBox> box(NewErrorBox(text, details));
  box->exec();
}

void OpenErrorBox(const QString& text, std::function<void()> closed, const QString& details) {
  if (HasMessageBoxHook()) {
    CallMessageBoxHook({ShownMessageBox::ErrorBox, QStringLiteral("Error"), text, details});
    closed();
    return;
  }
  QMessageBox* box = NewErrorBox(text, details);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)](int) { closed(); });
  box->show();
}

void ShowExceptionDisplay(const QString& message) {
  const ShownMessageBox shown{ShownMessageBox::ExceptionDisplay, ApplicationTitle(),
                              QString::fromUtf8(ExceptionDisplayText(message.toUtf8().toStdString())), QString()};
  if (HasMessageBoxHook()) {
    CallMessageBoxHook(shown);
    return;
  }
  QMessageBox box(QMessageBox::Critical, shown.caption, shown.text, QMessageBox::Ok);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.exec();
}

void ShowCurrentException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    ShowExceptionDisplay(QString::fromUtf8(e.Message()));
  } catch (...) {
    ShowExceptionDisplay(QString());
  }
}

int GuardedStartup(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    ShowCurrentException(std::current_exception());
  }
  return 0;
}

void RunEventHandler(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    ShowCurrentException(std::current_exception());
  }
}

LumoApplication::LumoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool LumoApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException(std::current_exception());
    return true;
  }
}
