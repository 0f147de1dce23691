// The layout table, checked on the real form (offscreen).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "JobContext.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "TestPortConfig.h"

namespace {

enum State : unsigned {
  kNone = 0,
  kReadOnly = 1,
  kTicked = 2,
  kDisabledCentred = 4,
  kRaisedPanel = 8,
};

struct Row {
  const char* name;
  const char* className;
  int left, top, width, height;
  const char* text;
  int pixelHeight;  // 11 is the window's font
  int tabOrder;     // -1: takes no focus
  unsigned state;
};

const Row kRows[] = {
    {"ComPort", "QLabel", 231, 213, 53, 16, "ComPort ", 13, -1, kNone},
    {"BaudRate", "QLabel", 332, 213, 67, 16, "Baud Rate :", 13, -1, kNone},
    {"DSP_PATH_Edit", "QLineEdit", 8, 31, 457, 27, "DSP_PATH_Edit", 16, 0, kReadOnly},
    {"CM_PATH_Edit", "QLineEdit", 8, 95, 457, 27, "CM_PATH_Edit", 16, 1, kReadOnly},
    {"Motor_PATH_Edit", "QLineEdit", 8, 159, 457, 27, "Motor_PATH_Edit", 16, 2, kReadOnly},
    {"DownLoadAP", "QPushButton", 427, 211, 129, 70, "DownLoad AP", 16, 3, kNone},
    {"DSP_CheckBox", "QCheckBox", 8, 8, 177, 17, "Select DSP *.bin File", 16, 4, kTicked},
    {"CM_CheckBox", "QCheckBox", 8, 72, 169, 17, "Select CM *.bin File", 16, 5, kTicked},
    {"Motor_CheckBox", "QCheckBox", 8, 136, 177, 17, "Select Motor *.bin File", 16, 6, kTicked},
    {"SelectDSPFile", "QPushButton", 481, 31, 75, 27, "Browse", 11, 7, kNone},
    {"SelectCMFile", "QPushButton", 479, 95, 75, 27, "Browse", 11, 8, kNone},
    {"SelectMotorFile", "QPushButton", 481, 159, 75, 27, "Browse", 11, 9, kNone},
    {"ComPort_ComboBox", "QComboBox", 224, 235, 77, 24, "Com Port", 13, 10, kNone},
    {"BaudRate_ComboBox", "QComboBox", 324, 235, 85, 24, "9600", 13, 11, kNone},
    {"Processing_States_Panel", "QFrame", 8, 212, 210, 70, "", 11, -1, kRaisedPanel},
    {"Processing_States", "QLineEdit", 11, 20, 184, 27, "Processing_States", 16, -1, kDisabledCentred},
};

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
  return QString();
}

class Layout : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    ASSERT_TRUE(comFolder_.isValid());
    ports_ = lumo_test::MakeTestPortFactory(comFolder_.path().toStdString());  // an empty map: no port
    form_ = std::make_unique<TLumo_Q31NTX_DownloadAP>(folder_.path(), ports_.get());
  }
  void TearDown() override {
    form_.reset();
  }
  QTemporaryDir folder_;
  QTemporaryDir comFolder_;
  std::unique_ptr<PortFactory> ports_;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form_;
};

}  // namespace

TEST_F(Layout, Window) {
  TLumo_Q31NTX_DownloadAP& form = *form_;
  EXPECT_EQ(form.objectName(), QStringLiteral("Lumo_Q31NTX_DownloadAP"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Lumo Download Tool Ver3.00"));
  EXPECT_EQ(form.size(), QSize(573, 312));
  EXPECT_EQ(form.minimumSize(), QSize(573, 312));
  EXPECT_EQ(form.maximumSize(), QSize(573, 312));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_EQ(form.parentWidget(), nullptr);
  EXPECT_EQ(QFontInfo(form.font()).family(), QStringLiteral("Tahoma"));
  EXPECT_EQ(form.font().pixelSize(), 11);
  ASSERT_NE(form.OpenFile, nullptr);
  EXPECT_EQ(form.OpenFile->fileMode(), QFileDialog::AnyFile);
  // No filter of its own: every file is listed.
  EXPECT_TRUE(form.OpenFile->nameFilters().join(QString()).contains(QLatin1Char('*')))
      << form.OpenFile->nameFilters().join(QLatin1Char('|')).toStdString();
  EXPECT_FALSE(form.OpenFile->options() & QFileDialog::ReadOnly);
  EXPECT_EQ(ContextOf(form.Job).UI, static_cast<JobObserver*>(&form));
}

TEST_F(Layout, EveryControlAsInTheTable) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    auto* w = form_->findChild<QWidget*>(QString::fromLatin1(row.name));
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), row.className);
    EXPECT_EQ(w->geometry(), QRect(row.left, row.top, row.width, row.height));
    EXPECT_EQ(TextOf(w), QString::fromUtf8(row.text));
    EXPECT_EQ(w->font().pixelSize(), row.pixelHeight);
    EXPECT_EQ(QFontInfo(w->font()).family(), QStringLiteral("Tahoma"));
    const bool inPanel = QByteArray(row.name) == "Processing_States";
    EXPECT_EQ(w->parentWidget(), inPanel ? form_->Processing_States_Panel : static_cast<QWidget*>(form_.get()));
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(edit->isReadOnly(), (row.state & kReadOnly) != 0);
      EXPECT_EQ(edit->isEnabled(), (row.state & kDisabledCentred) == 0);
      EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask,
                (row.state & kDisabledCentred) ? Qt::AlignHCenter : Qt::AlignLeft);
    } else {
      EXPECT_TRUE(w->isEnabled());
    }
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
      EXPECT_EQ(box->isChecked(), (row.state & kTicked) != 0);
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      EXPECT_FALSE(button->autoDefault());  // Enter does not press a button
      EXPECT_FALSE(button->isDefault());
    }
    if (auto* frame = qobject_cast<QFrame*>(w); frame && (row.state & kRaisedPanel)) {
      EXPECT_EQ(frame->frameShape(), QFrame::Panel);
      EXPECT_EQ(frame->frameShadow(), QFrame::Raised);
      EXPECT_EQ(frame->lineWidth(), 1);
    }
    if (row.tabOrder < 0) {
      EXPECT_FALSE(w->isEnabled() && (w->focusPolicy() & Qt::TabFocus));
    }
  }
}

TEST_F(Layout, StatusBoxIsCentredInsideItsPanel) {
  const QRect box = form_->Processing_States->geometry();
  const QRect panel = form_->Processing_States_Panel->rect();
  EXPECT_TRUE(panel.contains(box));
  EXPECT_LE(std::abs((box.center().x() - panel.center().x())), 2);
}

TEST_F(Layout, ComboBoxes) {
  for (QComboBox* combo : {form_->ComPort_ComboBox, form_->BaudRate_ComboBox}) {
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(combo->maxVisibleItems(), 8);
    EXPECT_EQ(combo->insertPolicy(), QComboBox::NoInsert);
    ASSERT_NE(combo->completer(), nullptr);  // typed text completes from the items
  }
  EXPECT_EQ(form_->ComPort_ComboBox->count(), 0);
  EXPECT_EQ(form_->ComPort_ComboBox->currentIndex(), -1);
  const QStringList bauds = {"110",   "600",   "1200",  "2400",   "4800",   "9600",  "14400",
                             "19200", "38400", "57600", "115200", "230400", "460800"};
  QStringList items;
  for (int i = 0; i < form_->BaudRate_ComboBox->count(); ++i) items << form_->BaudRate_ComboBox->itemText(i);
  EXPECT_EQ(items, bauds);
  EXPECT_EQ(form_->BaudRate_ComboBox->currentIndex(), 5);
  EXPECT_EQ(form_->BaudRate_ComboBox->currentText(), QStringLiteral("9600"));
}

TEST_F(Layout, TabOrder) {
  const QWidget* expected[] = {form_->DSP_PATH_Edit,    form_->CM_PATH_Edit,      form_->Motor_PATH_Edit,
                               form_->DownLoadAP,       form_->DSP_CheckBox,      form_->CM_CheckBox,
                               form_->Motor_CheckBox,   form_->SelectDSPFile,     form_->SelectCMFile,
                               form_->SelectMotorFile,  form_->ComPort_ComboBox,  form_->BaudRate_ComboBox};
  form_->show();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->DSP_PATH_Edit->setFocus();
  ASSERT_TRUE(PumpUntil([&] { return form_->DSP_PATH_Edit->hasFocus(); }, 2000));
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 12; ++i) {
      const QWidget* focused = QApplication::focusWidget();
      EXPECT_EQ(focused, expected[i]) << "step " << i << ": " << (focused ? focused->objectName().toStdString() : "none");
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
  }
  EXPECT_FALSE(form_->Processing_States->hasFocus());
}

TEST_F(Layout, ShowingTheFormRunsFormShow) {
  form_->show();
  EXPECT_EQ(form_->DSP_PATH_Edit->text(), QStringLiteral("0"));
  EXPECT_EQ(form_->CM_PATH_Edit->text(), QStringLiteral("0"));
  EXPECT_EQ(form_->Motor_PATH_Edit->text(), QStringLiteral("0"));
  EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("Ready"));
}

TEST_F(Layout, EscapeAndEnterDoNotCloseTheWindow) {
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  QTest::keyClick(form_.get(), Qt::Key_Escape);
  QTest::keyClick(form_->DSP_PATH_Edit, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_TRUE(form_->isVisible());
}
