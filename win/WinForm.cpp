#include "WinForm.h"

#include <commdlg.h>

#include <algorithm>
#include <stdexcept>

#include "FrameworkRules.h"
#include "Layout.h"
#include "WinText.h"

namespace {

constexpr wchar_t kWindowClass[] = L"LumoDownloadToolForm";
constexpr wchar_t kPanelClass[] = L"LumoPanel";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// A raised frame one pixel wide; its children's notifications go to the window.
LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(panel, &paint);
      RECT rect;
      GetClientRect(panel, &rect);
      FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
      EndPaint(panel, &paint);
      return 0;
    }
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      return SendMessageW(GetParent(panel), message, wParam, lParam);
    default:
      return DefWindowProcW(panel, message, wParam, lParam);
  }
}

void RegisterClasses(HINSTANCE instance, WNDPROC formProc) {
  static const bool once = [instance, formProc] {
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = formProc;
    form.hInstance = instance;
    form.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kWindowClass;
    WNDCLASSEXW panel = form;
    panel.lpfnWndProc = PanelProc;
    panel.hIcon = nullptr;
    panel.lpszClassName = kPanelClass;
    return RegisterClassExW(&form) != 0 && RegisterClassExW(&panel) != 0;
  }();
  if (!once) throw std::runtime_error("the window classes cannot be registered");
}

// A filter as "Text|*.ext|Text|*.ext" into the dialog's pairs of strings
// ended by an empty one.
std::wstring DialogFilter(const std::string& filter) {
  std::wstring pairs = Widen(filter);
  std::replace(pairs.begin(), pairs.end(), L'|', L'\0');
  pairs.push_back(L'\0');
  pairs.push_back(L'\0');
  return pairs;
}

}  // namespace

std::wstring ApplicationTitle(const std::wstring& executablePath) {
  std::wstring name = executablePath;
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.find(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  if (name.size() > 1) CharLowerBuffW(name.data() + 1, static_cast<DWORD>(name.size() - 1));
  return name;
}

WinForm::WinForm(HINSTANCE instance, const std::string& executableFolder, PortFactory* ports,
                 const std::string& userConfigFolder)
    : Instance(instance) {
  Model = std::make_unique<FormModel>(*this, *this, executableFolder, ports, userConfigFolder);
  RegisterClasses(instance, &WinForm::WindowProc);
  const FormLayout& layout = WindowLayout();
  RECT frame{0, 0, layout.ClientWidth, layout.ClientHeight};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  Main_Window = CreateWindowExW(kWindowExStyle, kWindowClass, Widen(layout.Caption).c_str(), kWindowStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, instance, this);
  if (!Main_Window) throw std::runtime_error("the window cannot be made: " + SystemErrorText(GetLastError()));
  BuildControls();
  AttachWindow({Main_Window,
                Control(FormControl::Processing_States),
                {Control(FormControl::DownLoadAP), Control(FormControl::ComPort_ComboBox),
                 Control(FormControl::BaudRate_ComboBox)},
                [this] { return Model->PortOpenAdvice(); }});
  // The fields start at zero, false or null; then the ports.
  Model->DiscoverPorts();
}

WinForm::~WinForm() {
  if (Main_Window) DestroyWindow(Main_Window);
  for (const auto& font : Fonts) DeleteObject(font.second);
}

HFONT WinForm::FontOf(int pixels) {
  for (const auto& font : Fonts) {
    if (font.first == pixels) return font.second;
  }
  // The height of the characters, not of the cell, as the layout gives it.
  HFONT font = CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           Widen(WindowLayout().FontFamily).c_str());
  Fonts.emplace_back(pixels, font);
  return font;
}

// Every control of the layout table, with its parent, rectangle, text, font
// and state; then the tab order.
void WinForm::BuildControls() {
  const FormLayout& layout = WindowLayout();
  SendMessageW(Main_Window, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(layout.FontHeight)), FALSE);
  for (const ControlLayout& c : layout.Controls) {
    HWND parent = c.Parent < 0 ? Main_Window : Controls[static_cast<size_t>(c.Parent)];
    const wchar_t* windowClass = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | (c.TabOrder >= 0 ? WS_TABSTOP : 0) | (c.Enabled ? 0 : WS_DISABLED);
    DWORD exStyle = 0;
    int height = c.Height;
    switch (c.Kind) {
      case ControlKind::Label:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case ControlKind::Edit:
        windowClass = L"EDIT";
        style |= ES_AUTOHSCROLL | (c.ReadOnly ? ES_READONLY : 0) | (c.Align == TextAlign::Centre ? ES_CENTER : ES_LEFT);
        exStyle |= WS_EX_CLIENTEDGE;
        break;
      case ControlKind::Button:
        windowClass = L"BUTTON";
        style |= BS_PUSHBUTTON;  // never the default button
        break;
      case ControlKind::CheckBox:
        windowClass = L"BUTTON";
        style |= BS_AUTOCHECKBOX;
        break;
      case ControlKind::ComboBox:
        windowClass = L"COMBOBOX";
        // Editable drop-down; the height given here is the dropped list's.
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
        height = c.Height + layout.ComboMaxVisibleItems * (c.FontHeight + 4) + 2;
        break;
      case ControlKind::Panel:
        windowClass = kPanelClass;
        style |= WS_CLIPSIBLINGS;
        exStyle |= WS_EX_CONTROLPARENT;
        break;
    }
    HWND control = CreateWindowExW(exStyle, windowClass, Widen(c.Kind == ControlKind::ComboBox ? "" : c.Text).c_str(),
                                   style, c.Left, c.Top, c.Width, height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + static_cast<int>(c.Id))),
                                   Instance, nullptr);
    if (!control) throw std::runtime_error(std::string("the control ") + c.Name + " cannot be made");
    SendMessageW(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(FontOf(c.FontHeight > 0 ? c.FontHeight : layout.FontHeight)), FALSE);
    if (c.Kind == ControlKind::CheckBox) SendMessageW(control, BM_SETCHECK, c.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (c.Kind == ControlKind::ComboBox) {
      // The closed box's height is its edit field's and borders'.
      SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), c.Height - 6);
      if (*c.Text) SetWindowTextW(control, Widen(c.Text).c_str());
    }
    Controls.push_back(control);
  }
  HWND baud = Control(FormControl::BaudRate_ComboBox);
  for (const char* rate : layout.BaudRates) SendMessageW(baud, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(rate).c_str()));
  SendMessageW(baud, CB_SETCURSEL, static_cast<WPARAM>(layout.BaudRateIndex), 0);

  // The keyboard goes from stop to stop in the order of the window's children.
  std::vector<const ControlLayout*> stops;
  for (const ControlLayout& c : layout.Controls) {
    if (c.TabOrder >= 0) stops.push_back(&c);
  }
  std::sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
  HWND previous = HWND_TOP;
  for (const ControlLayout* stop : stops) {
    SetWindowPos(Control(stop->Id), previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = Control(stop->Id);
  }
}

void WinForm::Show(int showCommand) {
  ShowWindow(Main_Window, showCommand);
  UpdateWindow(Main_Window);
  Model->FormShow();
}

int WinForm::Run() {
  MSG message;
  for (;;) {
    if (Quit_Pending) return Quit_Code;  // taken by a loop inside a job
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    Dispatch(message);
  }
}

LRESULT CALLBACK WinForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<WinForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->Main_Window = window;
  }
  auto* form = reinterpret_cast<WinForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  // Nothing unwinds through Windows' frames: what escapes a handler is shown here.
  try {
    return form->Handle(message, wParam, lParam);
  } catch (const Exception& e) {
    form->ShowExceptionDisplay(e.Message());
  } catch (...) {
    form->ShowExceptionDisplay(std::string());
  }
  return 0;
}

LRESULT WinForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (HandlePosted(message, lParam)) return 0;
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      // Closing during a job keeps the window until the job has finished.
      if (Model->JobRunning()) {
        Close_Requested = true;
        return 0;
      }
      DestroyWindow(Main_Window);
      return 0;
    case WM_DESTROY:
      Main_Window = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(Main_Window, message, wParam, lParam);
  }
}

std::string WinForm::TextOf(HWND control) const {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

// The user's changes go to the model; the buttons call the handlers. Enter
// and Escape (IDOK, IDCANCEL) do nothing: a form is no dialog.
void WinForm::OnCommand(int id, int code) {
  const int index = id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(kFormControlCount)) return;
  const auto control = static_cast<FormControl>(index);
  HWND window = Control(control);
  constexpr FormControl edits[] = {FormControl::DSP_PATH_Edit, FormControl::CM_PATH_Edit, FormControl::Motor_PATH_Edit};
  constexpr FormControl boxes[] = {FormControl::DSP_CheckBox, FormControl::CM_CheckBox, FormControl::Motor_CheckBox};
  constexpr FormControl browse[] = {FormControl::SelectDSPFile, FormControl::SelectCMFile, FormControl::SelectMotorFile};
  for (int i = 0; i < 3; ++i) {
    const auto target = static_cast<PathIndex>(i);
    // The core takes paths as UTF-8.
    if (control == edits[i] && code == EN_CHANGE) Model->SetPath(target, TextOf(window));
    if (control == boxes[i] && code == BN_CLICKED)
      Model->SetSelected(target, SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED);
    if (control == browse[i] && code == BN_CLICKED) Model->Browse(target);
  }
  if (control == FormControl::ComPort_ComboBox || control == FormControl::BaudRate_ComboBox) {
    std::string text;
    if (code == CBN_EDITCHANGE) {
      text = TextOf(window);
    } else if (code == CBN_SELCHANGE) {
      // The edit field still shows the previous item at this point.
      const LRESULT chosen = SendMessageW(window, CB_GETCURSEL, 0, 0);
      if (chosen == CB_ERR) return;
      std::wstring item(static_cast<size_t>(SendMessageW(window, CB_GETLBTEXTLEN, chosen, 0)) + 1, L'\0');
      item.resize(static_cast<size_t>(SendMessageW(window, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(item.data()))));
      text = Narrow(item);
    } else {
      return;
    }
    if (control == FormControl::ComPort_ComboBox) Model->SetPortText(text);
    else Model->SetBaudText(text);
  }
  if (control == FormControl::DownLoadAP && code == BN_CLICKED) DownLoadAPClick();
}

void WinForm::DownLoadAPClick() {
  Model->DownLoadAPClick();
  if (Close_Requested) {
    Close_Requested = false;
    DestroyWindow(Main_Window);
  }
  if (Quit_Pending) PostQuitMessage(Quit_Code);
}

void WinForm::SetControlText(FormControl control, const std::string& text) {
  SetWindowTextW(Control(control), Widen(text).c_str());
}

void WinForm::SetPortItems(const std::vector<PortItem>& items) {
  HWND box = Control(FormControl::ComPort_ComboBox);
  for (const PortItem& item : items) SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item.Text).c_str()));
  if (!items.empty()) SendMessageW(box, CB_SETCURSEL, 0, 0);
}

std::optional<std::string> WinForm::AskForFile(const FileQuestion& question) {
  // Long enough for any path Windows has.
  std::wstring file = Widen(question.OfferedFile);
  file.resize(32768, L'\0');
  const std::wstring title = Widen(question.Title);
  const std::wstring folder = Widen(question.Folder);
  const std::wstring filter = DialogFilter(question.Filter);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Main_Window;
  dialog.lpstrFilter = question.Filter.empty() ? nullptr : filter.c_str();
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
  dialog.lpstrInitialDir = !folder.empty() ? folder.c_str() : Last_Folder.empty() ? nullptr : Last_Folder.c_str();
  // The working folder stays: the dialog remembers its own.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  file.resize(wcslen(file.c_str()));
  if (file.empty()) return std::nullopt;
  if (dialog.nFileOffset > 0) Last_Folder = file.substr(0, dialog.nFileOffset);
  return Narrow(file);
}

void WinForm::ShowErrorBox(const std::string& text, const std::string& details) { ShowWinErrorBox(text, details); }

void WinForm::ShowExceptionDisplay(const std::string& message) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  MessageBoxW(Main_Window, Widen(ExceptionDisplayText(message)).c_str(), ApplicationTitle(path).c_str(),
              MB_OK | MB_ICONERROR);
}
