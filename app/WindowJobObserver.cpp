#include "WindowJobObserver.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <future>

#include "Framework.h"
#include "MessageTexts.h"

namespace {

bool OnWindowThread() {
  return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

void WindowJobObserver::AttachWindow(WindowParts parts) {
  Parts = std::move(parts);
  Baud_Timer = new QTimer(Parts.Window);
  Baud_Timer->setInterval(BAUD_SERVICE_PERIOD);
  Baud_Timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(Baud_Timer, &QTimer::timeout, Parts.Window, [this] { ServeBaudRequest(Parts.Link); });
}

void WindowJobObserver::ShowErrorMessage(const std::string& text) {
  const QString message = QString::fromUtf8(text);
  if (OnWindowThread()) {
    ShowErrorBox(message, text == TEXT_COMPORT_CANNOT_OPEN ? QString::fromUtf8(Parts.PortOpenAdvice()) : QString());
    return;
  }
  // The window thread shows the box and keeps pumping; this thread waits.
  std::promise<void> closed;
  std::future<void> done = closed.get_future();
  QMetaObject::invokeMethod(
      Parts.Window, [message, &closed] { OpenErrorBox(message, [&closed] { closed.set_value(); }); },
      Qt::QueuedConnection);
  done.wait();
}

void WindowJobObserver::SetStatusText(const std::string& text) {
  const QString status = QString::fromUtf8(text);
  if (OnWindowThread()) {
    FlushStatusTexts();
    Parts.Status->setText(status);
    return;
  }
  bool post;
  {
    std::lock_guard<std::mutex> lock(Status_Lock);
    post = Status_Pending.empty();
    Status_Pending.push_back(status);
  }
  if (post) QMetaObject::invokeMethod(Parts.Window, [this] { FlushStatusTexts(); }, Qt::QueuedConnection);
}

void WindowJobObserver::FlushStatusTexts() {
  std::vector<QString> texts;
  {
    std::lock_guard<std::mutex> lock(Status_Lock);
    texts.swap(Status_Pending);
  }
  for (const QString& text : texts) Parts.Status->setText(text);
}

void WindowJobObserver::SetJobControlsEnabled(bool enabled) {
  // While a job runs, its baud requests are served from a timer too: timers
  // fire in every event loop of this thread, so a Browse dialog or a message
  // box that runs its own loop does not hold the job up.
  if (enabled) {
    Baud_Timer->stop();
  } else {
    Baud_Timer->start();
  }
  for (QWidget* control : Parts.JobControls) control->setEnabled(enabled);
}

void WindowJobObserver::ProcessPendingEvents() {
  if (OnWindowThread()) QCoreApplication::processEvents();
}
