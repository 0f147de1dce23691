#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ImageFile.h"
#include "SettingsFolder.h"

std::FILE* OpenRegularFileForReading(const std::string& path) {
  // O_NONBLOCK so that a FIFO or a device cannot stop us in the open; the
  // type is then judged on what was opened, not on a name that may change.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

std::FILE* OpenFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "w"); }

std::string SettingsFolder(const std::string& executableFolder, const std::string& userConfigFolder) {
  const bool writable = !executableFolder.empty() && access(executableFolder.c_str(), W_OK) == 0;
  return ChooseSettingsFolder(executableFolder, writable, userConfigFolder);
}
