#include "Startup.h"

#include <memory>

#include "Framework.h"
#include "Lumo_Q31NTX_DownloadAP.h"

int RunLumoDownloadTool(char* argv0) {
  int qtArgc = 1;
  char* qtArgv[] = {argv0, nullptr};
  std::unique_ptr<LumoApplication> application;
  std::unique_ptr<TLumo_Q31NTX_DownloadAP> form;
  GuardedStartup([&] {
    application = std::make_unique<LumoApplication>(qtArgc, qtArgv);  // 1.
    form = std::make_unique<TLumo_Q31NTX_DownloadAP>();                // 3. the main form
    form->show();                                                      // 4. FormShow
    QApplication::exec();
  });
  form.reset();
  application.reset();
  return 0;  // 5.
}
