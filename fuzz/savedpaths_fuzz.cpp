// The saved paths: the INI reader on any file, the writer with any value over
// any file.
//
// Input: one byte that picks the key (DSP, CM, Motor), then the value's bytes
// up to the first zero byte, then the file's bytes; without a zero byte the
// file does not exist. Paths are text, so a value holds no zero byte; any
// other byte may be in it, UTF-8 or not.
//
// Properties: a read never gives more than kIniValueMaxChars characters; a
// write is refused exactly when IniValueCanBeSaved says so, and then leaves
// the file byte for byte as it was (or absent); otherwise the key reads back
// the value (cut with CutToIniValueMax), every other key found in the file
// reads as before, and writing the same value again changes no byte.
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FrameworkRules.h"
#include "FuzzCheck.h"
#include "SavedPaths.h"

namespace {

const std::string kAbsent = "<absent>";

// One file for every input, in a folder removed at exit.
struct ScratchFolder {
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "savedpaths_fuzz-XXXXXX").string();
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

std::string ScratchFile() {
  static ScratchFolder folder;
  return folder.path + "/Save.ini";
}

std::optional<std::string> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n\f\v");
  if (begin == std::string::npos) return std::string();
  const size_t end = text.find_last_not_of(" \t\r\n\f\v");
  return text.substr(begin, end - begin + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// (section, key) pairs to compare before and after a write: the product's own
// and what looks like one in the file. The reader decides what they read; a
// pair that is no key of the file just reads absent both times.
std::vector<std::pair<std::string, std::string>> Probes(const std::string& bytes) {
  std::vector<std::pair<std::string, std::string>> probes;
  for (const char* key : {kDspPathKey, kCmPathKey, kMotorPathKey}) probes.emplace_back(kPathSection, key);
  std::string section;
  size_t start = 0;
  while (start <= bytes.size() && probes.size() < 24) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = Trimmed(bytes.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.front() == '[' && line.find(']') != std::string::npos) {
      section = Trimmed(line.substr(1, line.find(']') - 1));
    } else if (line.find('=') != std::string::npos) {
      probes.emplace_back(section, Trimmed(line.substr(0, line.find('='))));
    }
  }
  return probes;
}

std::string Read(const std::string& file, const std::string& section, const std::string& key) {
  const std::string value = ReadIniString(file, section, key, kAbsent);
  FUZZ_CHECK(Utf16Length(value) <= kIniValueMaxChars);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* keys[] = {kDspPathKey, kCmPathKey, kMotorPathKey};
  const std::string section = kPathSection;
  const std::string key = keys[data[0] % 3];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t zero = rest.find('\0');
  const std::string value = rest.substr(0, zero);

  const std::string file = ScratchFile();
  std::filesystem::remove(file);
  std::optional<std::string> before;
  if (zero != std::string::npos) {
    before = rest.substr(zero + 1);
    std::ofstream f(file, std::ios::binary);
    f.write(before->data(), static_cast<std::streamsize>(before->size()));
    f.close();
    FUZZ_CHECK(f.good());
  }
  const auto probes = Probes(before.value_or(std::string()));
  std::vector<std::string> read;
  for (const auto& [s, k] : probes) read.push_back(Read(file, s, k));

  bool refused = false;
  try {
    WriteIniString(file, section, key, value);
  } catch (const Exception&) {
    refused = true;
  }
  FUZZ_CHECK(refused == !IniValueCanBeSaved(value));
  if (refused) {
    FUZZ_CHECK(FileBytes(file) == before);
    return 0;
  }

  FUZZ_CHECK(Read(file, section, key) == CutToIniValueMax(value));
  for (size_t i = 0; i < probes.size(); ++i) {
    const auto& [s, k] = probes[i];
    if (SameName(s, section) && SameName(k, key)) continue;
    FUZZ_CHECK(Read(file, s, k) == read[i]);
  }
  const auto once = FileBytes(file);
  WriteIniString(file, section, key, value);
  FUZZ_CHECK(FileBytes(file) == once);
  return 0;
}
