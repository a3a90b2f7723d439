#include "ui/voice/WaveFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace morvane {

namespace {

uint32_t Le32(const std::byte* P) {
  return static_cast<uint32_t>(P[0]) | static_cast<uint32_t>(P[1]) << 8 |
         static_cast<uint32_t>(P[2]) << 16 | static_cast<uint32_t>(P[3]) << 24;
}

uint16_t Le16(const std::byte* P) {
  return static_cast<uint16_t>(static_cast<uint16_t>(P[0]) | static_cast<uint16_t>(P[1]) << 8);
}

bool Tag(const std::byte* P, const char* Name) {
  return std::memcmp(P, Name, 4) == 0;
}

}  // namespace

std::optional<TWaveSound> ParseWave(std::span<const std::byte> File) {
  if (File.size() < 12 || !Tag(File.data(), "RIFF") || !Tag(File.data() + 8, "WAVE"))
    return std::nullopt;
  TWaveSound Sound;
  bool HaveFormat = false;
  size_t Pos = 12;
  // Chunks: four-character id, 32-bit size, data padded to an even length. A size that runs
  // past the end is cut to what is there (recorders that stream leave it unset).
  while (File.size() - Pos >= 8) {
    const std::byte* Head = File.data() + Pos;
    const size_t Size = std::min<size_t>(Le32(Head + 4), File.size() - Pos - 8);
    const std::byte* Body = Head + 8;
    if (Tag(Head, "fmt ")) {
      if (Size < 16 || Le16(Body) != 1) return std::nullopt;  // PCM only
      Sound.Channels = Le16(Body + 2);
      Sound.SampleRate = static_cast<int>(Le32(Body + 4));
      Sound.BitsPerSample = Le16(Body + 14);
      if (Sound.Channels < 1 || Sound.Channels > 8 || Sound.SampleRate < 1000 ||
          Sound.SampleRate > 384000 || (Sound.BitsPerSample != 8 && Sound.BitsPerSample != 16))
        return std::nullopt;
      HaveFormat = true;
    } else if (Tag(Head, "data")) {
      if (!HaveFormat) return std::nullopt;
      const size_t Whole = Size - Size % static_cast<size_t>(Sound.BytesPerFrame());
      Sound.Samples = File.subspan(Pos + 8, Whole);
      return Sound;
    }
    Pos += 8 + Size + (Size & 1);
    if (Pos > File.size()) break;
  }
  return std::nullopt;
}

double PeakLevel(const TWaveSound& Sound) {
  int Peak = 0;
  const std::byte* P = Sound.Samples.data();
  const size_t Count = Sound.Samples.size() / static_cast<size_t>(Sound.BitsPerSample / 8);
  for (size_t I = 0; I < Count; ++I) {
    const int V = Sound.BitsPerSample == 16 ? static_cast<int16_t>(Le16(P + 2 * I))
                                            : static_cast<int>(P[I]) - 128;
    Peak = std::max(Peak, std::abs(V));
  }
  return Sound.BitsPerSample == 16 ? Peak / 32768.0 : Peak / 128.0;
}

}  // namespace morvane
