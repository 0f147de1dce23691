// Files on Windows: UTF-8 paths through the wide calls, so that a path
// outside the ANSI code page opens.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "ImageFile.h"
#include "SettingsFolder.h"
#include "WinText.h"

std::FILE* OpenRegularFileForReading(const std::string& path) {
  const std::wstring wide = Widen(path);
  if (wide.empty()) return nullptr;
  // Others may read it too, but not write it while it is loaded. A folder
  // fails to open here; a pipe or a device opens without waiting and is
  // refused below.
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (!file) _close(fd);  // closes the handle too
  return file;
}

std::FILE* OpenFileForWriting(const std::string& path) {
  const std::wstring wide = Widen(path);
  return wide.empty() ? nullptr : _wfopen(wide.c_str(), L"w");
}

// Windows' access check looks at the read-only attribute only, not at who may
// write (Program Files): a file made and deleted at once tells.
std::string SettingsFolder(const std::string& executableFolder, const std::string& userConfigFolder) {
  bool writable = false;
  if (!executableFolder.empty()) {
    const std::wstring probe = Widen(executableFolder) + L"\\.lumo-write-test";
    const HANDLE handle = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    writable = handle != INVALID_HANDLE_VALUE;
    if (writable) CloseHandle(handle);
  }
  return ChooseSettingsFolder(executableFolder, writable, userConfigFolder);
}

std::string AppDataConfigFolder(const wchar_t* appData) {
  return appData ? Narrow(appData) + "\\Lumo_DownloadTool" : std::string();
}
