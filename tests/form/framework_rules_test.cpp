// What the window takes from the form framework without a toolkit: the
// exception display's text rule and the integer conversion of a text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "FrameworkRules.h"

TEST(ExceptionDisplay, FullStopAfterALastCharacterAboveIt) {
  struct Case {
    const char* message;
    const char* text;
  };
  const Case cases[] = {
      {"", ""},
      {"Unable to write to /x/SavePath/Save.ini", "Unable to write to /x/SavePath/Save.ini."},
      {"ends with a dot.", "ends with a dot."},
      {"ends with a dash -", "ends with a dash -"},  // 0x2D is below "."
      {"ends with !", "ends with !"},                // 0x21
      {"ends with a slash /", "ends with a slash /."},  // 0x2F is above "."
      {"12", "12."},
      {"(x)", "(x)"},  // 0x29
      {"Ü", "Ü."},
      {"'Com Port' is not a valid integer value", "'Com Port' is not a valid integer value."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExceptionDisplayText(c.message), c.text) << c.message;
  }
}

TEST(StrToInt, ConvertsAsTheFramework) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case valid[] = {
      {"9600", 9600},  {"115200", 115200}, {"3", 3},           {"012", 12},
      {"+7", 7},       {"-7", -7},         {"  42", 42},        {"$1F", 31},
      {"0x1f", 31},    {"x10", 16},        {"$FFFFFFFF", -1},   {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
  };
  for (const Case& c : valid) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
  const char* invalid[] = {"Com Port", "", " ", "12 ", "1.5", "9600x", "+", "-", "$", "0x",
                           "2147483648", "-2147483649", "$100000000", "１２"};
  for (const char* text : invalid) {
    try {
      StrToInt(text);
      ADD_FAILURE() << "no exception for '" << text << "'";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}
