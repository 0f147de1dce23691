// The Windows platform layer on its own: the registry's port list, image
// paths outside the ANSI code page, the executable's folder, and the
// diagnosis of a port that is not there. Runs under Wine in ./run test.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ConsolePlatform.h"
#include "ImageFile.h"
#include "PortDiagnosis.h"
#include "SerialPort.h"
#include "TempFolder.h"
#include "WinSerialDeviceMap.h"
#include "WinText.h"

namespace {

// A key of the test's own under HKCU, removed with its values.
class TestKey {
 public:
  TestKey() {
    path_ = L"Software\\LumoDownloadToolTest\\" + std::to_wstring(GetCurrentProcessId());
    RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  }
  ~TestKey() {
    if (key_) RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }
  bool Ok() const { return key_ != nullptr; }
  const std::wstring& Path() const { return path_; }
  void Text(const std::wstring& name, const std::wstring& data, DWORD type = REG_SZ) {
    RegSetValueExW(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  void Number(const std::wstring& name, DWORD value) {
    RegSetValueExW(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  void Binary(const std::wstring& name, const std::vector<BYTE>& bytes) {
    RegSetValueExW(key_, name.c_str(), 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  // The names in the registry's own enumeration order.
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      DWORD chars = 256;
      if (RegEnumValueW(key_, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, chars);
    }
    return names;
  }

 private:
  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST(WinDeviceMap, TakesTheTextValuesInTheRegistrysOrderAndSkipsTheRest) {
  TestKey key;
  ASSERT_TRUE(key.Ok());
  key.Text(L"\\Device\\Serial2", L"COM12");
  key.Number(L"\\Device\\Number", 3);
  key.Text(L"\\Device\\Serial0", L"COM3");
  key.Binary(L"\\Device\\Binary", {'C', 0, 'O', 0, 'M', 0, '4', 0});
  key.Text(L"\\Device\\Expand", L"COM7", REG_EXPAND_SZ);
  key.Text(L"\\Device\\TooLong", L"COM" + std::wstring(249, L'9'));  // 252 characters
  key.Text(L"\\Device\\Longest", L"COM" + std::wstring(248, L'8'));  // 251: fits "\\.\" and the zero
  key.Text(L"\\Device\\Wide", L"COMΩ");

  std::vector<std::string> expected;  // the text values that fit, in enumeration order
  for (const std::wstring& name : key.Names()) {
    if (name == L"\\Device\\Serial2") expected.push_back("COM12");
    if (name == L"\\Device\\Serial0") expected.push_back("COM3");
    if (name == L"\\Device\\Expand") expected.push_back("COM7");
    if (name == L"\\Device\\Longest") expected.push_back("COM" + std::string(248, '8'));
    if (name == L"\\Device\\Wide") expected.push_back("COM\xCE\xA9");
  }
  const auto map = ReadSerialDeviceMapFromKey(HKEY_CURRENT_USER, key.Path());
  ASSERT_TRUE(map.has_value());
  std::vector<std::string> data;
  for (const SerialDeviceEntry& entry : *map) {
    data.push_back(entry.Data);
    EXPECT_EQ(entry.ValueName, "\\\\.\\" + entry.Data);
  }
  EXPECT_EQ(data, expected);
}

TEST(WinDeviceMap, AKeyThatCannotBeOpenedIsNoMap) {
  EXPECT_FALSE(ReadSerialDeviceMapFromKey(HKEY_CURRENT_USER, L"Software\\LumoDownloadToolTest\\None").has_value());
  TestKey empty;
  ASSERT_TRUE(empty.Ok());
  const auto map = ReadSerialDeviceMapFromKey(HKEY_CURRENT_USER, empty.Path());
  ASSERT_TRUE(map.has_value());
  EXPECT_TRUE(map->empty());
}

TEST(WinImageFile, OpensPathsOutsideTheAnsiCodePageAndOnlyRegularFiles) {
  lumo_test::TempFolder folder;
  ASSERT_FALSE(folder.Path().empty());
  // "Prüfung-日本-Ωμέγα.bin": no single ANSI code page holds all of it.
  const std::string name = "Pr\xC3\xBC" "fung-\xE6\x97\xA5\xE6\x9C\xAC-\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.bin";
  const std::string path = folder.Path() + "/" + name;
  {
    std::FILE* out = OpenFileForWriting(path);
    ASSERT_NE(out, nullptr);
    std::fputs("image", out);
    std::fclose(out);
  }
  EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(path)));
  std::FILE* in = OpenRegularFileForReading(path);
  ASSERT_NE(in, nullptr);
  char text[16] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, in), 5u);
  std::fclose(in);
  EXPECT_EQ(std::string(text), "image");

  EXPECT_EQ(OpenRegularFileForReading(folder.Path()), nullptr) << "a folder";
  EXPECT_EQ(OpenRegularFileForReading(folder.Path() + "/none.bin"), nullptr) << "a missing file";
  EXPECT_EQ(OpenRegularFileForReading(""), nullptr) << "no path";
}

TEST(WinConsole, TheExecutablesFolderHoldsThisTest) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(PathFromUtf8(folder), std::filesystem::path(std::wstring(self, n)).parent_path());
}

// The bound of a write is the same on every platform; Windows' 32-bit long
// must not cut the line time of a long write at a low rate.
TEST(WinPorts, TheWriteBoundIsTheSharedOne) {
  const struct {
    uint32_t size, rate;
    int64_t ms;
  } cases[] = {
      {0, 9600, 500},         {96, 9600, 650},         {96, 0, 650},  // a rate not set yet counts as 9600
      {1152, 115200, 650},    {100, 14400, 603},       {65536, 1200, 819699},
      {0xFFFFFFFFu, 1200, 53687091687},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WriteBound(c.size, c.rate).count(), c.ms) << c.size << " bytes at " << c.rate;
  }
}

TEST(WinPorts, APortThatIsNotThereIsSaidToBeMissing) {
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfig{});
  EXPECT_EQ(ports->Open("\\\\.\\COM249"), nullptr);
  EXPECT_FALSE(ports->Probe("\\\\.\\COM249"));
  const OpenFailure failure = DiagnoseOpenFailure("\\\\.\\COM249", *ports);
  EXPECT_EQ(failure.Cause, OpenFailureCause::NoSuchDevice);
  EXPECT_NE(failure.Detail.find("COM249"), std::string::npos) << failure.Detail;
  EXPECT_NE(failure.Hint.find("plugged in"), std::string::npos) << failure.Hint;
}

// A file opens, but as no port: the open refuses it, and the diagnosis
// tells it from a port that is not there.
TEST(WinPorts, WhatIsNoPortIsRefusedAndDiagnosed) {
  lumo_test::TempFolder folder;
  ASSERT_FALSE(folder.Path().empty());
  const std::string file = folder.File("image.bin");
  {
    std::FILE* out = OpenFileForWriting(file);
    ASSERT_NE(out, nullptr);
    std::fclose(out);
  }
  const struct {
    std::string path;
    OpenFailureCause cause;
    std::string detail;  // a part of the detail
  } cases[] = {
      {"", OpenFailureCause::NoSuchDevice, "No device was named"},
      {file, OpenFailureCause::Other, "is not a serial port"},
  };
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfig{});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ports->Open(c.path), nullptr);
    const OpenFailure failure = DiagnoseOpenFailure(c.path, *ports);
    EXPECT_EQ(failure.Cause, c.cause);
    EXPECT_NE(failure.Detail.find(c.detail), std::string::npos) << failure.Detail;
    EXPECT_FALSE(failure.Hint.empty());
  }
}

}  // namespace
