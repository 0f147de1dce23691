// The framework stand-ins: application title, exception display text, the
// integer conversion, the start-up guard and the application's notify().
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <stdexcept>

#include "AppTestSupport.h"
#include "Framework.h"

TEST(ApplicationTitle, ExecutableNameWithoutFolderExtensionAndCapitals) {
  struct Case {
    const char* path;
    const char* title;
  };
  const Case cases[] = {
      {"/opt/lumo/bin/Lumo_DownloadTool", "Lumo_downloadtool"},  // folder dropped, rest lower case
      {"Lumo_DownloadTool", "Lumo_downloadtool"},
      {"/opt/LUMO.d/Tool", "Tool"},                       // a "." in the folder does not count
      {"/opt/x/Lumo_DownloadTool.exe", "Lumo_downloadtool"},  // cut at the first "."
      {"/opt/x/My.Tool.exe", "My"},
      {"/opt/x/ABC", "Abc"},
      {"/opt/x/aBC", "abc"},  // the first character stays as it is
      {"/opt/x/lumo_tool", "lumo_tool"},
      {"/opt/x/Q", "Q"},
      {"/opt/x/.hidden", ""},
      {"/opt/x/ÄÖÜ", "Äöü"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ApplicationTitle(QString::fromUtf8(c.path)), QString::fromUtf8(c.title)) << c.path;
  }
  // This process: the test executable's name.
  EXPECT_EQ(ApplicationTitle(), QStringLiteral("framework_test"));
}

TEST(ExceptionDisplay, FullStopAfterALastCharacterAboveIt) {
  struct Case {
    const char* message;
    const char* text;
  };
  const Case cases[] = {
      {"", ""},
      {"Unable to write to /x/SavePath/Save.ini", "Unable to write to /x/SavePath/Save.ini."},
      {"ends with a dot.", "ends with a dot."},
      {"ends with a dash -", "ends with a dash -"},  // 0x2D is below "."
      {"ends with !", "ends with !"},                // 0x21
      {"ends with a slash /", "ends with a slash /."},  // 0x2F is above "."
      {"12", "12."},
      {"(x)", "(x)"},  // 0x29
      {"Ü", "Ü."},
      {"'Com Port' is not a valid integer value", "'Com Port' is not a valid integer value."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExceptionDisplayText(QString::fromUtf8(c.message)), QString::fromUtf8(c.text)) << c.message;
  }
}

TEST(StrToInt, ConvertsAsTheFramework) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case valid[] = {
      {"9600", 9600},  {"115200", 115200}, {"3", 3},           {"012", 12},
      {"+7", 7},       {"-7", -7},         {"  42", 42},        {"$1F", 31},
      {"0x1f", 31},    {"x10", 16},        {"$FFFFFFFF", -1},   {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
  };
  for (const Case& c : valid) EXPECT_EQ(StrToInt(QString::fromUtf8(c.text)), c.value) << c.text;
  const char* invalid[] = {"Com Port", "", " ", "12 ", "1.5", "9600x", "+", "-", "$", "0x",
                           "2147483648", "-2147483649", "$100000000", "１２"};
  for (const char* text : invalid) {
    try {
      StrToInt(QString::fromUtf8(text));
      ADD_FAILURE() << "no exception for '" << text << "'";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(text)));
    }
  }
}

TEST(StartupGuard, ShowsFrameworkExceptionsWithTheirMessage) {
  MessageRecorder recorder;
  EXPECT_EQ(GuardedStartup([] { throw Exception(QStringLiteral("Invalid data type for 'COM3'")); }), 0);
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("framework_test"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("Invalid data type for 'COM3'"));  // "'" is below "."
}

TEST(StartupGuard, ShowsOtherExceptionsWithoutText) {
  MessageRecorder recorder;
  EXPECT_EQ(GuardedStartup([] { throw std::runtime_error("not a framework exception"); }), 0);
  EXPECT_EQ(GuardedStartup([] { throw 42; }), 0);
  EXPECT_EQ(GuardedStartup([] {}), 0);
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.kind, ShownMessageBox::ExceptionDisplay);
    EXPECT_EQ(box.caption, QStringLiteral("framework_test"));
    EXPECT_EQ(box.text, QString());
  }
}

namespace {
class ThrowingObject : public QObject {
 public:
  int events = 0;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      ++events;
      throw Exception(QStringLiteral("'Com Port' is not a valid integer value"));
    }
    return QObject::event(e);
  }
};
}  // namespace

TEST(ApplicationNotify, ShowsExceptionsThatEscapeHandlersAndGoesOn) {
  MessageRecorder recorder;
  ThrowingObject object;
  QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
  QCoreApplication::processEvents();
  EXPECT_EQ(object.events, 2);  // the loop went on after the first
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("framework_test"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("'Com Port' is not a valid integer value."));
}

TEST(RunEventHandler, ShowsWhatEscapesTheHandler) {
  MessageRecorder recorder;
  RunEventHandler([] { StrToInt(QStringLiteral("Com Port")); });
  RunEventHandler([] {});
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("framework_test"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("'Com Port' is not a valid integer value."));
}
