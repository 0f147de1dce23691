#include "SavedPaths.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "FrameworkRules.h"
#include "ImageFile.h"

std::string SavePathFolder(const std::string& settingsFolder) { return settingsFolder + "/SavePath"; }

std::string SavedPathsIniFile(const std::string& settingsFolder) { return SavePathFolder(settingsFolder) + "/Save.ini"; }

namespace {

// Length in bytes of the UTF-8 character that starts at text[i], and its
// UTF-16 code units; a byte that starts no valid character is one of each.
void NextCharacter(const std::string& text, size_t i, size_t& bytes, size_t& units) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  bytes = 1;
  units = 1;
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  }
  if (length == 0 || i + length > text.size()) return;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return;
  }
  bytes = length;
  units = length == 4 ? 2 : 1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Section and key names are ASCII words; other bytes match only themselves.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The one pair of quotes the reader strips: the same quote character (' or ")
// first and last, around at least nothing.
bool HasQuotePair(const std::string& text) {
  return text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front();
}

// A value as the reader gives it back from its (already trimmed) line text.
std::string UnquotedValue(const std::string& text) {
  return HasQuotePair(text) ? text.substr(1, text.size() - 2) : text;
}

// A value as written: wrapped in double quotes when the reader would
// otherwise trim its blanks or strip its own quotes, so it reads back as is.
std::string QuotedValue(const std::string& value) {
  const bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || HasQuotePair(value));
  return needsQuotes ? '"' + value + '"' : value;
}

// One line of the file. The bytes are kept so that a write gives every line
// it does not change back exactly as it was, whatever its encoding or ending.
struct IniLine {
  std::string bytes;  // without the line's end
  // "\n", "\r\n", or empty for a last line without one: always one of these
  // literals, so nothing is copied.
  const char* end = "";
};

struct IniLines {
  std::string bom;  // the byte order marks that opened the file, kept for the write
  std::vector<IniLine> lines;
};

// The lines of the file; false when it cannot be read.
bool ReadLines(const std::string& file, IniLines& ini) {
  std::ifstream in(PathFromUtf8(file), std::ios::binary);
  if (!in) return false;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  // Earlier versions decoded the whole file, which drops one byte order mark,
  // and then removed one more; a mark further on is part of its line.
  static const std::string kBom = "\xEF\xBB\xBF";
  for (int marks = 0; marks < 2 && all.compare(0, kBom.size(), kBom) == 0; ++marks) {
    ini.bom += kBom;
    all.erase(0, kBom.size());
  }
  size_t start = 0;
  while (start < all.size()) {
    const size_t newline = all.find('\n', start);
    IniLine line;
    if (newline == std::string::npos) {
      line.bytes = all.substr(start);
      start = all.size();
    } else {
      line.bytes = all.substr(start, newline - start);
      line.end = "\n";
      if (!line.bytes.empty() && line.bytes.back() == '\r') {
        line.bytes.pop_back();
        line.end = "\r\n";
      }
      start = newline + 1;
    }
    ini.lines.push_back(std::move(line));
  }
  return true;
}

// "[name]" sets name and gives true; anything else gives false.
bool SectionName(const std::string& line, std::string& name) {
  const std::string trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed.front() != '[') return false;
  const size_t close = trimmed.find(']');
  if (close == std::string::npos) return false;
  name = TrimBlanks(trimmed.substr(1, close - 1));
  return true;
}

bool IsSectionLine(const std::string& line) {
  std::string name;
  return SectionName(line, name);
}

// For "key = value" sets key and value; false for lines without "=".
bool SplitKeyLine(const std::string& line, std::string& key, std::string& value) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = TrimBlanks(line.substr(0, eq));
  value = TrimBlanks(line.substr(eq + 1));
  return true;
}

IniLine NewLine(const std::string& text) { return {text, "\n"}; }

}  // namespace

size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    size_t bytes, charUnits;
    NextCharacter(text, i, bytes, charUnits);
    i += bytes;
    units += charUnits;
  }
  return units;
}

std::string CutToIniValueMax(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    size_t bytes, charUnits;
    NextCharacter(text, i, bytes, charUnits);
    if (units + charUnits > kIniValueMaxChars) return text.substr(0, i);
    i += bytes;
    units += charUnits;
  }
  return text;
}

bool IniValueCanBeSaved(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
  IniLines ini;
  std::string result = defaultValue;
  if (ReadLines(file, ini)) {
    bool inSection = false;
    for (const IniLine& line : ini.lines) {
      std::string name;
      if (SectionName(line.bytes, name)) {
        inSection = SameName(name, section);
        continue;
      }
      std::string lineKey, value;
      if (inSection && SplitKeyLine(line.bytes, lineKey, value) && SameName(lineKey, key)) {
        result = UnquotedValue(value);
        break;
      }
    }
  }
  return CutToIniValueMax(result);
}

void WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
  if (!IniValueCanBeSaved(value)) throw Exception("Unable to write a line break to " + file);
  IniLines ini;
  ReadLines(file, ini);  // an absent file is an empty one
  std::vector<IniLine>& lines = ini.lines;
  const std::string keyLine = key + '=' + QuotedValue(value);
  size_t sectionStart = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    if (SectionName(lines[i].bytes, name) && SameName(name, section)) {
      sectionStart = i;
      break;
    }
  }
  if (sectionStart == lines.size()) {
    lines.push_back(NewLine('[' + section + ']'));
    lines.push_back(NewLine(keyLine));
  } else {
    size_t insertAt = sectionStart + 1;  // after the section's last key line
    bool replaced = false;
    for (size_t i = insertAt; i < lines.size(); ++i) {
      if (IsSectionLine(lines[i].bytes)) break;
      std::string lineKey, lineValue;
      if (SplitKeyLine(lines[i].bytes, lineKey, lineValue) && SameName(lineKey, key)) {
        const char* end = *lines[i].end == '\0' ? "\n" : lines[i].end;
        lines[i] = NewLine(keyLine);
        lines[i].end = end;
        replaced = true;
        break;
      }
      if (!TrimBlanks(lines[i].bytes).empty()) insertAt = i + 1;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), NewLine(keyLine));
  }
  std::string bytes = ini.bom;
  for (const IniLine& line : lines) {
    bytes += line.bytes;
    if (*line.end != '\0') {
      bytes += line.end;
    } else {
      // A last line that had no end gets one; after a carriage return that
      // must be "\r\n", or the reader would take the "\r" as part of the end.
      bytes += (!line.bytes.empty() && line.bytes.back() == '\r') ? "\r\n" : "\n";
    }
  }
  std::ofstream out(PathFromUtf8(file), std::ios::binary | std::ios::trunc);
  bool ok = static_cast<bool>(out);
  if (ok) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    ok = static_cast<bool>(out);
  }
  out.close();
  if (!ok || out.fail()) throw Exception("Unable to write to " + file);
}
