// The framework stand-ins on Qt: application title, the start-up guard and
// the application's notify().
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

TEST(StartupGuard, ShowsFrameworkExceptionsWithTheirMessage) {
  MessageRecorder recorder;
  EXPECT_EQ(GuardedStartup([] { throw Exception("Invalid data type for 'COM3'"); }), 0);
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
      throw Exception("'Com Port' is not a valid integer value");
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
  RunEventHandler([] { StrToInt("Com Port"); });
  RunEventHandler([] {});
  const auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, ShownMessageBox::ExceptionDisplay);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("framework_test"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("'Com Port' is not a valid integer value."));
}
