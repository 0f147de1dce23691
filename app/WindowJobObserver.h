// The window's side of a running job (JobObserver): error boxes shown by the
// window thread while a worker waits for them, status texts handed over from
// other threads in order, the job's controls switched off while it runs, and
// the window thread kept responsive: it runs its event loop until the
// worker's end reaches it, and serves the worker's baud requests as calls
// queued into that thread. The window inherits it, so the window is the
// job's observer.
#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "StatusHandOver.h"

class QEventLoop;
class QLineEdit;
class QWidget;

class WindowJobObserver : public JobObserver {
 public:
  // Callable from any thread.
  void ShowErrorMessage(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  // The thread that runs the job (the window thread).
  void JobStarted() override;
  void WaitForWorker(const WorkerEnd& end) override;
  void JobClosed() override;
  // Worker thread.
  void BaudRequestPosted(const BaudRequest& request) override;
  void WorkerEnded() override;

  // Window thread: applies the status texts that other threads have handed
  // over and that are still pending, in order. SetStatusText on the window
  // thread does this first, so a worker's last text never lands after a text
  // that the window thread sets later ("Ready").
  void FlushStatusTexts();

 protected:
  // What of the window the observer uses; given once its controls exist.
  struct WindowParts {
    QWidget* Window = nullptr;      // receives the queued calls
    QLineEdit* Status = nullptr;    // the status box
    std::vector<QWidget*> JobControls;  // off while a job runs
    // Said under "Comport cannot open!!": what was found, what to do.
    std::function<std::string()> PortOpenAdvice;
  };
  void AttachWindow(WindowParts parts);

 private:
  void SetJobControlsEnabled(bool enabled);
  // Window thread: puts text in the status box.
  void Show(const std::string& text);
  WindowParts Parts;
  QEventLoop* Worker_Loop = nullptr;  // window thread only: runs until the worker's end
  StatusHandOver Status_Texts;
};
