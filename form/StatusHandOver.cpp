#include "StatusHandOver.h"

bool StatusHandOver::Hand(const std::string& text) {
  std::lock_guard<std::mutex> hold(Lock);
  if (text == (Pending.empty() ? Last_Shown : Pending.back())) return false;
  Pending.push_back(text);
  return Pending.size() == 1;
}

std::vector<std::string> StatusHandOver::Take() {
  std::vector<std::string> texts;
  std::lock_guard<std::mutex> hold(Lock);
  texts.swap(Pending);
  return texts;
}

void StatusHandOver::Shown(const std::string& text) {
  std::lock_guard<std::mutex> hold(Lock);
  Last_Shown = text;
}
