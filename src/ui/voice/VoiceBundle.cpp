#include "ui/voice/VoiceBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QResource>

#include <atomic>

#include "settings/SettingsPath.h"

namespace morvane {

namespace {

// Protects BundlePathOverride.
QMutex PathLock;
QString BundlePathOverride;

std::atomic<int> NextRoot{1};

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
  // A root of its own, so that this reading sees this file and no other registration of it.
  const QString Root = QStringLiteral("/Res01-%1").arg(NextRoot.fetch_add(1));
  FLoaded = QResource::registerResource(Path, Root);
  if (!FLoaded) return;
  const QString Type = QStringLiteral(":%1/WAVE/").arg(Root);
  for (const QString& Name : QDir(Type).entryList(QDir::Files)) {
    // An uncompressed resource is handed out in place, in the registered file; the copy
    // stays valid once the registration is gone.
    QByteArray Wave = QResource(Type + Name).uncompressedData();
    Wave.detach();
    FWaves.emplace(Name, std::move(Wave));
  }
  QResource::unregisterResource(Path, Root);
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
