// Files through the platform layer: paths are UTF-8 text throughout the
// core, and each platform opens them its own way.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// The file opened for binary reading; null when the path does not name a
// regular file (missing, a folder, a FIFO, a device, a socket) or cannot be
// opened. A FIFO without a writer would block an ordinary open for ever.
std::FILE* OpenRegularFileForReading(const std::string& path);

// The file created (or emptied) for writing text; null when that fails.
std::FILE* OpenFileForWriting(const std::string& path);

// A path from UTF-8 text, and back. A path made from a narrow string, and a
// narrow string made from a path, would be in the ANSI code page on Windows.
inline std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
