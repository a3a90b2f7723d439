#pragma once
// Reading the sound data of a WAVE (RIFF) file held in memory: PCM only, 8 or 16 bits a
// sample, any rate and channel count, which is what the voice recordings are.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace morvane {

struct TWaveSound {
  int Channels = 0;
  int SampleRate = 0;                  // frames per second
  int BitsPerSample = 0;               // 8 (unsigned) or 16 (signed, little-endian)
  std::span<const std::byte> Samples;  // interleaved frames, inside the file's bytes

  int BytesPerFrame() const { return Channels * BitsPerSample / 8; }
  size_t Frames() const { return Samples.size() / static_cast<size_t>(BytesPerFrame()); }
  double Seconds() const { return static_cast<double>(Frames()) / SampleRate; }
};

// The sound of a WAVE file; nothing when the bytes are not a PCM WAVE file this can play.
// The samples point into File, which must outlive the result.
std::optional<TWaveSound> ParseWave(std::span<const std::byte> File);

// Largest sample magnitude, as a share of full scale (0 for silence, 1 at full scale).
double PeakLevel(const TWaveSound& Sound);

}  // namespace morvane
