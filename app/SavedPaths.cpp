#include "SavedPaths.h"

#include <QFile>
#include <QStringDecoder>

#include <vector>

#include "Framework.h"

QString SavePathFolder(const QString& executableFolder) {
  return executableFolder + QStringLiteral("/SavePath");
}

QString SavedPathsIniFile(const QString& executableFolder) {
  return SavePathFolder(executableFolder) + QStringLiteral("/Save.ini");
}

namespace {

bool IsBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

QString TrimBlanks(const QString& text) {
  qsizetype begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.mid(begin, end - begin);
}

// The one pair of quotes the reader strips: the same quote character (' or ")
// first and last, around at least nothing.
bool HasQuotePair(const QString& text) {
  return text.size() >= 2 && (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\'')) &&
         text.back() == text.front();
}

// A value as the reader gives it back from its (already trimmed) line text.
QString UnquotedValue(const QString& text) { return HasQuotePair(text) ? text.mid(1, text.size() - 2) : text; }

// A value as written: wrapped in double quotes when the reader would
// otherwise trim its blanks or strip its own quotes, so it reads back as is.
QString QuotedValue(const QString& value) {
  const bool needsQuotes =
      !value.isEmpty() && (IsBlank(value.front()) || IsBlank(value.back()) || HasQuotePair(value));
  return needsQuotes ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

// One line of the file. The bytes are kept so that a write gives every line
// it does not change back exactly as it was, whatever its encoding or ending.
struct IniLine {
  QByteArray bytes;       // without the line's end
  QByteArray end;         // "\n", "\r\n", or empty for a last line without one
  QString text;           // bytes decoded as UTF-8
};

struct IniLines {
  QByteArray bom;  // the byte order marks that opened the file, kept for the write
  std::vector<IniLine> lines;
};

// The lines of the file; false when it cannot be read.
bool ReadLines(const QString& file, IniLines& ini) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return false;
  QByteArray all = in.readAll();
  // Earlier versions decoded the whole file, which drops one byte order mark,
  // and then removed one more; a mark further on is part of its line.
  static const QByteArray kBom("\xEF\xBB\xBF");
  for (int marks = 0; marks < 2 && all.startsWith(kBom); ++marks) {
    ini.bom += kBom;
    all.remove(0, kBom.size());
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  qsizetype start = 0;
  while (start < all.size()) {
    const qsizetype newline = all.indexOf('\n', start);
    IniLine line;
    if (newline < 0) {
      line.bytes = all.mid(start);
      start = all.size();
    } else {
      line.bytes = all.mid(start, newline - start);
      line.end = "\n";
      if (line.bytes.endsWith('\r')) {
        line.bytes.chop(1);
        line.end = "\r\n";
      }
      start = newline + 1;
    }
    line.text = utf8.decode(line.bytes);
    ini.lines.push_back(std::move(line));
  }
  return true;
}

// "[name]" gives name; anything else gives a null string.
QString SectionName(const QString& line) {
  const QString trimmed = TrimBlanks(line);
  if (!trimmed.startsWith(QLatin1Char('['))) return {};
  const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
  if (close < 0) return {};
  return TrimBlanks(trimmed.mid(1, close - 1));
}

// For "key = value" sets key and value; false for lines without "=".
bool SplitKeyLine(const QString& line, QString& key, QString& value) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  if (eq < 0) return false;
  key = TrimBlanks(line.left(eq));
  value = TrimBlanks(line.mid(eq + 1));
  return true;
}

IniLine NewLine(const QString& text) { return {text.toUtf8(), "\n", text}; }

}  // namespace

bool IniValueCanBeSaved(const QString& value) {
  return !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r'));
}

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& defaultValue) {
  IniLines ini;
  QString result = defaultValue;
  if (ReadLines(file, ini)) {
    bool inSection = false;
    for (const IniLine& line : ini.lines) {
      const QString name = SectionName(line.text);
      if (!name.isNull()) {
        inSection = name.compare(section, Qt::CaseInsensitive) == 0;
        continue;
      }
      QString lineKey, value;
      if (inSection && SplitKeyLine(line.text, lineKey, value) &&
          lineKey.compare(key, Qt::CaseInsensitive) == 0) {
        result = UnquotedValue(value);
        break;
      }
    }
  }
  return result.left(kIniValueMaxChars);
}

void WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value) {
  if (!IniValueCanBeSaved(value)) {
    throw Exception(QStringLiteral("Unable to write a line break to %1").arg(file));
  }
  IniLines ini;
  ReadLines(file, ini);  // an absent file is an empty one
  std::vector<IniLine>& lines = ini.lines;
  const QString keyLine = key + QLatin1Char('=') + QuotedValue(value);
  qsizetype sectionStart = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const QString name = SectionName(lines[i].text);
    if (!name.isNull() && name.compare(section, Qt::CaseInsensitive) == 0) {
      sectionStart = static_cast<qsizetype>(i);
      break;
    }
  }
  if (sectionStart < 0) {
    lines.push_back(NewLine(QLatin1Char('[') + section + QLatin1Char(']')));
    lines.push_back(NewLine(keyLine));
  } else {
    size_t insertAt = static_cast<size_t>(sectionStart) + 1;  // after the section's last key line
    bool replaced = false;
    for (size_t i = insertAt; i < lines.size(); ++i) {
      if (!SectionName(lines[i].text).isNull()) break;
      QString lineKey, lineValue;
      if (SplitKeyLine(lines[i].text, lineKey, lineValue)) {
        if (lineKey.compare(key, Qt::CaseInsensitive) == 0) {
          const QByteArray end = lines[i].end.isEmpty() ? QByteArray("\n") : lines[i].end;
          lines[i] = NewLine(keyLine);
          lines[i].end = end;
          replaced = true;
          break;
        }
      }
      if (!TrimBlanks(lines[i].text).isEmpty()) insertAt = i + 1;
    }
    if (!replaced) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), NewLine(keyLine));
  }
  QByteArray bytes = ini.bom;
  for (const IniLine& line : lines) {
    bytes += line.bytes;
    if (!line.end.isEmpty()) {
      bytes += line.end;
    } else {
      // A last line that had no end gets one; after a carriage return that
      // must be "\r\n", or the reader would take the "\r" as part of the end.
      bytes += line.bytes.endsWith('\r') ? QByteArray("\r\n") : QByteArray("\n");
    }
  }
  QFile out(file);
  const bool ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  out.write(bytes) == bytes.size() && out.flush();
  out.close();
  if (!ok || out.error() != QFileDevice::NoError) {
    throw Exception(QStringLiteral("Unable to write to %1").arg(file));
  }
}
