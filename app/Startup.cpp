#include "Startup.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "Framework.h"
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

WindowPorts::WindowPorts(const StartupOptions& options) {
  if (options.TracePath.empty()) return;
  platform_ = MakePlatformPortFactory();
  trace_ = std::make_unique<WireTrace>(options.TracePath);
  tracing_ = std::make_unique<TracingPortFactory>(*platform_, *trace_);
}

WindowPorts::~WindowPorts() {
  tracing_.reset();
  trace_.reset();
}

PortFactory* WindowPorts::Ports() { return tracing_.get(); }

bool WindowPorts::TraceFailed() const { return trace_ && !trace_->IsOpen(); }

bool WindowPorts::CloseTrace() { return !trace_ || trace_->Close(); }

int RunLumoDownloadTool(char* argv0, const StartupOptions& options) {
  int qtArgc = 1;
  char* qtArgv[] = {argv0, nullptr};
  std::unique_ptr<WindowPorts> ports;
  std::unique_ptr<LumoApplication> application;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form;
  GuardedStartup([&] {
    ports = std::make_unique<WindowPorts>(options);
    // The tool runs all the same; whoever asked for the trace is told.
    if (ports->TraceFailed())
      std::fprintf(stderr, "Lumo_DownloadTool: the wire trace %s cannot be written\n", options.TracePath.c_str());
    application = std::make_unique<LumoApplication>(qtArgc, qtArgv);            // 1.
    form = std::make_unique<TLumo_Q31NTX_DownloadAP>(nullptr, ports->Ports());  // 3. the main form
    form->show();                                                               // 4. FormShow
    QApplication::exec();
  });
  form.reset();
  application.reset();
  if (ports && !ports->TraceFailed() && !ports->CloseTrace())
    std::fprintf(stderr, "Lumo_DownloadTool: the wire trace %s was not written whole\n", options.TracePath.c_str());
  return 0;  // 5.
}
