// main() of the app tests: the tool's own application object, offscreen.
#include <gtest/gtest.h>

#include <QByteArray>

#include "Framework.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  LumoApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
