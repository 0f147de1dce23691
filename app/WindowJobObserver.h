// The window's side of a running job (JobObserver): error boxes shown by the
// window thread while a worker waits for them, status texts handed over from
// other threads in order, the job's controls switched off, the pump step, and
// the timer that serves the job's baud requests in every event loop of the
// window thread. The window inherits it, so the window is the job's observer.
#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadJob.h"

class QLineEdit;
class QTimer;
class QWidget;

class WindowJobObserver : public JobObserver {
 public:
  // Callable from any thread.
  void ShowErrorMessage(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void ProcessPendingEvents() override;
  void SetJobControlsEnabled(bool enabled) override;
  void ApplyPendingStatus() override { FlushStatusTexts(); }

  // Window thread: applies the status texts that other threads have handed
  // over and that are still pending, in order. SetStatusText on the window
  // thread does this first, so a worker's last text never lands after a text
  // that the window thread sets later ("Ready").
  void FlushStatusTexts();

  // Serves the job's baud requests in nested event loops as well.
  QTimer* Baud_Timer = nullptr;

 protected:
  // What of the window the observer uses; given once its controls exist.
  struct WindowParts {
    QWidget* Window = nullptr;      // receives the queued calls; owns the timer
    QLineEdit* Status = nullptr;    // the status box
    std::vector<QWidget*> JobControls;  // off while a job runs
    SerialLink* Link = nullptr;     // whose baud requests the timer serves
    // Said under "Comport cannot open!!": what was found, what to do.
    std::function<std::string()> PortOpenAdvice;
  };
  void AttachWindow(WindowParts parts);

 private:
  WindowParts Parts;
  std::mutex Status_Lock;
  std::vector<QString> Status_Pending;  // under Status_Lock
};
