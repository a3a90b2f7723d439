#include "ui/VoiceBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QResource>

#include <atomic>

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
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Res01.rcc"));
}

void SetVoiceBundlePath(const QString& Path) {
  QMutexLocker Lock(&PathLock);
  BundlePathOverride = Path;
}

TVoiceBundle::TVoiceBundle(const QString& Path)
    : FPath(Path), FRoot(QStringLiteral("/Res01-%1").arg(NextRoot.fetch_add(1))) {
  FLoaded = QResource::registerResource(FPath, FRoot);
}

TVoiceBundle::~TVoiceBundle() {
  if (FLoaded) QResource::unregisterResource(FPath, FRoot);
}

QByteArray TVoiceBundle::FindWave(const QString& Name) const {
  if (!FLoaded) return {};
  const QResource Sound(QStringLiteral(":%1/WAVE/%2").arg(FRoot, Name));
  if (!Sound.isValid()) return {};
  // An uncompressed resource is handed out in place, in the mapped file; a copy stays valid
  // after this loading is released.
  QByteArray Wave = Sound.uncompressedData();
  Wave.detach();
  return Wave;
}

QStringList TVoiceBundle::WaveNames() const {
  if (!FLoaded) return {};
  return QDir(QStringLiteral(":%1/WAVE").arg(FRoot)).entryList(QDir::Files, QDir::NoSort);
}

}  // namespace morvane
