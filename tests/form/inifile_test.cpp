// The saved paths' INI file with the semantics of the profile functions,
// against real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FrameworkRules.h"
#include "SavedPaths.h"
#include "TempFolder.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Bytes readable in a failure: every byte outside printable ASCII as %XX.
std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '%') {
      out += static_cast<char>(c);
    } else {
      static const char* hex = "0123456789ABCDEF";
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

TEST(IniFile, ProfileSemantics) {
  lumo_test::TempFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string ini = dir.File("a.ini");
  WriteFile(ini,
            "; comment\r\n[other]\r\nDSP_PTAH=wrong\r\n[ file_path ]\r\n  dsp_ptah =  /p/x.bin  \r\nCM_PTAH=\"/q "
            "y\"\r\n\r\n[last]\r\nk=v\r\n");
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), "/p/x.bin");
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "CM_PTAH", "0"), "/q y");
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "Motor_PTAH", "0"), "0");
  EXPECT_EQ(ReadIniString(dir.File("none.ini"), "FILE_PATH", "DSP_PTAH", "0"), "0");
  WriteIniString(ini, "FILE_PATH", "Motor_PTAH", "/m");
  WriteIniString(ini, "FILE_PATH", "DSP_PTAH", "/d");
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "Motor_PTAH", "0"), "/m");
  EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), "/d");
  EXPECT_EQ(ReadIniString(ini, "other", "DSP_PTAH", "0"), "wrong");
  EXPECT_EQ(ReadIniString(ini, "last", "k", "0"), "v");
  try {
    WriteIniString(dir.File("no/such/dir/x.ini"), "FILE_PATH", "DSP_PTAH", "/d");
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + dir.Path() + "/no/such/dir/x.ini");
  }
}

// What a write puts on the line, and that the reader gives exactly the value
// back: quotes only where the profile rules would otherwise strip blanks or a
// pair of quotes, ordinary paths written as earlier versions wrote them.
TEST(IniFile, ValuesReadBackExactly) {
  struct Case {
    std::string value, line;
  };
  const Case cases[] = {
      {"/p/plain.bin", "DSP_PTAH=/p/plain.bin"},
      {"/p/a b=c;d [e] #f.bin", "DSP_PTAH=/p/a b=c;d [e] #f.bin"},
      {"/p/\u00fcber/\u65e5\u672c.bin", "DSP_PTAH=/p/\u00fcber/\u65e5\u672c.bin"},
      {"", "DSP_PTAH="},
      {" /lead", "DSP_PTAH=\" /lead\""},
      {"/trail ", "DSP_PTAH=\"/trail \""},
      {"\t/tabs\t", "DSP_PTAH=\"\t/tabs\t\""},
      {"  ", "DSP_PTAH=\"  \""},
      {"\"abc\"", "DSP_PTAH=\"\"abc\"\""},
      {"'abc'", "DSP_PTAH=\"'abc'\""},
      {"\"\"", "DSP_PTAH=\"\"\"\""},
      {"''", "DSP_PTAH=\"''\""},
      {" \"abc\" ", "DSP_PTAH=\" \"abc\" \""},
      {"\"abc'", "DSP_PTAH=\"abc'"},  // quotes that do not match stay as they are
      {"'abc\"", "DSP_PTAH='abc\""},
      {"\"/q\" y", "DSP_PTAH=\"/q\" y"},
      {"\"", "DSP_PTAH=\""},
      {"'", "DSP_PTAH='"},
  };
  lumo_test::TempFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string ini = dir.File("a.ini");
    std::filesystem::remove(ini);
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", c.value);
    EXPECT_EQ(FileText(ini), "[FILE_PATH]\n" + c.line + "\n");
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.value);
    // Over a value already there, beside a key with its own quotes.
    WriteIniString(ini, "FILE_PATH", "CM_PTAH", c.value);
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", " x ");
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", c.value);
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.value);
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "CM_PTAH", "0"), c.value);
  }
}

// Files that earlier versions (or a hand edit) left read as they always did.
TEST(IniFile, EarlierFilesReadAsBefore) {
  struct Case {
    const char* line;
    std::string value;
  };
  const Case cases[] = {
      {"DSP_PTAH=/p/x.bin", "/p/x.bin"},
      {"DSP_PTAH=  /p/x.bin \t", "/p/x.bin"},
      {"DSP_PTAH=\"/q y\"", "/q y"},
      {"DSP_PTAH= '/q y' ", "/q y"},
      {"DSP_PTAH=\"\"/q\"\"", "\"/q\""},
      {"DSP_PTAH=\"/q'", "\"/q'"},
      {"DSP_PTAH=\"", "\""},
      {"DSP_PTAH=", ""},
  };
  lumo_test::TempFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string ini = dir.File("a.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WriteFile(ini, std::string("[FILE_PATH]\r\n") + c.line + "\r\n");
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.value);
  }
}

// A read gives at most 2047 characters as the profile functions count them
// (UTF-16 code units), and never half a character.
TEST(IniFile, LongValuesComeBackCutTo2047Characters) {
  struct Case {
    const char* name;
    std::string value;
    std::string read;
  };
  const std::string a2047(2047, 'a');
  const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E: two code units
  const Case cases[] = {
      {"ASCII, 3000", "/x" + std::string(2998, 'a'), "/x" + std::string(2045, 'a')},
      {"ASCII, exactly 2047", a2047, a2047},
      {"two-byte characters count once", std::string(2048, 'a').replace(0, 1, "\xC3\xBC"),
       "\xC3\xBC" + std::string(2046, 'a')},
      {"a character of two code units is not split", std::string(2046, 'a') + clef, std::string(2046, 'a')},
      {"a character of two code units that fits", std::string(2045, 'a') + clef + "b",
       std::string(2045, 'a') + clef},
  };
  lumo_test::TempFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string ini = dir.File("a.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(ini, "[FILE_PATH]\nDSP_PTAH=" + c.value + "\n");
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "0"), c.read);
  }
}

// A value with a line break is refused before the file is touched: an absent
// file stays absent, a present one keeps its bytes.
TEST(IniFile, ALineBreakIsRefusedAndTheFileKept) {
  lumo_test::TempFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string ini = dir.File("a.ini");
  const std::string present = "[FILE_PATH]\r\nDSP_PTAH=/old\r\n";
  for (const char* value : {"/a\nb", "/a\rb", "/a\r\n", "\n", "\r", " /a\n "}) {
    for (bool exists : {false, true}) {
      SCOPED_TRACE(testing::Message() << "exists: " << exists << ", value: " << Escaped(value));
      std::filesystem::remove(ini);
      if (exists) WriteFile(ini, present);
      EXPECT_FALSE(IniValueCanBeSaved(value));
      try {
        WriteIniString(ini, "FILE_PATH", "DSP_PTAH", value);
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Unable to write a line break to " + ini);
      }
      if (exists) {
        EXPECT_EQ(FileText(ini), present);
      } else {
        EXPECT_FALSE(std::filesystem::exists(ini));
      }
    }
  }
  EXPECT_TRUE(IniValueCanBeSaved("/a\tb \f\v"));
}

// A write changes its own line or adds it (and the section), and gives every
// other line back byte for byte, so no other key reads differently after it:
// line ends, a byte order mark, bytes that are no UTF-8.
TEST(IniFile, AWriteKeepsEveryOtherLineAsItWas) {
  struct Case {
    std::string before, after;
  };
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"", "[FILE_PATH]\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\r\nCM_PTAH=/c\r\nDSP_PTAH=/old\r\n[x]\r\n", "[FILE_PATH]\r\nCM_PTAH=/c\r\nDSP_PTAH=/d\r\n[x]\r\n"},
      {"[FILE_PATH]\r\nCM_PTAH=/c\r\n\r\n[x]\r\n", "[FILE_PATH]\r\nCM_PTAH=/c\r\nDSP_PTAH=/d\n\r\n[x]\r\n"},
      {"[FILE_PATH]\nCM_PTAH=/c\r\r\n", "[FILE_PATH]\nCM_PTAH=/c\r\r\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\nCM_PTAH=/c\r", "[FILE_PATH]\nCM_PTAH=/c\r\r\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\nCM_PTAH=/c", "[FILE_PATH]\nCM_PTAH=/c\nDSP_PTAH=/d\n"},
      {"[FILE_PATH]\nDSP_PTAH=/old", "[FILE_PATH]\nDSP_PTAH=/d\n"},
      {"[x]\nk=/\xE9t\xE9\n", "[x]\nk=/\xE9t\xE9\n[FILE_PATH]\nDSP_PTAH=/d\n"},
      {bom + "[FILE_PATH]\nCM_PTAH=/c\n", bom + "[FILE_PATH]\nCM_PTAH=/c\nDSP_PTAH=/d\n"},
      {bom + bom + "[FILE_PATH]\nk=v\n", bom + bom + "[FILE_PATH]\nk=v\nDSP_PTAH=/d\n"},
      {"[x]\n" + bom + "[FILE_PATH]\nk=v\n", "[x]\n" + bom + "[FILE_PATH]\nk=v\n[FILE_PATH]\nDSP_PTAH=/d\n"},
  };
  lumo_test::TempFolder dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string ini = dir.File("a.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(Escaped(c.before));
    WriteFile(ini, c.before);
    const std::string cm = ReadIniString(ini, "FILE_PATH", "CM_PTAH", "absent");
    const std::string k = ReadIniString(ini, "x", "k", "absent");
    const std::string k2 = ReadIniString(ini, "FILE_PATH", "k", "absent");
    WriteIniString(ini, "FILE_PATH", "DSP_PTAH", "/d");
    EXPECT_EQ(Escaped(FileText(ini)), Escaped(c.after));
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "DSP_PTAH", "absent"), "/d");
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "CM_PTAH", "absent"), cm);
    EXPECT_EQ(ReadIniString(ini, "x", "k", "absent"), k);
    EXPECT_EQ(ReadIniString(ini, "FILE_PATH", "k", "absent"), k2);
  }
}
