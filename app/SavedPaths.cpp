#include "SavedPaths.h"

#include <QFile>
#include <QStringList>

#include "Framework.h"

QString SavePathFolder(const QString& executableFolder) {
  return executableFolder + QStringLiteral("/SavePath");
}

QString SavedPathsIniFile(const QString& executableFolder) {
  return SavePathFolder(executableFolder) + QStringLiteral("/Save.ini");
}

namespace {

QString TrimBlanks(const QString& text) {
  qsizetype begin = 0, end = text.size();
  while (begin < end && (text[begin] == QLatin1Char(' ') || text[begin] == QLatin1Char('\t'))) ++begin;
  while (end > begin && (text[end - 1] == QLatin1Char(' ') || text[end - 1] == QLatin1Char('\t'))) --end;
  return text.mid(begin, end - begin);
}

// The lines of the file; nullopt-like false when it cannot be read.
bool ReadLines(const QString& file, QStringList& lines) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return false;
  QString text = QString::fromUtf8(in.readAll());
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
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

}  // namespace

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& defaultValue) {
  QStringList lines;
  QString result = defaultValue;
  if (ReadLines(file, lines)) {
    bool inSection = false;
    for (const QString& line : lines) {
      const QString name = SectionName(line);
      if (!name.isNull()) {
        inSection = name.compare(section, Qt::CaseInsensitive) == 0;
        continue;
      }
      QString lineKey, value;
      if (inSection && SplitKeyLine(line, lineKey, value) &&
          lineKey.compare(key, Qt::CaseInsensitive) == 0) {
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
            value.back() == value.front()) {
          value = value.mid(1, value.size() - 2);
        }
        result = value;
        break;
      }
    }
  }
  return result.left(kIniValueMaxChars);
}

void WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value) {
  QStringList lines;
  ReadLines(file, lines);  // an absent file is an empty one
  const QString keyLine = key + QLatin1Char('=') + value;
  qsizetype sectionStart = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString name = SectionName(lines[i]);
    if (!name.isNull() && name.compare(section, Qt::CaseInsensitive) == 0) {
      sectionStart = i;
      break;
    }
  }
  if (sectionStart < 0) {
    lines << (QLatin1Char('[') + section + QLatin1Char(']')) << keyLine;
  } else {
    qsizetype insertAt = sectionStart + 1;  // after the section's last key line
    bool replaced = false;
    for (qsizetype i = sectionStart + 1; i < lines.size(); ++i) {
      if (!SectionName(lines[i]).isNull()) break;
      QString lineKey, lineValue;
      if (SplitKeyLine(lines[i], lineKey, lineValue)) {
        if (lineKey.compare(key, Qt::CaseInsensitive) == 0) {
          lines[i] = keyLine;
          replaced = true;
          break;
        }
      }
      if (!TrimBlanks(lines[i]).isEmpty()) insertAt = i + 1;
    }
    if (!replaced) lines.insert(insertAt, keyLine);
  }
  QByteArray bytes;
  for (const QString& line : lines) bytes += line.toUtf8() + '\n';
  QFile out(file);
  const bool ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                  out.write(bytes) == bytes.size() && out.flush();
  out.close();
  if (!ok || out.error() != QFileDevice::NoError) {
    throw Exception(QStringLiteral("Unable to write to %1").arg(file));
  }
}
