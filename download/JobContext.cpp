#include "JobContext.h"

JobContext::JobContext(JobSession& session, JobObserver* ui) : Session(session), UI(ui), Link(session.Ports, this) {}

void JobContext::RequestStop() {
  Stop_Requested.store(true);
  // The gone-line path already does what a stop needs: nothing more is
  // written, routines add no message of their own, baud requests are refused
  // and the job fails.
  Link.Line_Gone.store(true);
}

void JobContext::ShowErrorMessage(const std::string& text) {
  {
    std::lock_guard<std::mutex> hold(Message_Lock);
    Shown_Messages.push_back(text);
  }
  if (UI) UI->ShowErrorMessage(text);
}

void JobContext::BaudRateRequested() {
  if (Clock_Serves_Baud) return;
  const BaudRequest request(Link);
  if (UI) {
    UI->BaudRequestPosted(request);
  } else {
    request.Serve();
  }
}

void JobContext::SetStatusText(const std::string& text) {
  if (UI) UI->SetStatusText(text);
}

std::vector<std::string> JobContext::Messages() const {
  std::lock_guard<std::mutex> hold(Message_Lock);
  return Shown_Messages;
}

void JobContext::ForgetMessages() {
  std::lock_guard<std::mutex> hold(Message_Lock);
  Shown_Messages.clear();
}

