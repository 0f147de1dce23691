#include "WinProgramPath.h"

#include <windows.h>

#include <filesystem>

#include "WinText.h"

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};  // longer than any path Windows has
    path.resize(path.size() * 2);         // cut off: try a longer buffer
  }
}

std::string ProgramFolder() {
  const std::wstring path = ProgramPath();
  if (path.empty()) return {};
  return Narrow(std::filesystem::path(path).parent_path().wstring());
}
