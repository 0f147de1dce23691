// The folders a test gives the platform's port factory: the lock folder of
// the build tree (never the machine's), and the test's COM folder when it
// has one.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "SerialPort.h"

namespace lumo_test {

inline PortConfig TestPortConfig(std::optional<std::string> comFolder = std::nullopt) {
  return {std::move(comFolder), std::string(LUMO_TEST_LOCK_DIR)};
}

// The platform's factory with TestPortConfig(comFolder).
inline std::unique_ptr<PortFactory> MakeTestPortFactory(std::optional<std::string> comFolder = std::nullopt) {
  return MakePlatformPortFactory(TestPortConfig(std::move(comFolder)));
}

}  // namespace lumo_test
