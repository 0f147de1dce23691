// The status box's texts on their way from other threads to the window
// thread: in order, each window waking once per batch, and a text the box
// shows already, or will show next, dropped (the worker repeats a percentage
// once per block). Each view keeps one and shows what it hands over.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class StatusHandOver {
 public:
  // Any thread: queues text. True when the window thread must be woken for
  // it (nothing was pending); false when it is dropped or a wake is due already.
  bool Hand(const std::string& text);
  // Window thread: the pending texts, in order; none pending afterwards.
  std::vector<std::string> Take();
  // Window thread: the box shows text now.
  void Shown(const std::string& text);

 private:
  std::mutex Lock;
  std::vector<std::string> Pending;  // under Lock
  std::string Last_Shown;            // under Lock
};
