#pragma once
// Sound through ALSA, the default device unless MORVANE_ALSA_DEVICE names another (the test
// suite plays to ALSA's "null" device). On a desktop "default" reaches PipeWire or PulseAudio.

#include <atomic>
#include <string>

#include "ui/voice/SoundSink.h"

namespace morvane {

class TAlsaSink : public TSoundSink {
 public:
  explicit TAlsaSink(std::string Device);
  // The device named by MORVANE_ALSA_DEVICE, else "default".
  static std::string ConfiguredDevice();

  void PlaySound(const QString& Name, const QByteArray& Wave) override;
  // Plays Wave and waits until it has been heard; false when it could not be played. A
  // device that is missing, busy or stalls fails within about a second more than the sound
  // lasts; only the first failure of this sink is reported, as one line on standard error.
  bool Play(const QByteArray& Wave);

  const std::string& Device() const { return FDevice; }

 private:
  void ReportOnce(const std::string& What);

  const std::string FDevice;
  std::atomic<bool> FReported{false};
};

}  // namespace morvane
