// win-window-probe: looks at another program's Win32 window from inside the
// same Wine server (X tools see only top-level windows there), one line per
// finding on standard output, for tests/wine to compare:
//   win-window-probe show CAPTION     the window and every control in it
//   win-window-probe box CAPTION      a message box's texts, then its OK
//   win-window-probe click CAPTION ID a click on the control with that ID
//   win-window-probe select CAPTION ID INDEX  chooses a combo box's item as a user does
//   win-window-probe close CAPTION    asks the window to close
//   win-window-probe desktop          holds the server's desktop: a hidden
//                                     window until the server ends. The desktop's
//                                     process keeps the output of the program
//                                     that started it, and ends a moment after
//                                     its last user: held, it is the test
//                                     stage's, and holds no test's pipe open.
// Each waits up to 30 s for a visible top-level window with that caption.
// Lines (fields by tabs; a text's "\", tab and line breaks escaped as \\, \t, \n):
//   WINDOW <class> <client width> <client height> <style> <extended style>
//   CHILD <id> <parent id, 0: the window> <class> <left> <top> <width> <height> <flags> <text>
//     rectangle relative to the parent's client area; flags: T a tab stop,
//     D disabled, C checked, R read-only, - none; in the order of the
//     window's children (the keyboard's order)
//   ITEM <id> <text>   a combo box's items, in order
//   OWNER <0 or 1>     a message box has an owner window
//   TEXT <text>        a message box's static texts
//   BUTTON <text>      a message box's buttons
// Exits 0 when it found the window and did its step, 1 otherwise, 2 on wrong usage.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "WinText.h"

namespace {

constexpr UINT kReplyBoundMs = 5000;

std::wstring Escaped(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\\') out += L"\\\\";
    else if (c == L'\t') out += L"\\t";
    else if (c == L'\n') out += L"\\n";
    else if (c == L'\r') out += L"\\r";
    else out += c;
  }
  return out;
}

void Say(const std::wstring& line) {
  std::printf("%s\n", Narrow(line).c_str());
  std::fflush(stdout);
}

// Another process's text goes through the message, which Windows carries across.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReplyBoundMs, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kReplyBoundMs, &copied))
    return {};
  text.resize(copied);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyBoundMs, &result);
  return static_cast<LRESULT>(result);
}

struct Search {
  std::wstring caption;
  HWND found = nullptr;
};

HWND FindTopLevel(const std::wstring& caption) {
  Search search{caption};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
          auto* s = reinterpret_cast<Search*>(data);
          if (!IsWindowVisible(window) || TextOf(window) != s->caption) return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    // Real time: the other program makes its window when it gets there.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

struct Walk {
  HWND top;
  bool boxTexts;
};

BOOL CALLBACK ShowChild(HWND child, LPARAM data) {
  const auto* walk = reinterpret_cast<const Walk*>(data);
  const std::wstring cls = ClassOf(child);
  if (walk->boxTexts) {
    if (cls == L"Static" && !TextOf(child).empty()) Say(L"TEXT\t" + Escaped(TextOf(child)));
    if (cls == L"Button" && IsWindowVisible(child)) Say(L"BUTTON\t" + Escaped(TextOf(child)));
    return TRUE;
  }
  HWND parent = GetParent(child);
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  std::wstring flags;
  if (style & WS_TABSTOP) flags += L'T';
  if (!IsWindowEnabled(child)) flags += L'D';
  const bool isButton = cls == L"Button";
  if (isButton && Ask(child, BM_GETCHECK) == BST_CHECKED) flags += L'C';
  if (cls == L"Edit" && (style & ES_READONLY)) flags += L'R';
  if (flags.empty()) flags = L"-";
  const int parentId = parent == walk->top ? 0 : GetDlgCtrlID(parent);
  Say(L"CHILD\t" + std::to_wstring(GetDlgCtrlID(child)) + L"\t" + std::to_wstring(parentId) + L"\t" + cls + L"\t" +
      std::to_wstring(rect.left) + L"\t" + std::to_wstring(rect.top) + L"\t" +
      std::to_wstring(rect.right - rect.left) + L"\t" + std::to_wstring(rect.bottom - rect.top) + L"\t" + flags +
      L"\t" + Escaped(TextOf(child)));
  if (cls == L"ComboBox") {
    const LRESULT count = Ask(child, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
      std::wstring item(static_cast<size_t>(Ask(child, CB_GETLBTEXTLEN, i)) + 1, L'\0');
      item.resize(static_cast<size_t>(Ask(child, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
      Say(L"ITEM\t" + std::to_wstring(GetDlgCtrlID(child)) + L"\t" + Escaped(item));
    }
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"desktop") {
    if (!CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)) return 1;
    Say(L"DESKTOP");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
  }
  if (argc < 3) return 2;
  const std::wstring step = argv[1];
  HWND window = FindTopLevel(argv[2]);
  if (!window) {
    Say(L"NONE");
    return 1;
  }
  if (step == L"show") {
    RECT client;
    GetClientRect(window, &client);
    Say(L"WINDOW\t" + ClassOf(window) + L"\t" + std::to_wstring(client.right) + L"\t" +
        std::to_wstring(client.bottom) + L"\t" + std::to_wstring(GetWindowLongW(window, GWL_STYLE)) + L"\t" +
        std::to_wstring(GetWindowLongW(window, GWL_EXSTYLE)));
    Walk walk{window, false};
    EnumChildWindows(window, ShowChild, reinterpret_cast<LPARAM>(&walk));
    return 0;
  }
  if (step == L"box") {
    Say(std::wstring(L"OWNER\t") + (GetWindow(window, GW_OWNER) ? L"1" : L"0"));
    Walk walk{window, true};
    EnumChildWindows(window, ShowChild, reinterpret_cast<LPARAM>(&walk));
    return PostMessageW(window, WM_COMMAND, IDOK, 0) ? 0 : 1;
  }
  if (step == L"click" && argc >= 4) {
    HWND control = GetDlgItem(window, _wtoi(argv[3]));
    return control && PostMessageW(control, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (step == L"select" && argc >= 5) {
    const int id = _wtoi(argv[3]);
    HWND control = GetDlgItem(window, id);
    if (!control || Ask(control, CB_SETCURSEL, static_cast<WPARAM>(_wtoi(argv[4]))) == CB_ERR) return 1;
    // What the box tells its window when the user picks an item.
    Ask(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (step == L"close") return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  return 2;
}
