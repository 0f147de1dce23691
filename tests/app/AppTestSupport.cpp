#include "AppTestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

#include "Lumo_Q31NTX_DownloadAP.h"

MessageRecorder::MessageRecorder() {
  SetMessageBoxHook([this](const ShownMessageBox& box) {
    std::lock_guard<std::mutex> guard(lock_);
    boxes_.push_back(box);
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) allOnWindowThread_ = false;
  });
}

MessageRecorder::~MessageRecorder() { SetMessageBoxHook(nullptr); }

std::vector<ShownMessageBox> MessageRecorder::Boxes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return boxes_;
}

std::vector<QString> MessageRecorder::Texts() const {
  std::vector<QString> texts;
  for (const ShownMessageBox& box : Boxes()) texts.push_back(box.text);
  return texts;
}

void MessageRecorder::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  boxes_.clear();
}

bool MessageRecorder::AllOnWindowThread() const {
  std::lock_guard<std::mutex> guard(lock_);
  return allOnWindowThread_;
}

void AnswerFileDialog(TLumo_Q31NTX_DownloadAP* form, const QString& path) {
  auto* timer = new QTimer(form);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, form, [form, timer, path] {
    QFileDialog* dialog = form->OpenFile;
    if (!dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    if (path.isEmpty()) {
      dialog->reject();
      return;
    }
    // As a user would: type the full path into the file name box, press Open.
    auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (nameEdit) {
      nameEdit->setText(path);
    } else {
      dialog->selectFile(path);
    }
    QMetaObject::invokeMethod(dialog, "accept");  // QFileDialog::accept, as the Open button
  });
  timer->start();
}
