// Text at the Win32 boundary: the core keeps UTF-8, Windows takes UTF-16.
#pragma once

#include <windows.h>

#include <string>

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// The system's text for a Win32 error code, without the trailing line break.
std::string SystemErrorText(DWORD error);
