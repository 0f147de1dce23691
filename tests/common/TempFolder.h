// A fresh folder under /tmp (the user's temporary folder on Windows),
// removed with what is in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace lumo_test {

class TempFolder {
 public:
  TempFolder() {
#ifdef _WIN32
    std::error_code failed;
    const std::filesystem::path base = std::filesystem::temp_directory_path(failed);
    if (failed) return;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path folder = base / ("lumo-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(folder, failed)) path_ = folder.generic_string();
    }
#else
    char pattern[] = "/tmp/lumo-test-XXXXXX";
    if (const char* made = mkdtemp(pattern)) path_ = made;
#endif
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
