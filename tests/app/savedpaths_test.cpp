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
#include "SettingsFolder.h"
#include "TestPortConfig.h"

namespace {

// A key of the saved paths' section as the next start reads it; "none" when absent.
QString ReadKey(const QString& ini, const char* key) {
  return QString::fromStdString(ReadIniString(ini.toStdString(), kPathSection, key, "none"));
}

class SavedPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(exe_.isValid());
    ASSERT_TRUE(com_.isValid());
    ASSERT_TRUE(images_.isValid());
    ports_ = lumo_test::MakeTestPortFactory(com_.path().toStdString());
    exeFolder_ = exe_.path();
  }
  void TearDown() override {
    form_.reset();
  }
  // A start of the tool: a new form, shown, with the user's configuration
  // folder as the start-up found it.
  TLumo_Q31NTX_DownloadAP& Start(const std::string& userConfigFolder = {}) {
    form_.reset();
    form_ = std::make_unique<TLumo_Q31NTX_DownloadAP>(exeFolder_, ports_.get(), userConfigFolder);
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
  std::unique_ptr<PortFactory> ports_;
  QString exeFolder_;  // the executable's folder of the next start
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
  EXPECT_EQ(ReadKey(Ini(), "CM_PTAH"), QStringLiteral("none"));
  Start();
  EXPECT_EQ(Texts(), (QStringList{dsp, "0", "0"}));
  EXPECT_EQ(form_->Processing_States->text(), QStringLiteral("Ready"));
  EXPECT_TRUE(recorder.Boxes().empty());
}

// An installed tool's folder is not the user's to write: the same file goes
// to the user's configuration folder instead, and only when a Browse writes
// it. A tool whose folder is writable keeps it beside itself.
TEST_F(SavedPaths, AnInstalledToolKeepsThemInTheUsersConfigurationFolder) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  // As the start-up finds it for XDG_CONFIG_HOME=<config>.
  const std::string userConfig = XdgConfigFolder(config.path().toUtf8().constData(), nullptr);
  struct Case {
    const char* name;
    QString executableFolder;  // one that does not exist is writable to nobody, root included
    QString ini;
  } cases[] = {
      {"a writable folder", exe_.path(), exe_.path() + "/SavePath/Save.ini"},
      {"an installed tool", exe_.path() + "/installed/bin", config.path() + "/Lumo_DownloadTool/SavePath/Save.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exeFolder_ = c.executableFolder;
    MessageRecorder recorder;
    Start(userConfig);
    EXPECT_EQ(form_->IniFilePath(), c.ini);
    EXPECT_EQ(Texts(), (QStringList{"0", "0", "0"}));
    EXPECT_TRUE(QDir(exe_.path()).isEmpty()) << "the first start creates nothing";
    EXPECT_TRUE(QDir(config.path()).isEmpty()) << "the first start creates nothing";
    const QString cm = Image("cm.bin");
    Browse(form_->SelectCMFile, cm);
    EXPECT_EQ(ReadKey(c.ini, "CM_PTAH"), cm);
    Start(userConfig);
    EXPECT_EQ(Texts(), (QStringList{"0", cm, "0"}));
    EXPECT_TRUE(recorder.Boxes().empty());
    form_.reset();
    QDir(exe_.path()).removeRecursively();
    QDir().mkpath(exe_.path());
    QDir(config.path()).removeRecursively();
    QDir().mkpath(config.path());
  }
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

// On Linux a chosen path starts with "/", so of what the profile rules would
// strip only blanks at its end can come from the dialog; they stay.
TEST_F(SavedPaths, BlanksAtTheEndOfAPathSurviveARestart) {
  MessageRecorder recorder;
  Start();
  const QString dsp = Image("dsp.bin "), cm = Image("cm.bin\t"), motor = Image("'motor' .bin  ");
  Browse(form_->SelectDSPFile, dsp);
  Browse(form_->SelectCMFile, cm);
  Browse(form_->SelectMotorFile, motor);
  EXPECT_EQ(Texts(), (QStringList{dsp, cm, motor}));
  EXPECT_EQ(IniText(), QStringLiteral("[FILE_PATH]\nDSP_PTAH=\"%1\"\nCM_PTAH=\"%2\"\nMotor_PTAH=\"%3\"\n")
                           .arg(dsp, cm, motor));
  Start();
  EXPECT_EQ(Texts(), (QStringList{dsp, cm, motor}));
  EXPECT_TRUE(recorder.Boxes().empty());
}

// A line break would split the key's line (the rest of the path lost, a
// stray line added): the Browse says so, the edit takes the path for this
// session, and nothing on disk changes.
TEST_F(SavedPaths, APathWithALineBreakIsRefusedAndTheFileKeptAsItWas) {
  const QString message = QStringLiteral(
      "The chosen path contains a line break and cannot be saved. It is used until the tool is closed; "
      "rename the file or its folder to have it remembered.");
  struct Case {
    const char* name;
    QPushButton* TLumo_Q31NTX_DownloadAP::*button;
    int edit;  // index into Texts()
  };
  const Case cases[] = {
      {"dsp\nimage.bin", &TLumo_Q31NTX_DownloadAP::SelectDSPFile, 0},
      {"cm\rimage.bin", &TLumo_Q31NTX_DownloadAP::SelectCMFile, 1},
      {"motor.bin\r\n", &TLumo_Q31NTX_DownloadAP::SelectMotorFile, 2},
      {"\n", &TLumo_Q31NTX_DownloadAP::SelectDSPFile, 0},
  };
  for (bool fileBefore : {false, true}) {
    const QString kept = Image("kept.bin");
    if (fileBefore) {
      Start();
      Browse(form_->SelectCMFile, kept);
    }
    const QString before = IniText();
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "file before: " << fileBefore << ", name: "
                                      << QByteArray(c.name).toPercentEncoding().toStdString());
      MessageRecorder recorder;
      Start();
      const QStringList shownBefore = Texts();
      const QString path = Image(c.name);  // need not exist
      Browse((*form_).*c.button, path);
      const auto boxes = recorder.Boxes();
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].kind, ShownMessageBox::ErrorBox);
      EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
      EXPECT_EQ(boxes[0].text, message);
      QStringList shown = shownBefore;
      shown[c.edit] = path;
      EXPECT_EQ(Texts(), shown);
      EXPECT_EQ(IniText(), before);
      EXPECT_EQ(QFileInfo::exists(SavePathDir()), fileBefore);
      Start();
      EXPECT_EQ(Texts(), (QStringList{"0", fileBefore ? kept : QStringLiteral("0"), "0"}));
    }
  }
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
