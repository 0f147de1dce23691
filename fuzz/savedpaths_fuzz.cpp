// The saved paths: the INI reader on any file, the writer with any value over
// any file.
//
// Input: one byte that picks the key (DSP, CM, Motor), then the value as UTF-8
// up to the first zero byte, then the file's bytes; without a zero byte the
// file does not exist. Paths are text, so a value is what QString::fromUtf8
// makes of its bytes (a zero byte cannot be part of a path).
//
// Properties: a read never gives more than kIniValueMaxChars characters; a
// write is refused exactly when IniValueCanBeSaved says so, and then leaves
// the file byte for byte as it was (or absent); otherwise the key reads back
// the value (cut to kIniValueMaxChars), every other key found in the file
// reads as before, and writing the same value again changes no byte.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "Framework.h"
#include "SavedPaths.h"

namespace {

const QString kAbsent = QStringLiteral("<absent>");

// One file for every input, in a folder removed at exit.
QString ScratchFile() {
  static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/savedpaths_fuzz-XXXXXX"));
  FUZZ_CHECK(dir.isValid());
  return dir.filePath(QStringLiteral("Save.ini"));
}

std::optional<QByteArray> FileBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  return f.readAll();
}

// (section, key) pairs to compare before and after a write: the product's own
// and what looks like one in the file. The reader decides what they read; a
// pair that is no key of the file just reads absent both times.
std::vector<std::pair<QString, QString>> Probes(const QByteArray& bytes) {
  std::vector<std::pair<QString, QString>> probes;
  for (const char* key : {kDspPathKey, kCmPathKey, kMotorPathKey}) {
    probes.emplace_back(QString::fromLatin1(kPathSection), QString::fromLatin1(key));
  }
  QString section;
  for (const QByteArray& raw : bytes.split('\n')) {
    if (probes.size() >= 24) break;
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.contains(QLatin1Char(']'))) {
      section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1).trimmed();
    } else if (line.contains(QLatin1Char('='))) {
      probes.emplace_back(section, line.left(line.indexOf(QLatin1Char('='))).trimmed());
    }
  }
  return probes;
}

QString Read(const QString& file, const QString& section, const QString& key) {
  const QString value = ReadIniString(file, section, key, kAbsent);
  FUZZ_CHECK(value.size() <= kIniValueMaxChars);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* keys[] = {kDspPathKey, kCmPathKey, kMotorPathKey};
  const QString section = QString::fromLatin1(kPathSection);
  const QString key = QString::fromLatin1(keys[data[0] % 3]);
  const QByteArray rest(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  const qsizetype zero = rest.indexOf('\0');
  const QString value = QString::fromUtf8(zero < 0 ? rest : rest.left(zero));

  const QString file = ScratchFile();
  QFile::remove(file);
  std::optional<QByteArray> before;
  if (zero >= 0) {
    before = rest.mid(zero + 1);
    QFile f(file);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(*before) == before->size());
  }
  const auto probes = Probes(before.value_or(QByteArray()));
  std::vector<QString> read;
  for (const auto& [s, k] : probes) read.push_back(Read(file, s, k));

  bool refused = false;
  try {
    WriteIniString(file, section, key, value);
  } catch (const Exception&) {
    refused = true;
  }
  FUZZ_CHECK(refused == !IniValueCanBeSaved(value));
  if (refused) {
    FUZZ_CHECK(FileBytes(file) == before);
    return 0;
  }

  FUZZ_CHECK(Read(file, section, key) == value.left(kIniValueMaxChars));
  for (size_t i = 0; i < probes.size(); ++i) {
    const auto& [s, k] = probes[i];
    if (s.compare(section, Qt::CaseInsensitive) == 0 && k.compare(key, Qt::CaseInsensitive) == 0) continue;
    FUZZ_CHECK(Read(file, s, k) == read[i]);
  }
  const auto once = FileBytes(file);
  WriteIniString(file, section, key, value);
  FUZZ_CHECK(FileBytes(file) == once);
  return 0;
}
