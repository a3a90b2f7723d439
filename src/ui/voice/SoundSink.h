#pragma once
// Where the voice thread's sounds go: the sound device, or a recorder in tests.

#include <QByteArray>
#include <QString>

namespace morvane {

class TSoundSink {
 public:
  virtual ~TSoundSink() = default;
  // Plays the WAVE file Wave, the resource Name of the voice bundle, and returns when it has
  // finished. Wave is empty when the bundle or the resource is missing; then nothing is
  // heard. A failure is the sink's to report; the caller goes on with its next sound.
  // Called on voice threads, one call at a time.
  virtual void PlaySound(const QString& Name, const QByteArray& Wave) = 0;
};

// The sink voice threads use unless they are given another: the sound device, or the sink
// that SetDefaultSoundSink put in its place.
TSoundSink& DefaultSoundSink();
// Puts Sink in the sound device's place for threads started from now on, so that tests of a
// whole window can hear what it says; null restores the sound device.
void SetDefaultSoundSink(TSoundSink* Sink);

}  // namespace morvane
