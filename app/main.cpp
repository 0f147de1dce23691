// Lumo_DownloadTool: loads firmware into a camera unit over RS-232.
#include "Startup.h"

int main(int argc, char** argv) {
  StartupOptions options = ReadStartupOptions(argc, argv);
  ReadStartupEnvironment(options);
  return RunLumoDownloadTool(argv[0], options);
}
