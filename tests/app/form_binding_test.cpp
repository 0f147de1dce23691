// The Qt view reports what the user does to the form model: typed texts in
// the combo boxes, ticks, path texts; the click takes them from there.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "TestPortConfig.h"

namespace {

class FormBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(exe_.isValid());
    ASSERT_TRUE(com_.isValid());
    ports_ = lumo_test::MakeTestPortFactory(com_.path().toStdString());  // an empty map: no port
    form_ = std::make_unique<TLumo_Q31NTX_DownloadAP>(exe_.path(), ports_.get());
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void TearDown() override {
    form_.reset();
  }
  QTemporaryDir exe_, com_;
  std::unique_ptr<PortFactory> ports_;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form_;
};

}  // namespace

TEST_F(FormBinding, TypedAndChosenTextsReachTheClick) {
  struct Case {
    const char* name;
    void (*change)(TLumo_Q31NTX_DownloadAP&);
    QString shown;
  };
  const Case cases[] = {
      {"the port box as it starts", [](TLumo_Q31NTX_DownloadAP&) {},
       QStringLiteral("'Com Port' is not a valid integer value.")},
      {"a port typed over it",
       [](TLumo_Q31NTX_DownloadAP& form) {
         form.ComPort_ComboBox->lineEdit()->selectAll();
         QTest::keyClicks(form.ComPort_ComboBox->lineEdit(), QStringLiteral("COM7"));
       },
       QStringLiteral("'COM7' is not a valid integer value.")},
      {"a baud rate typed over it",
       [](TLumo_Q31NTX_DownloadAP& form) {
         form.ComPort_ComboBox->setEditText(QStringLiteral("7"));
         form.BaudRate_ComboBox->lineEdit()->selectAll();
         QTest::keyClicks(form.BaudRate_ComboBox->lineEdit(), QStringLiteral("96OO"));
       },
       QStringLiteral("'96OO' is not a valid integer value.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MessageRecorder recorder;
    c.change(*form_);
    QTest::mouseClick(form_->DownLoadAP, Qt::LeftButton);
    const auto boxes = recorder.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
    EXPECT_EQ(boxes[0].text, c.shown);
  }
  // A baud item chosen from the list, and the ticks and paths as set.
  form_->BaudRate_ComboBox->setCurrentIndex(10);
  form_->CM_CheckBox->setChecked(false);
  form_->Motor_PATH_Edit->setText(QStringLiteral("/m.bin"));
  EXPECT_EQ(form_->Model.BaudText(), "115200");
  EXPECT_FALSE(form_->Model.Selected(CM_PATH));
  EXPECT_TRUE(form_->Model.Selected(DSP_PATH));
  EXPECT_EQ(form_->Model.Path(MOTOR_PATH), "/m.bin");
}
