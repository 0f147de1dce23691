// The folders a test gives the platform's port factory: the lock folder of
// the build tree (never the machine's), and the test's COM folder when it
// has one.
#pragma once

#include <memory>
#include <string>

#include "PortConfig.h"
#include "SerialPort.h"

namespace lumo_test {

// comFolder: empty for none (the device nodes).
inline PortConfig TestPortConfig(const std::string& comFolder = {}) {
  return {FolderSetting(comFolder.c_str()), std::string(LUMO_TEST_LOCK_DIR)};
}

// The platform's factory with TestPortConfig(comFolder).
inline std::unique_ptr<PortFactory> MakeTestPortFactory(const std::string& comFolder = {}) {
  return MakePlatformPortFactory(TestPortConfig(comFolder));
}

}  // namespace lumo_test
