// Lumo_DownloadTool on Windows: the form as a native Win32 window.
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "FrameworkRules.h"
#include "PortConfig.h"
#include "SerialPort.h"
#include "SettingsFolder.h"
#include "WinForm.h"
#include "WinProgramPath.h"
#include "WinText.h"

namespace {

// The start-up guard's display: what escaped is shown as the framework shows it.
void ShowStartupException(const std::string& message) {
  MessageBoxW(nullptr, Widen(ExceptionDisplayText(message)).c_str(), ApplicationTitle(ProgramPath()).c_str(),
              MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  try {
    // The front end reads the environment once and hands the folders down.
    const PortConfig config{FolderSetting(std::getenv("LUMO_COMPORT_DIR")), FolderSetting(std::getenv("LUMO_LOCK_DIR"))};
    const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(config);
    WinForm form(instance, ProgramFolder(), ports.get(), AppDataConfigFolder(_wgetenv(L"APPDATA")));
    form.Show(showCommand);
    return form.Run();
  } catch (const Exception& e) {
    ShowStartupException(e.Message());
  } catch (const std::exception& e) {
    ShowStartupException(e.what());
  } catch (...) {
    ShowStartupException(std::string());
  }
  return 0;
}
