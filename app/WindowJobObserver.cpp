#include "WindowJobObserver.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QEventLoop>
#include <QThread>
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
  if (OnWindowThread()) {
    FlushStatusTexts();
    Show(text);
    return;
  }
  if (Status_Texts.Hand(text)) {
    QMetaObject::invokeMethod(Parts.Window, [this] { FlushStatusTexts(); }, Qt::QueuedConnection);
  }
}

void WindowJobObserver::FlushStatusTexts() {
  for (const std::string& text : Status_Texts.Take()) Show(text);
}

void WindowJobObserver::Show(const std::string& text) {
  Parts.Status->setText(QString::fromUtf8(text));
  Status_Texts.Shown(text);
}

void WindowJobObserver::SetJobControlsEnabled(bool enabled) {
  for (QWidget* control : Parts.JobControls) control->setEnabled(enabled);
}

void WindowJobObserver::JobStarted() { SetJobControlsEnabled(false); }

void WindowJobObserver::JobClosed() { SetJobControlsEnabled(true); }

void WindowJobObserver::BaudRequestPosted(const BaudRequest& request) {
  // A queued call runs in every event loop of this thread, so a Browse dialog
  // or a message box that runs its own loop does not hold the job up. While
  // a refused rate's address set waits for the worker, this thread keeps
  // handling events: the worker may be waiting on one of its message boxes.
  QMetaObject::invokeMethod(
      Parts.Window, [request] { request.Serve([] { QCoreApplication::processEvents(); }); }, Qt::QueuedConnection);
}

void WindowJobObserver::WaitForWorker(const WorkerEnd& end) {
  QEventLoop loop;
  Worker_Loop = &loop;
  // An end reached before this look has its quit still queued: it finds no loop.
  if (!end.Reached()) loop.exec();
  Worker_Loop = nullptr;
}

void WindowJobObserver::WorkerEnded() {
  // Queued behind the worker's last status texts, which are applied first.
  QMetaObject::invokeMethod(
      Parts.Window, [this] { if (Worker_Loop) Worker_Loop->quit(); }, Qt::QueuedConnection);
}
