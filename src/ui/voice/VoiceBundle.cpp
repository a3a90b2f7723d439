#include "ui/voice/VoiceBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>

#include <span>

#include "settings/SettingsPath.h"
#include "ui/voice/ResourceFile.h"

namespace morvane {

namespace {

// Protects BundlePathOverride.
QMutex PathLock;
QString BundlePathOverride;

// Far above the 22 sounds of the real bundle (under 1 MB); a larger file is no voice bundle.
constexpr qint64 MaxBundleBytes = 64 * 1024 * 1024;
constexpr quint32 MaxWaveBytes = 16 * 1024 * 1024;

const QString WaveFolder = QStringLiteral("WAVE/");

// A compressed resource in Qt's zlib form, its length (4 bytes, big-endian) first.
QByteArray Uncompress(const QByteArray& Packed) {
  if (Packed.size() < 4) return {};
  const auto Byte = [&Packed](int I) { return quint32(quint8(Packed[I])); };
  const quint32 Length = Byte(0) << 24 | Byte(1) << 16 | Byte(2) << 8 | Byte(3);
  if (Length > MaxWaveBytes) return {};
  const QByteArray Wave = qUncompress(Packed);
  return quint32(Wave.size()) == Length ? Wave : QByteArray();
}

}  // namespace

QString VoiceBundlePath() {
  {
    QMutexLocker Lock(&PathLock);
    if (!BundlePathOverride.isEmpty()) return BundlePathOverride;
  }
  return QString::fromStdString(ProgramDataFile("Res01.rcc"));
}

void SetVoiceBundlePath(const QString& Path) {
  QMutexLocker Lock(&PathLock);
  BundlePathOverride = Path;
}

TVoiceBundle::TVoiceBundle(const QString& Path) {
  // Read by this program's own checked reader rather than registered with Qt's resource
  // system, which trusts the file's offsets: a damaged bundle is refused, not followed.
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly) || File.size() > MaxBundleBytes) return;
  Load(File.read(MaxBundleBytes));
}

TVoiceBundle TVoiceBundle::FromData(const QByteArray& Data) {
  TVoiceBundle Bundle;
  Bundle.Load(Data);
  return Bundle;
}

void TVoiceBundle::Load(const QByteArray& Data) {
  const auto Entries =
      ReadResourceFile(std::as_bytes(std::span(Data.constData(), size_t(Data.size()))));
  if (!Entries) return;
  std::map<QString, QByteArray> Waves;
  for (const TResourceEntry& Entry : *Entries) {
    const QString Path = QString::fromStdString(Entry.Path);
    if (!Path.startsWith(WaveFolder) || Path.indexOf(QLatin1Char('/'), WaveFolder.size()) >= 0)
      continue;  // only the sounds of the WAVE folder itself
    QByteArray Wave(Data.constData() + Entry.Offset, qsizetype(Entry.Size));
    if (Entry.Compressed) {
      Wave = Uncompress(Wave);
      if (Wave.isEmpty()) return;  // a stream that does not unpack to its stated length
    }
    Waves.emplace(Path.mid(WaveFolder.size()), std::move(Wave));
  }
  FWaves = std::move(Waves);
  FLoaded = true;
}

QByteArray TVoiceBundle::FindWave(const QString& Name) const {
  const auto It = FWaves.find(Name);
  return It == FWaves.end() ? QByteArray() : It->second;
}

QStringList TVoiceBundle::WaveNames() const {
  QStringList Names;
  for (const auto& [Name, Wave] : FWaves) Names.push_back(Name);
  return Names;
}

}  // namespace morvane
