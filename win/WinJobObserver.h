// The Win32 window's side of a running job (JobObserver), the same rule as
// the Qt window's: the worker's error boxes are shown by the window thread
// (owner-less MessageBoxW, whose own loop keeps dispatching the window's
// messages) while the worker waits for them to close; status texts from
// other threads are handed over in order through one posted message; the
// worker's baud requests are served on the window thread through a posted
// message; the window thread runs its message loop until the worker's end
// reaches it. No thread polls.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "StatusHandOver.h"

// The posted messages the window procedure hands to HandlePosted.
inline constexpr UINT WM_LUMO_STATUS = WM_APP + 1;      // status texts are pending
inline constexpr UINT WM_LUMO_ERROR_BOX = WM_APP + 2;   // lParam: a worker's box to show
inline constexpr UINT WM_LUMO_BAUD = WM_APP + 3;        // lParam: a baud request to serve
inline constexpr UINT WM_LUMO_WORKER_END = WM_APP + 4;  // wakes the loop that waits for the worker

class WinJobObserver : public JobObserver {
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

  // Window thread: applies the status texts still pending, in order.
  void FlushStatusTexts();
  // Window thread: one of the WM_LUMO_* messages; false for any other.
  bool HandlePosted(UINT message, LPARAM lParam);

  // Window thread: hands a message of a loop to the window's keyboard
  // navigation, or translates and dispatches it.
  void Dispatch(MSG& message);

 protected:
  struct WindowParts {
    HWND Window = nullptr;           // receives the posted messages
    HWND Status = nullptr;           // the status box
    std::vector<HWND> JobControls;   // off while a job runs
    // Said under "Comport cannot open!!": what was found, what to do.
    std::function<std::string()> PortOpenAdvice;
  };
  void AttachWindow(WindowParts parts);
  // A WM_QUIT that a loop waiting for the worker took: posted again once the job is over.
  bool Quit_Pending = false;
  int Quit_Code = 0;

 private:
  bool OnWindowThread() const;
  // Dispatches what is waiting, without waiting for more.
  void PumpPending();
  void SetJobControlsEnabled(bool enabled);
  void Show(const std::string& text);
  WindowParts Parts;
  StatusHandOver Status_Texts;
};

// The program's error box: no owner, caption "Error", no icon, one OK; the
// details, when given, under the text after a blank line.
void ShowWinErrorBox(const std::string& text, const std::string& details = {});
