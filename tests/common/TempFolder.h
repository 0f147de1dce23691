// A fresh folder under /tmp, removed with what is in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace lumo_test {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/lumo-test-XXXXXX";
    if (const char* made = mkdtemp(pattern)) path_ = made;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace lumo_test
