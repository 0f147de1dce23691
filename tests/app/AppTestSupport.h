// Helpers of the app tests: recording message boxes, answering the file dialog.
#pragma once

#include <QString>

#include <mutex>
#include <vector>

#include "Framework.h"

class TLumo_Q31NTX_DownloadAP;

// Records every box the program shows (instead of showing it) while it lives.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  std::vector<ShownMessageBox> Boxes() const;
  std::vector<QString> Texts() const;
  bool AllOnWindowThread() const;
  void Clear();  // forgets what was recorded so far

 private:
  mutable std::mutex lock_;
  std::vector<ShownMessageBox> boxes_;
  bool allOnWindowThread_ = true;
};

// Answers the form's next open-file dialog as soon as it shows: picks path,
// or cancels when path is empty.
void AnswerFileDialog(TLumo_Q31NTX_DownloadAP* form, const QString& path);

// Pumps events until done() holds or timeoutMs passed; returns done().
template <typename Done>
bool PumpUntil(Done done, int timeoutMs = 10000);

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <typename Done>
bool PumpUntil(Done done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return done();
}

#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
