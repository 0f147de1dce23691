// The one form of the tool as a Win32 window: a view of the form model
// (form/). It builds its controls from the layout table with
// CreateWindowExW, reports the user's changes to the model, shows what the
// model asks for (texts, boxes, GetOpenFileNameW) and, through
// WinJobObserver, is the observer of the model's job.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FormModel.h"
#include "FormView.h"
#include "WinJobObserver.h"

// Each control's identifier: this base plus its FormControl, clear of IDOK
// and IDCANCEL, which the keyboard navigation sends for Enter and Escape.
inline constexpr int kFirstControlId = 100;

class WinForm : public FormView, public WinJobObserver {
 public:
  // Makes the window and its controls (hidden) and lists the free COM ports.
  // Throws std::runtime_error when Windows makes no window.
  WinForm(HINSTANCE instance, const std::string& executableFolder, PortFactory* ports,
          const std::string& userConfigFolder);
  ~WinForm() override;
  WinForm(const WinForm&) = delete;
  WinForm& operator=(const WinForm&) = delete;

  // Shows the window and runs FormShow.
  void Show(int showCommand);
  // The message loop until the window is gone; the quit code.
  int Run();

  HWND Window() const { return Main_Window; }

  // FormView.
  void SetControlText(FormControl control, const std::string& text) override;
  void SetPortItems(const std::vector<PortItem>& items) override;
  std::optional<std::string> AskForFile(const FileQuestion& question) override;
  void ShowErrorBox(const std::string& text, const std::string& details) override;
  void ShowExceptionDisplay(const std::string& message) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  void BuildControls();
  HWND Control(FormControl control) const { return Controls[static_cast<size_t>(control)]; }
  HFONT FontOf(int pixels);
  std::string TextOf(HWND control) const;
  void DownLoadAPClick();

  HINSTANCE Instance;
  HWND Main_Window = nullptr;
  std::vector<HWND> Controls;  // by FormControl
  std::vector<std::pair<int, HFONT>> Fonts;  // by pixel height, made once
  bool Close_Requested = false;
  std::wstring Last_Folder;  // where the open-file dialog was left

 public:
  // What the window does; the view only shows it.
  std::unique_ptr<FormModel> Model;
};

// The framework's exception display's caption: the executable's file name
// without its folder, cut at its first ".", every character after the first
// in lower case.
std::wstring ApplicationTitle(const std::wstring& executablePath);
