#pragma once
// "Res01", the resource library of the voice: a Qt binary resource file named Res01.rcc in
// the program's directory, holding one WAVE resource per sound ("0F" ... "9F", "minusF",
// "0M" ... "9M", "minusM"). It is data only, so loading it runs no code from beside the
// program; Qt checks its header and reads the sounds in place.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace morvane {

// Where the voice thread looks for the bundle: Res01.rcc beside the running program.
QString VoiceBundlePath();
// Points VoiceBundlePath elsewhere (an empty path restores the default); for tests, which
// live in their own directories.
void SetVoiceBundlePath(const QString& Path);

// One loading of the bundle, like a handle of a loaded library: each registers the file
// under a root of its own and unregisters it when destroyed. Thread-safe: Qt guards its
// resource list, and a registration stays valid while any reader uses it.
class TVoiceBundle {
 public:
  explicit TVoiceBundle(const QString& Path);
  ~TVoiceBundle();
  TVoiceBundle(const TVoiceBundle&) = delete;
  TVoiceBundle& operator=(const TVoiceBundle&) = delete;

  bool Loaded() const { return FLoaded; }
  // A copy of the WAVE resource Name; empty when it is missing.
  QByteArray FindWave(const QString& Name) const;
  // The names of its WAVE resources, in the bundle's order.
  QStringList WaveNames() const;

 private:
  QString FPath;
  QString FRoot;  // where this loading is mapped among Qt's resources
  bool FLoaded = false;
};

}  // namespace morvane
