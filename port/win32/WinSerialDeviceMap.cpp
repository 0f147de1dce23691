#include "WinSerialDeviceMap.h"

#include "WinText.h"

namespace {

// The device path is "\\.\" and the data in a 256-character buffer with its
// terminating zero.
constexpr size_t MAX_DATA_CHARS = 251;

}  // namespace

std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceMapFromKey(HKEY root, const std::wstring& subkey) {
  // Read-only: a user who is no administrator may not open it for more, and
  // asking for more would hide every port from them.
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD values = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    RegCloseKey(key);
    return std::nullopt;
  }
  std::vector<SerialDeviceEntry> map;
  std::vector<wchar_t> name(longestName + 1);
  std::vector<BYTE> data(longestData + sizeof(wchar_t));
  for (DWORD index = 0; index < values; ++index) {
    DWORD nameChars = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() - sizeof(wchar_t));
    DWORD type = 0;
    const LONG r = RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, data.data(), &dataBytes);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) continue;  // changed while read (grown): left out, as a port that went away
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), dataBytes / sizeof(wchar_t));
    text = text.substr(0, text.find(L'\0'));  // the string ends at its first zero
    if (text.size() > MAX_DATA_CHARS) continue;
    const std::string port = Narrow(text);
    map.push_back({"\\\\.\\" + port, port});
  }
  RegCloseKey(key);
  return map;
}

// The registry's key is the one list of ports Windows has: no COM folder.
std::optional<std::vector<SerialDeviceEntry>> ReadSerialDeviceMap(const PortConfig&) {
  return ReadSerialDeviceMapFromKey(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
}
