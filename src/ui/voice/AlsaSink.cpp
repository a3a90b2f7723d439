#include "ui/voice/AlsaSink.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "ui/voice/WaveFile.h"

namespace morvane {

namespace {

using TClock = std::chrono::steady_clock;

// How much sound ALSA buffers ahead; also the silence written after each sound, so that a
// device that runs dry plays silence rather than the stale end of its buffer.
constexpr unsigned LatencyUs = 100000;
// Beyond the length of the sound, how long a play may take before the device counts as stalled.
constexpr auto StallMargin = std::chrono::milliseconds(1000);

// alsa-lib prints its own complaints (a missing card, an unknown device) on standard error,
// several lines a call; the sink says once in its own line what went wrong instead.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void QuietAlsa() {
  static std::once_flag Once;
  std::call_once(Once, [] { snd_lib_error_set_handler(&QuietAlsaError); });
}

struct TPcmClose {
  void operator()(snd_pcm_t* Pcm) const { snd_pcm_close(Pcm); }
};
using TPcm = std::unique_ptr<snd_pcm_t, TPcmClose>;

// Writes Frames frames from Data; false when the device fails or takes past Deadline.
bool WriteFrames(snd_pcm_t* Pcm, const std::byte* Data, size_t Frames, size_t FrameBytes,
                 TClock::time_point Deadline, int& Err) {
  while (Frames > 0) {
    const snd_pcm_sframes_t N = snd_pcm_writei(Pcm, Data, Frames);
    if (N == -EAGAIN) {
      if (TClock::now() > Deadline) {
        Err = -ETIMEDOUT;
        return false;
      }
      snd_pcm_wait(Pcm, 100);
      continue;
    }
    if (N < 0) {
      // An underrun (the machine was busy) or a suspend: start again where we are.
      Err = snd_pcm_recover(Pcm, static_cast<int>(N), 1);
      if (Err < 0) return false;
      continue;
    }
    Data += static_cast<size_t>(N) * FrameBytes;
    Frames -= static_cast<size_t>(N);
  }
  return true;
}

}  // namespace

TAlsaSink::TAlsaSink(std::string Device) : FDevice(std::move(Device)) {}

std::string TAlsaSink::ConfiguredDevice() {
  const char* Device = std::getenv("MORVANE_ALSA_DEVICE");
  return Device && *Device ? Device : "default";
}

void TAlsaSink::PlaySound(const QString&, const QByteArray& Wave) {
  // A sound missing from the bundle, or no bundle at all, is simply not heard.
  if (!Wave.isEmpty()) Play(Wave);
}

bool TAlsaSink::Play(const QByteArray& Wave) {
  const auto Sound = ParseWave(std::as_bytes(std::span(Wave.constData(), size_t(Wave.size()))));
  if (!Sound) {
    ReportOnce("a voice recording is not a PCM WAVE sound");
    return false;
  }
  QuietAlsa();
  // Non-blocking open: a device held by another program fails at once instead of waiting.
  snd_pcm_t* Raw = nullptr;
  int Err = snd_pcm_open(&Raw, FDevice.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (Err < 0) {
    ReportOnce("cannot open ALSA device \"" + FDevice + "\": " + snd_strerror(Err));
    return false;
  }
  const TPcm Pcm(Raw);
  const bool Wide = Sound->BitsPerSample == 16;
  Err = snd_pcm_set_params(Pcm.get(), Wide ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8,
                           SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(Sound->Channels),
                           static_cast<unsigned>(Sound->SampleRate), 1, LatencyUs);
  if (Err < 0) {
    ReportOnce("ALSA device \"" + FDevice + "\" cannot play the voice: " + snd_strerror(Err));
    return false;
  }

  const size_t FrameBytes = static_cast<size_t>(Sound->BytesPerFrame());
  const size_t TailFrames = static_cast<size_t>(Sound->SampleRate) * LatencyUs / 1000000;
  const std::vector<std::byte> Tail(TailFrames * FrameBytes, Wide ? std::byte{0} : std::byte{0x80});
  const auto Deadline = TClock::now() +
                        std::chrono::microseconds(static_cast<int64_t>(Sound->Seconds() * 1e6)) +
                        std::chrono::microseconds(LatencyUs) + StallMargin;
  if (!WriteFrames(Pcm.get(), Sound->Samples.data(), Sound->Frames(), FrameBytes, Deadline, Err) ||
      !WriteFrames(Pcm.get(), Tail.data(), TailFrames, FrameBytes, Deadline, Err)) {
    ReportOnce("ALSA device \"" + FDevice + "\" failed while playing: " + snd_strerror(Err));
    snd_pcm_drop(Pcm.get());
    return false;
  }
  // A sound shorter than the buffer has not started by itself yet.
  if (snd_pcm_state(Pcm.get()) == SND_PCM_STATE_PREPARED) snd_pcm_start(Pcm.get());

  // Wait until only the silent tail is left, then cut it. Draining would be simpler, but a
  // blocking drain on a stalled device never returns; this wait has a deadline.
  for (;;) {
    snd_pcm_sframes_t Delay = 0;
    if (snd_pcm_state(Pcm.get()) != SND_PCM_STATE_RUNNING || snd_pcm_delay(Pcm.get(), &Delay) < 0 ||
        Delay <= static_cast<snd_pcm_sframes_t>(TailFrames))
      break;
    if (TClock::now() > Deadline) {
      ReportOnce("ALSA device \"" + FDevice + "\" stalled while playing");
      snd_pcm_drop(Pcm.get());
      return false;
    }
    const auto Left =
        (Delay - static_cast<snd_pcm_sframes_t>(TailFrames)) * 1000 / Sound->SampleRate;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<int64_t>(Left, 1, 20)));
  }
  snd_pcm_drop(Pcm.get());
  return true;
}

void TAlsaSink::ReportOnce(const std::string& What) {
  if (FReported.exchange(true)) return;
  std::fprintf(stderr, "morvane: no voice: %s\n", What.c_str());
}

}  // namespace morvane
