#include "WinJobObserver.h"

#include <future>
#include <memory>

#include "MessageTexts.h"
#include "WinText.h"

namespace {

struct PostedBox {
  std::string Text;
  std::promise<void> Closed;
};

}  // namespace

void ShowWinErrorBox(const std::string& text, const std::string& details) {
  const std::string shown = details.empty() ? text : text + "\n\n" + details;
  MessageBoxW(nullptr, Widen(shown).c_str(), L"Error", MB_OK);
}

void WinJobObserver::AttachWindow(WindowParts parts) { Parts = std::move(parts); }

bool WinJobObserver::OnWindowThread() const {
  return Parts.Window && GetWindowThreadProcessId(Parts.Window, nullptr) == GetCurrentThreadId();
}

void WinJobObserver::ShowErrorMessage(const std::string& text) {
  if (OnWindowThread()) {
    ShowWinErrorBox(text, text == TEXT_COMPORT_CANNOT_OPEN && Parts.PortOpenAdvice ? Parts.PortOpenAdvice() : "");
    return;
  }
  // The window thread shows the box and keeps dispatching; this thread waits.
  auto box = std::make_unique<PostedBox>();
  box->Text = text;
  std::future<void> closed = box->Closed.get_future();
  if (!Parts.Window || !PostMessageW(Parts.Window, WM_LUMO_ERROR_BOX, 0, reinterpret_cast<LPARAM>(box.get()))) {
    // No window to show it (gone, or its queue is full): an owner-less box needs none.
    ShowWinErrorBox(text);
    return;
  }
  box.release();  // the window thread owns it now
  closed.wait();
}

void WinJobObserver::SetStatusText(const std::string& text) {
  if (OnWindowThread()) {
    FlushStatusTexts();
    Show(text);
    return;
  }
  if (Status_Texts.Hand(text) && Parts.Window) PostMessageW(Parts.Window, WM_LUMO_STATUS, 0, 0);
}

void WinJobObserver::FlushStatusTexts() {
  for (const std::string& text : Status_Texts.Take()) Show(text);
}

void WinJobObserver::Show(const std::string& text) {
  if (Parts.Status) SetWindowTextW(Parts.Status, Widen(text).c_str());
  Status_Texts.Shown(text);
}

void WinJobObserver::SetJobControlsEnabled(bool enabled) {
  for (HWND control : Parts.JobControls) EnableWindow(control, enabled);
}

void WinJobObserver::JobStarted() { SetJobControlsEnabled(false); }

void WinJobObserver::JobClosed() { SetJobControlsEnabled(true); }

void WinJobObserver::BaudRequestPosted(const BaudRequest& request) {
  // A posted message is dispatched by every loop of the window thread, so an
  // open-file dialog or a message box that runs its own does not hold the job up.
  auto posted = std::make_unique<BaudRequest>(request);
  if (Parts.Window && PostMessageW(Parts.Window, WM_LUMO_BAUD, 0, reinterpret_cast<LPARAM>(posted.get()))) {
    posted.release();  // the window thread owns it now
    return;
  }
  request.Serve();
}

void WinJobObserver::Dispatch(MSG& message) {
  if (message.hwnd && Parts.Window && IsDialogMessageW(Parts.Window, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void WinJobObserver::PumpPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      Quit_Pending = true;
      Quit_Code = static_cast<int>(message.wParam);
      continue;
    }
    Dispatch(message);
  }
}

bool WinJobObserver::HandlePosted(UINT message, LPARAM lParam) {
  switch (message) {
    case WM_LUMO_STATUS:
      FlushStatusTexts();
      return true;
    case WM_LUMO_ERROR_BOX: {
      std::unique_ptr<PostedBox> box(reinterpret_cast<PostedBox*>(lParam));
      ShowWinErrorBox(box->Text,
                      box->Text == TEXT_COMPORT_CANNOT_OPEN && Parts.PortOpenAdvice ? Parts.PortOpenAdvice() : "");
      box->Closed.set_value();
      return true;
    }
    case WM_LUMO_BAUD: {
      const std::unique_ptr<BaudRequest> request(reinterpret_cast<BaudRequest*>(lParam));
      // While a refused rate's address set waits for the worker, this thread
      // keeps dispatching: the worker may be waiting on one of its boxes.
      request->Serve([this] { PumpPending(); });
      return true;
    }
    case WM_LUMO_WORKER_END:
      return true;  // it has woken the loop in WaitForWorker
    default:
      return false;
  }
}

void WinJobObserver::WaitForWorker(const WorkerEnd& end) {
  while (!end.Reached()) {
    MSG message;
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) {
      end.Block();  // no loop to run: wait for the end itself
      break;
    }
    if (got == 0) {
      // A quit while the job runs ends the program once the job is over.
      Quit_Pending = true;
      Quit_Code = static_cast<int>(message.wParam);
      continue;
    }
    Dispatch(message);
  }
}

void WinJobObserver::WorkerEnded() {
  // Queued behind the worker's last status texts, which are applied first.
  if (Parts.Window) PostMessageW(Parts.Window, WM_LUMO_WORKER_END, 0, 0);
}
