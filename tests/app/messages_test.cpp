// The form as the job's user interface, called from a worker thread: error
// boxes shown by the window thread while it keeps pumping, status texts handed
// over in order and flushed before "Ready", path texts read on the window thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

#include "AppTestSupport.h"
#include "JobContext.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "Progress.h"
#include "TestPortConfig.h"

namespace {

class FormAsUserInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(exe_.isValid());
    ASSERT_TRUE(com_.isValid());
    ports_ = lumo_test::MakeTestPortFactory(com_.path().toStdString());
    form_ = std::make_unique<TLumo_Q31NTX_DownloadAP>(exe_.path(), ports_.get());
    form_->show();
  }
  void TearDown() override {
    form_.reset();
  }
  QMessageBox* VisibleMessageBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    }
    return nullptr;
  }
  QTemporaryDir exe_, com_;
  std::unique_ptr<PortFactory> ports_;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form_;
};

}  // namespace

TEST_F(FormAsUserInterface, WorkerMessagesInOrderOnTheWindowThread) {
  MessageRecorder recorder;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    form_->ShowErrorMessage("No File Selected !!");
    form_->ShowErrorMessage("Download Error !!");
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].kind, ShownMessageBox::ErrorBox);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("No File Selected !!"));
  EXPECT_EQ(boxes[1].text, QStringLiteral("Download Error !!"));
  EXPECT_TRUE(recorder.AllOnWindowThread());
}

TEST_F(FormAsUserInterface, WorkerBoxBlocksTheWorkerWhileTheWindowThreadPumps) {
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    form_->ShowErrorMessage("Open DSP FW File  Error !!");
    returned = true;
  });
  QMessageBox* box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = VisibleMessageBox()) != nullptr; }));
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Error"));
  EXPECT_EQ(box->text(), QStringLiteral("Open DSP FW File  Error !!"));
  EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
  EXPECT_EQ(box->parentWidget(), nullptr);
  ASSERT_EQ(box->buttons().size(), 1);
  EXPECT_EQ(box->standardButton(box->buttons().front()), QMessageBox::Ok);
  // The window thread goes on serving events while the box is up; the worker waits.
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(2);
  PumpUntil([&] { return ticks >= 10; }, 2000);
  EXPECT_GE(ticks, 10);
  EXPECT_FALSE(returned.load());
  // A status text set meanwhile still lands.
  std::thread([&] { form_->SetStatusText("37 %"); }).join();
  EXPECT_TRUE(PumpUntil([&] { return form_->Processing_States->text() == QStringLiteral("37 %"); }));
  box->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
  worker.join();
}

TEST_F(FormAsUserInterface, WindowThreadBoxIsModalAndReturnsWhenClosed) {
  bool seen = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QMessageBox* box = VisibleMessageBox()) {
      seen = box->text() == QStringLiteral("Comport cannot open!!") && box->windowTitle() == QStringLiteral("Error") &&
             box->isModal();
      box->button(QMessageBox::Ok)->click();
    }
  });
  closer.start(5);
  form_->ShowErrorMessage("Comport cannot open!!");
  EXPECT_TRUE(seen);
}

TEST_F(FormAsUserInterface, StatusTextsKeepTheirOrderAndReadyComesLast) {
  for (int round = 0; round < 20; ++round) {
    std::thread worker([&] {
      for (int p = 0; p < 100; ++p) form_->SetStatusText(std::to_string(p) + " %");
      form_->SetStatusText("100 %");
    });
    worker.join();
    // The click handler writes "Ready" on the window thread without pumping
    // first: the worker's texts are applied before it, never after.
    form_->SetStatusText("Ready");
    EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("Ready"));
    QCoreApplication::processEvents();
    EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("Ready"));
  }
  // And a text from the worker is shown while the window thread pumps.
  std::atomic<bool> sent{false};
  std::thread worker([&] {
    form_->SetStatusText("100 %");
    sent = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return sent && form_->Processing_States->text() == QStringLiteral("100 %"); }));
  worker.join();
  form_->SetStatusText("x");
  form_->FlushStatusTexts();
  EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("x"));
}

TEST_F(FormAsUserInterface, ShowProgressFromTheWorker) {
  ContextOf(form_->Job).Progress_Base = 0;
  ContextOf(form_->Job).Progress_Segment = 0.0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 382; ++i) ShowProgress(&ContextOf(form_->Job), 0, 100.0, 382, i);
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  form_->FlushStatusTexts();
  EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("99 %"));
}

