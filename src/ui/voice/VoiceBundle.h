#pragma once
// "Res01", the resource library of the voice: a Qt binary resource file named Res01.rcc in
// the program's directory, holding one WAVE resource per sound ("0F" ... "9F", "minusF",
// "0M" ... "9M", "minusM"). It is data only, so loading it runs no code from beside the
// program, and it is untrusted: a file whose sizes and offsets do not add up is refused.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>

namespace morvane {

// Where the voice thread looks for the bundle: Res01.rcc beside the running program, else in
// the installed data folder.
QString VoiceBundlePath();
// Points VoiceBundlePath elsewhere (an empty path restores the default); for tests, which
// live in their own directories.
void SetVoiceBundlePath(const QString& Path);

// One loading of the bundle, like a handle of a loaded library: it holds the sounds from its
// creation to its destruction. They are read from the file when it is created. Reading the
// sounds is safe on any thread.
class TVoiceBundle {
 public:
  explicit TVoiceBundle(const QString& Path);
  // A loading of the bundle's bytes as they would be read from its file.
  static TVoiceBundle FromData(const QByteArray& Data);

  bool Loaded() const { return FLoaded; }
  // The WAVE resource Name; empty when it is missing.
  QByteArray FindWave(const QString& Name) const;
  // The names of its WAVE resources.
  QStringList WaveNames() const;

 private:
  TVoiceBundle() = default;
  void Load(const QByteArray& Data);

  bool FLoaded = false;
  std::map<QString, QByteArray> FWaves;
};

}  // namespace morvane
