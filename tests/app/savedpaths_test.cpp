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

class SavedPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(exe_.isValid());
    ASSERT_TRUE(com_.isValid());
    ASSERT_TRUE(images_.isValid());
    ports_ = lumo_test::MakeTestPortFactory(com_.path().toStdString());
    TLumo_Q31NTX_DownloadAP::SetExecutableFolderForTesting(exe_.path());
  }
  void TearDown() override {
    form_.reset();
    TLumo_Q31NTX_DownloadAP::SetExecutableFolderForTesting(QString());
  }
  // A start of the tool: a new form, shown, with the user's configuration
  // folder as the start-up found it.
  TLumo_Q31NTX_DownloadAP& Start(const std::string& userConfigFolder = {}) {
    form_.reset();
    form_ = std::make_unique<TLumo_Q31NTX_DownloadAP>(nullptr, ports_.get(), userConfigFolder);
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
    TLumo_Q31NTX_DownloadAP::SetExecutableFolderForTesting(c.executableFolder);
    MessageRecorder recorder;
    Start(userConfig);
    EXPECT_EQ(form_->IniFilePath(), c.ini);
    EXPECT_EQ(Texts(), (QStringList{"0", "0", "0"}));
    EXPECT_TRUE(QDir(exe_.path()).isEmpty()) << "the first start creates nothing";
    EXPECT_TRUE(QDir(config.path()).isEmpty()) << "the first start creates nothing";
    const QString cm = Image("cm.bin");
    Browse(form_->SelectCMFile, cm);
    EXPECT_EQ(ReadIniString(c.ini, "FILE_PATH", "CM_PTAH", "none"), cm);
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

// What a write puts on the line, and that the reader gives exactly the value
// back: quotes only where the profile rules would otherwise strip blanks or a
// pair of quotes, ordinary paths written as earlier versions wrote them.
TEST(IniFile, ValuesReadBackExactly) {
  struct Case {
    QString value, line;
  };
  const Case cases[] = {
      {"/p/plain.bin", "DSP_PTAH=/p/plain.bin"},
      {"/p/a b=c;d [e] #f.bin", "DSP_PTAH=/p/a b=c;d [e] #f.bin"},
      {QString::fromUtf8("/p/\u00fcber/\u65e5\u672c.bin"), QString::fromUtf8("DSP_PTAH=/p/\u00fcber/\u65e5\u672c.bin")},
      {"", "DSP_PTAH="},
      {" /lead", "DSP_PTAH=\" /lead\""},
      {"/trail ", "DSP_PTAH=\"/trail \""},
      {"\t/tabs\t", "DSP_PTAH=\"\t/tabs\t\""},
      {"  ", "DSP_PTAH=\"  \""},
      {"\"abc\"", "DSP_PTAH=\"\"abc\"\""},
      {"'abc'", "DSP_PTAH=\"'abc'\""},
      {"\"\"", "DSP_PTAH=\"\"\"\""},
      {"''", "DSP_PTAH=\"''\""},
      {" \"abc\" ", "DSP_PTAH=\" \"abc\" \""},
      {"\"abc'", "DSP_PTAH=\"abc'"},  // quotes that do not match stay as they are
      {"'abc\"", "DSP_PTAH='abc\""},
      {"\"/q\" y", "DSP_PTAH=\"/q\" y"},
      {"\"", "DSP_PTAH=\""},
      {"'", "DSP_PTAH='"},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.toStdString());
    const QString ini = dir.path() + QStringLiteral("/a.ini");
    QFile::remove(ini);
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", c.value);
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()), QStringLiteral("[FILE_PATH]\n") + c.line + QLatin1Char('\n'));
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.value);
    // Over a value already there, beside a key with its own quotes.
    WriteIniString(ini, "FILE_PATH", "CM_PTAH", c.value);
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", QStringLiteral(" x "));
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", c.value);
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.value);
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "CM_PTAH", "0"), c.value);
  }
}

// Files that earlier versions (or a hand edit) left read as they always did.
TEST(IniFile, EarlierFilesReadAsBefore) {
  struct Case {
    const char* line;
    QString value;
  };
  const Case cases[] = {
      {"DSP_PTAH=/p/x.bin", "/p/x.bin"},
      {"DSP_PTAH=  /p/x.bin \t", "/p/x.bin"},
      {"DSP_PTAH=\"/q y\"", "/q y"},
      {"DSP_PTAH= '/q y' ", "/q y"},
      {"DSP_PTAH=\"\"/q\"\"", "\"/q\""},
      {"DSP_PTAH=\"/q'", "\"/q'"},
      {"DSP_PTAH=\"", "\""},
      {"DSP_PTAH=", ""},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString ini = dir.path() + QStringLiteral("/a.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray("[FILE_PATH]\r\n") + c.line + "\r\n");
    f.close();
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.value);
  }
}

// A value with a line break is refused before the file is touched: an absent
// file stays absent, a present one keeps its bytes.
TEST(IniFile, ALineBreakIsRefusedAndTheFileKept) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString ini = dir.path() + QStringLiteral("/a.ini");
  const QByteArray present = "[FILE_PATH]\r\nDSP_PTAH=/old\r\n";
  for (const char* value : {"/a\nb", "/a\rb", "/a\r\n", "\n", "\r", " /a\n "}) {
    for (bool exists : {false, true}) {
      SCOPED_TRACE(testing::Message() << "exists: " << exists
                                      << ", value: " << QByteArray(value).toPercentEncoding().toStdString());
      QFile::remove(ini);
      if (exists) {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(present);
      }
      EXPECT_FALSE(IniValueCanBeSaved(QString::fromLatin1(value)));
      try {
        WriteIniString(ini, "FILE_PATH", "DSP_PTAH", QString::fromLatin1(value));
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Unable to write a line break to %1").arg(ini));
      }
      QFile f(ini);
      if (exists) {
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), present);
      } else {
        EXPECT_FALSE(f.exists());
      }
    }
  }
  EXPECT_TRUE(IniValueCanBeSaved(QStringLiteral("/a\tb \f\v")));
}

// A write changes its own line or adds it (and the section), and gives every
// other line back byte for byte, so no other key reads differently after it:
// line ends, a byte order mark, bytes that are no UTF-8.
TEST(IniFile, AWriteKeepsEveryOtherLineAsItWas) {
  struct Case {
    QByteArray before, after;
  };
  const QByteArray bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"", "[FILE_PATH]\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\r\nCM_PTAH=/c\r\nDSP_PTAH=/old\r\n[x]\r\n", "[FILE_PATH]\r\nCM_PTAH=/c\r\nDSP_PTAH=/d\r\n[x]\r\n"},
      {"[FILE_PATH]\r\nCM_PTAH=/c\r\n\r\n[x]\r\n", "[FILE_PATH]\r\nCM_PTAH=/c\r\nDSP_PTAH=/d\n\r\n[x]\r\n"},
      {"[FILE_PATH]\nCM_PTAH=/c\r\r\n", "[FILE_PATH]\nCM_PTAH=/c\r\r\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\nCM_PTAH=/c\r", "[FILE_PATH]\nCM_PTAH=/c\r\r\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\nCM_PTAH=/c", "[FILE_PATH]\nCM_PTAH=/c\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\nDSP_PTAH=/old", "[FILE_PATH]\nDSP_PTAH=/d\n"},
      {"[x]\nk=/\xE9t\xE9\n", "[x]\nk=/\xE9t\xE9\n[FILE_PATH]\nDSP_PTAH=/d\n"},
      {bom + "[FILE_PATH]\nCM_PTAH=/c\n", bom + "[FILE_PATH]\nCM_PTAH=/c\nDSP_PTAH=/d\n"},
      {bom + bom + "[FILE_PATH]\nk=v\n", bom + bom + "[FILE_PATH]\nk=v\nDSP_PTAH=/d\n"},
      {"[x]\n" + bom + "[FILE_PATH]\nk=v\n", "[x]\n" + bom + "[FILE_PATH]\nk=v\n[FILE_PATH]\nDSP_PTAH=/d\n"},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString ini = dir.path() + QStringLiteral("/a.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before.toPercentEncoding().toStdString());
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(c.before);
    f.close();
    const QString cm = ReadIniString(ini, "FILE_PATH", "CM_PTAH", "absent");
    const QString k = ReadIniString(ini, "x", "k", "absent");
    const QString k2 = ReadIniString(ini, "FILE_PATH", "k", "absent");
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", QStringLiteral("/d"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toPercentEncoding().toStdString(), c.after.toPercentEncoding().toStdString());
    f.close();
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "absent"), QStringLiteral("/d"));
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "CM_PTAH", "absent"), cm);
    EXPECT_EQ(ReadIniString(ini, "x", "k", "absent"), k);
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "k", "absent"), k2);
  }
}
