// Opening an image file for reading, through the platform layer: only a
// regular file counts as an image, and the open itself never blocks.
#pragma once

#include <cstdio>
#include <string>

// The file opened for binary reading; null when the path does not name a
// regular file (missing, a folder, a FIFO, a device, a socket) or cannot be
// opened. A FIFO without a writer would block an ordinary open for ever.
std::FILE* OpenRegularFileForReading(const std::string& path);
