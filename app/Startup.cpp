#include "Startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "Framework.h"
#include "ImageFile.h"
#include "SavedPaths.h"
#include "SettingsFolder.h"
#include "Lumo_Q31NTX_DownloadAP.h"
#include "TracingPort.h"
#include "WireTrace.h"

StartupOptions ReadStartupOptions(int argc, char** argv) {
  StartupOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trace") == 0 && i + 1 < argc) options.TracePath = argv[++i];
  }
  return options;
}

void ReadStartupEnvironment(StartupOptions& options) {
  options.Ports.ComFolder = FolderSetting(std::getenv("LUMO_COMPORT_DIR"));
  options.Ports.LockFolder = FolderSetting(std::getenv("LUMO_LOCK_DIR"));
  options.UserConfigFolder = XdgConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

WindowPorts::WindowPorts(const StartupOptions& options, const std::vector<std::string>& images)
    : platform_(MakePlatformPortFactory(options.Ports)) {
  if (options.TracePath.empty()) return;
  for (const std::string& image : images) {
    std::error_code ec;  // an image that does not exist is not the trace
    if (!image.empty() && std::filesystem::equivalent(PathFromUtf8(options.TracePath), PathFromUtf8(image), ec)) {
      traceIsImage_ = image;
      return;
    }
  }
  trace_ = std::make_unique<WireTrace>(options.TracePath);
  tracing_ = std::make_unique<TracingPortFactory>(*platform_, *trace_);
}

WindowPorts::~WindowPorts() {
  tracing_.reset();
  trace_.reset();
}

PortFactory* WindowPorts::Ports() {
  if (tracing_) return tracing_.get();
  return platform_.get();
}

bool WindowPorts::TraceFailed() const { return trace_ && !trace_->IsOpen(); }

bool WindowPorts::CloseTrace() { return !trace_ || trace_->Close(); }

namespace {

// The image paths the form will show at start: what Save.ini remembers.
std::vector<std::string> SavedImagePaths(const std::string& executableFolder, const std::string& userConfigFolder) {
  const std::string ini = SavedPathsIniFile(SettingsFolder(executableFolder, userConfigFolder));
  std::vector<std::string> paths;
  for (const char* key : {kDspPathKey, kCmPathKey, kMotorPathKey}) {
    paths.push_back(ReadIniString(ini, kPathSection, key, std::string()));
  }
  return paths;
}

}  // namespace

int RunLumoDownloadTool(char* argv0, const StartupOptions& options) {
  int qtArgc = 1;
  char* qtArgv[] = {argv0, nullptr};
  std::unique_ptr<WindowPorts> ports;
  std::unique_ptr<LumoApplication> application;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form;
  GuardedStartup([&] {
    // The program's own folder, for the settings kept beside it.
    const QString executableFolder = ExecutableFolder();
    ports = std::make_unique<WindowPorts>(
        options, SavedImagePaths(executableFolder.toUtf8().toStdString(), options.UserConfigFolder));
    // The tool runs all the same; whoever asked for the trace is told.
    if (!ports->TraceIsImage().empty())
      std::fprintf(stderr, "Lumo_DownloadTool: the wire trace %s is the image %s; no trace is written\n",
                   options.TracePath.c_str(), ports->TraceIsImage().c_str());
    if (ports->TraceFailed())
      std::fprintf(stderr, "Lumo_DownloadTool: the wire trace %s cannot be written\n", options.TracePath.c_str());
    application = std::make_unique<LumoApplication>(qtArgc, qtArgv);  // 1.
    // 3. the main form
    form = std::make_unique<TLumo_Q31NTX_DownloadAP>(executableFolder, ports->Ports(), options.UserConfigFolder);
    form->show();  // 4. FormShow
    QApplication::exec();
  });
  form.reset();
  application.reset();
  if (ports && !ports->TraceFailed() && !ports->CloseTrace())
    std::fprintf(stderr, "Lumo_DownloadTool: the wire trace %s was not written whole\n", options.TracePath.c_str());
  return 0;  // 5.
}
