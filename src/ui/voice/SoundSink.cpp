#include "ui/voice/SoundSink.h"

#include <atomic>

#include "ui/voice/AlsaSink.h"

namespace morvane {

namespace {
std::atomic<TSoundSink*> SinkInPlace{nullptr};
}  // namespace

TSoundSink& DefaultSoundSink() {
  if (TSoundSink* Sink = SinkInPlace.load()) return *Sink;
  // One device sink for the run, so that a missing device is reported once.
  static TAlsaSink Device(TAlsaSink::ConfiguredDevice());
  return Device;
}

void SetDefaultSoundSink(TSoundSink* Sink) {
  SinkInPlace.store(Sink);
}

}  // namespace morvane
