// The remembered image paths: SavePath/Save.ini in the settings folder
// (beside the executable, or the user's configuration folder), read and
// written with the semantics of the platform's profile functions
// (GetPrivateProfileStringW / WritePrivateProfileStringW). Paths and values
// are UTF-8.
#pragma once

#include <cstddef>
#include <string>

// "<folder>/SavePath" and "<folder>/SavePath/Save.ini".
std::string SavePathFolder(const std::string& settingsFolder);
std::string SavedPathsIniFile(const std::string& settingsFolder);

// Section and keys exactly as earlier versions wrote them (spelling included).
inline constexpr const char* kPathSection = "FILE_PATH";
inline constexpr const char* kDspPathKey = "DSP_PTAH";
inline constexpr const char* kCmPathKey = "CM_PTAH";
inline constexpr const char* kMotorPathKey = "Motor_PTAH";

// At most this many characters (UTF-16 code units, as the profile functions
// count them) come back from a read: a 2048-character buffer with its
// terminating zero.
inline constexpr size_t kIniValueMaxChars = 2047;

// The text cut to at most kIniValueMaxChars UTF-16 code units, never inside
// a character.
std::string CutToIniValueMax(const std::string& text);

// Number of UTF-16 code units of a UTF-8 text (a byte that starts no valid
// character counts as one).
size_t Utf16Length(const std::string& text);

// The value of key in section, or defaultValue when the file, the section or
// the key is absent; section and key match without regard to case, the value
// loses surrounding blanks and one pair of matching quotes, and is cut with
// CutToIniValueMax.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue);

// False for a value the format cannot hold: a line break (CR or LF) would
// split its line.
bool IniValueCanBeSaved(const std::string& value);

// Sets key=value in section, creating the file and the section when absent,
// and leaves every other line byte for byte as it was. A value that the reader
// would change (blanks at either end, one pair of matching quotes around it)
// is written inside double quotes, which the reader strips again, so
// ReadIniString gives back exactly the value (cut as above). The file is
// written and closed when this returns. Throws Exception("Unable to write to
// <file>") on failure, and Exception("Unable to write a line break to <file>")
// without touching the file for a value that IniValueCanBeSaved refuses.
void WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
