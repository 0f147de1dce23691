#include "Framework.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>

#include <memory>
#include <utility>

Exception::Exception(QString message)
    : message_(std::move(message)), utf8_(message_.toStdString()) {}

int32_t StrToInt(const QString& text) {
  const auto invalid = [&text]() {
    return Exception(QStringLiteral("'%1' is not a valid integer value").arg(text));
  };
  int i = 0;
  const int n = static_cast<int>(text.size());
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
             (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
    hex = true;
    i += 2;
  }
  if (i >= n) throw invalid();
  uint64_t value = 0;
  for (; i < n; ++i) {
    const char16_t c = text[i].unicode();
    int digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (hex && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (hex && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      throw invalid();
    }
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) throw invalid();
  }
  if (hex) {
    // A hex number is the 32-bit pattern: $FFFFFFFF is -1.
    const auto bits = static_cast<int32_t>(static_cast<uint32_t>(value));
    return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(bits)) : bits;
  }
  if (negative) {
    if (value > 2147483648ull) throw invalid();
    return static_cast<int32_t>(-static_cast<int64_t>(value));
  }
  if (value > 2147483647ull) throw invalid();
  return static_cast<int32_t>(value);
}

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

QString ExceptionDisplayText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

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
                              ExceptionDisplayText(message), QString()};
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
    ShowExceptionDisplay(e.Message());
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
