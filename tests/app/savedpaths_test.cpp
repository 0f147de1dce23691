// Saved paths against real files: the form takes a temporary
// folder as its executable's folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "SavedPaths.h"

namespace {

class SavedPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(exe_.isValid());
    ASSERT_TRUE(com_.isValid());
    ASSERT_TRUE(images_.isValid());
    qputenv("LUMO_COMPORT_DIR", com_.path().toLocal8Bit());
    TLumo_Q31NTX_DownloadAP::SetExecutableFolderForTesting(exe_.path());
  }
  void TearDown() override {
    form_.reset();
    TLumo_Q31NTX_DownloadAP::SetExecutableFolderForTesting(QString());
    qunsetenv("LUMO_COMPORT_DIR");
  }
  // A start of the tool: a new form, shown.
  TLumo_Q31NTX_DownloadAP& Start() {
    form_.reset();
    form_ = std::make_unique<TLumo_Q31NTX_DownloadAP>();
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    return *form_;
  }
  // Presses a Browse button with the mouse; the dialog picks path (empty: cancel).
  void Browse(QPushButton* button, const QString& path) {
    AnswerFileDialog(form_.get(), path);
    QTest::mouseClick(button, Qt::LeftButton);
  }
  QString Ini() const { return exe_.path() + QStringLiteral("/SavePath/Save.ini"); }
  QString SavePathDir() const { return exe_.path() + QStringLiteral("/SavePath"); }
  QString Image(const char* name) const { return images_.path() + QLatin1Char('/') + QLatin1String(name); }
  QString IniText() const {
    QFile f(Ini());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<none>");
  }
  QStringList Texts() const {
    return {form_->DSP_PATH_Edit->text(), form_->CM_PATH_Edit->text(), form_->Motor_PATH_Edit->text()};
  }

  QTemporaryDir exe_, com_, images_;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form_;
};

}  // namespace

TEST_F(SavedPaths, FirstStartShowsZeroAndCreatesNothing) {
  MessageRecorder recorder;
  TLumo_Q31NTX_DownloadAP& form = Start();
  EXPECT_EQ(form.IniFilePath(), Ini());
  EXPECT_EQ(Texts(), (QStringList{"0", "0", "0"}));
  EXPECT_EQ(form.Processing_States->text(), QStringLiteral("Ready"));
  EXPECT_FALSE(QFileInfo::exists(SavePathDir()));
  EXPECT_TRUE(QDir(exe_.path()).isEmpty());
  EXPECT_TRUE(recorder.Boxes().empty());
}

TEST_F(SavedPaths, BrowseWritesOnlyItsKeyAndSurvivesARestart) {
  MessageRecorder recorder;
  Start();
  const QString dsp = Image("dsp image.bin");  // need not exist
  Browse(form_->SelectDSPFile, dsp);
  EXPECT_EQ(Texts(), (QStringList{dsp, "0", "0"}));
  // On disk when the handler has returned.
  EXPECT_EQ(IniText(), QStringLiteral("[FILE_PATH]\nDSP_PTAH=%1\n").arg(dsp));
  EXPECT_EQ(ReadIniString(Ini(), "FILE_PATH", "CM_PTAH", "none"), QStringLiteral("none"));
  Start();
  EXPECT_EQ(Texts(), (QStringList{dsp, "0", "0"}));
  EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("Ready"));
  EXPECT_TRUE(recorder.Boxes().empty());
}

TEST_F(SavedPaths, EachButtonWritesItsOwnKeyAndTheLastChoiceWins) {
  Start();
  const QString cm = Image("cm.bin"), motor = Image("motor.bin"), dsp1 = Image("a.bin"), dsp2 = Image("b.bin");
  QFile(cm).open(QIODevice::WriteOnly);  // an existing file as well
  Browse(form_->SelectCMFile, cm);
  Browse(form_->SelectMotorFile, motor);
  Browse(form_->SelectDSPFile, dsp1);
  Browse(form_->SelectDSPFile, dsp2);
  EXPECT_EQ(Texts(), (QStringList{dsp2, cm, motor}));
  EXPECT_EQ(IniText(), QStringLiteral("[FILE_PATH]\nCM_PTAH=%1\nMotor_PTAH=%2\nDSP_PTAH=%3\n").arg(cm, motor, dsp2));
  Start();
  EXPECT_EQ(Texts(), (QStringList{dsp2, cm, motor}));
}

TEST_F(SavedPaths, CancelChangesNothing) {
  Start();
  Browse(form_->SelectDSPFile, QString());
  EXPECT_EQ(Texts(), (QStringList{"0", "0", "0"}));
  EXPECT_FALSE(QFileInfo::exists(SavePathDir()));
  const QString motor = Image("m.bin");
  Browse(form_->SelectMotorFile, motor);
  const QString before = IniText();
  Browse(form_->SelectMotorFile, QString());
  Browse(form_->SelectCMFile, QString());
  EXPECT_EQ(Texts(), (QStringList{"0", "0", motor}));
  EXPECT_EQ(IniText(), before);
}

TEST_F(SavedPaths, APlainFileNamedSavePathGivesTheWriteError) {
  MessageRecorder recorder;
  {
    QFile plain(SavePathDir());
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  }
  Start();
  const QString dsp = Image("dsp.bin");
  Browse(form_->SelectDSPFile, dsp);
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("savedpaths_test"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("Unable to write to %1.").arg(Ini()));
  // The edit keeps the new path for this run; the loop goes on.
  EXPECT_EQ(form_->DSP_PATH_Edit->text(), dsp);
  EXPECT_TRUE(QFileInfo(SavePathDir()).isFile());
  Browse(form_->SelectCMFile, Image("cm.bin"));
  EXPECT_EQ(recorder.Boxes().size(), 2u);
  Start();
  EXPECT_EQ(Texts(), (QStringList{"0", "0", "0"}));
}

TEST_F(SavedPaths, LongValuesComeBackCutTo2047Characters) {
  ASSERT_TRUE(QDir().mkdir(SavePathDir()));
  const QString longValue = QStringLiteral("/x") + QString(2998, QLatin1Char('a'));
  {
    QFile f(Ini());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[FILE_PATH]\nDSP_PTAH=%1\nCM_PTAH=%2\n")
                .arg(longValue, longValue.left(2047))
                .toUtf8());
  }
  Start();
  EXPECT_EQ(longValue.size(), 3000);
  EXPECT_EQ(form_->DSP_PATH_Edit->text(), longValue.left(2047));
  EXPECT_EQ(form_->CM_PATH_Edit->text(), longValue.left(2047));
  EXPECT_EQ(form_->Motor_PATH_Edit->text(), QStringLiteral("0"));
}

TEST(IniFile, ProfileSemantics) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString ini = dir.path() + QStringLiteral("/a.ini");
  QFile f(ini);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("; comment\r\n[other]\r\nDSP_PTAH=wrong\r\n[ file_path ]\r\n  dsp_ptah =  /p/x.bin  \r\nCM_PTAH=\"/q y\"\r\n\r\n[last]\r\nk=v\r\n");
  f.close();
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), QStringLiteral("/p/x.bin"));
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "CM_PTAH", "0"), QStringLiteral("/q y"));
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "Motor_PTAH", "0"), QStringLiteral("0"));
  EXPECT_EQ(ReadIniString(dir.path() + QStringLiteral("/none.ini"), "FILE_PATH", "DSP_PTAH", "0"), QStringLiteral("0"));
  WriteIniString(ini, "FILE_PATH", "Motor_PTAH", "/m");
  WriteIniString(ini, "FILE_PATH", "DSP_PTAH", "/d");
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "Motor_PTAH", "0"), QStringLiteral("/m"));
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), QStringLiteral("/d"));
  EXPECT_EQ(ReadIniString(ini, "other", "DSP_PTAH", "0"), QStringLiteral("wrong"));
  EXPECT_EQ(ReadIniString(ini, "last", "k", "0"), QStringLiteral("v"));
  try {
    WriteIniString(dir.path() + QStringLiteral("/no/such/dir/x.ini"), "FILE_PATH", "DSP_PTAH", "/d");
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to %1/no/such/dir/x.ini").arg(dir.path()));
  }
}
