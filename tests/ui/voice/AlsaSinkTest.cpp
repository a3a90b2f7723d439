#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ui/voice/AlsaSink.h"
#include "ui/voice/VoiceBundle.h"
#include "ui/voice/WaveFile.h"

using namespace morvane;

namespace {

// A WAVE file of the given format around Data.
QByteArray MakeWave(int Channels, int Rate, int Bits, const QByteArray& Data, int Format = 1) {
  auto Le = [](QByteArray& Out, uint32_t V, int Bytes) {
    for (int I = 0; I < Bytes; ++I) Out.append(char(V >> (8 * I)));
  };
  QByteArray Out("RIFF");
  Le(Out, uint32_t(36 + Data.size()), 4);
  Out += "WAVEfmt ";
  Le(Out, 16, 4);
  Le(Out, uint32_t(Format), 2);
  Le(Out, uint32_t(Channels), 2);
  Le(Out, uint32_t(Rate), 4);
  Le(Out, uint32_t(Rate * Channels * Bits / 8), 4);
  Le(Out, uint32_t(Channels * Bits / 8), 2);
  Le(Out, uint32_t(Bits), 2);
  Out += "data";
  Le(Out, uint32_t(Data.size()), 4);
  return Out + Data;
}

std::optional<TWaveSound> Parse(const QByteArray& Wave) {
  return ParseWave(std::as_bytes(std::span(Wave.constData(), size_t(Wave.size()))));
}

TEST(WaveFileTest, ReadsPcmAndRefusesWhatItCannotPlay) {
  const QByteArray Samples(4410 * 2 * 2, '\x10');
  auto Sound = Parse(MakeWave(2, 44100, 16, Samples));
  ASSERT_TRUE(Sound);
  EXPECT_EQ(Sound->Frames(), 4410u);
  EXPECT_DOUBLE_EQ(Sound->Seconds(), 0.1);
  // A data size past the end (a recording cut short) is cut to whole frames that are there.
  QByteArray Cut = MakeWave(1, 8000, 16, QByteArray(101, '\0'));
  Cut.chop(20);
  ASSERT_TRUE(Parse(Cut));
  EXPECT_EQ(Parse(Cut)->Samples.size(), 80u);
  EXPECT_FALSE(Parse(MakeWave(1, 8000, 16, Samples, 3)));  // floating point
  EXPECT_FALSE(Parse(MakeWave(1, 8000, 24, Samples)));
  EXPECT_FALSE(Parse(MakeWave(0, 8000, 16, Samples)));
  EXPECT_FALSE(Parse(QByteArray("RIFF\0\0\0\0WAVEdata", 16)));
  EXPECT_FALSE(Parse(QByteArray("RIFF")));
  EXPECT_FALSE(Parse(QByteArray()));
  EXPECT_DOUBLE_EQ(PeakLevel(*Parse(MakeWave(1, 8000, 8, QByteArray(100, '\x80')))), 0.0);
}

// The real playback code against ALSA's "null" device, which every alsa-lib has.
TEST(AlsaSinkTest, PlaysTheRecordingsToTheNullDevice) {
  TVoiceBundle Bundle(QStringLiteral(MORVANE_RES01));
  ASSERT_TRUE(Bundle.Loaded());
  TAlsaSink Sink("null");
  testing::internal::CaptureStderr();
  for (const char* Name : {"minusF", "0M", "9F"})
    EXPECT_TRUE(Sink.Play(Bundle.FindWave(Name))) << Name;
  EXPECT_TRUE(Sink.Play(MakeWave(1, 8000, 8, QByteArray(800, '\x90'))));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ALSA's "file" plugin in front of "null" keeps what reached the device: the whole sound in its
// own format, then the silence that keeps a device run dry from replaying stale sound.
TEST(AlsaSinkTest, TheWholeSoundReachesTheDevice) {
  QTemporaryDir Home;
  ASSERT_TRUE(Home.isValid());
  const QString Heard = Home.filePath(QStringLiteral("heard.wav"));
  QFile Config(Home.filePath(QStringLiteral(".asoundrc")));
  ASSERT_TRUE(Config.open(QIODevice::WriteOnly));
  Config.write(QStringLiteral("pcm.morvane_capture { type file slave.pcm \"null\" file \"%1\" "
                              "format \"wav\" }\n")
                   .arg(Heard)
                   .toUtf8());
  Config.close();
  // alsa-lib reads ~/.asoundrc when it next loads its configuration.
  setenv("HOME", Home.path().toLocal8Bit().constData(), 1);
  snd_config_update_free_global();

  TVoiceBundle Bundle(QStringLiteral(MORVANE_RES01));
  const QByteArray Wave = Bundle.FindWave(QStringLiteral("minusM"));
  TAlsaSink Sink("morvane_capture");
  ASSERT_TRUE(Sink.Play(Wave));

  QFile File(Heard);
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  const QByteArray Captured = File.readAll();
  const auto Sent = Parse(Wave);
  const auto Got = Parse(Captured);
  ASSERT_TRUE(Sent && Got);
  EXPECT_EQ(Got->SampleRate, Sent->SampleRate);
  EXPECT_EQ(Got->Channels, Sent->Channels);
  ASSERT_GE(Got->Samples.size(), Sent->Samples.size());
  EXPECT_TRUE(std::equal(Sent->Samples.begin(), Sent->Samples.end(), Got->Samples.begin()));
  const auto Tail = Got->Samples.subspan(Sent->Samples.size());
  EXPECT_NEAR(double(Tail.size()) / Got->BytesPerFrame() / Got->SampleRate, 0.1, 0.01);
  EXPECT_TRUE(std::all_of(Tail.begin(), Tail.end(), [](std::byte B) { return B == std::byte{0}; }));
}

TEST(AlsaSinkTest, AFailingDeviceIsReportedOnceAndNeverHangs) {
  TVoiceBundle Bundle(QStringLiteral(MORVANE_RES01));
  TAlsaSink Sink("morvane_no_such_device");
  QElapsedTimer Clock;
  Clock.start();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Sink.Play(Bundle.FindWave(QStringLiteral("1F"))));
  Sink.PlaySound(QStringLiteral("2F"), Bundle.FindWave(QStringLiteral("2F")));
  EXPECT_FALSE(Sink.Play(QByteArray("not a sound")));
  const std::string Err = testing::internal::GetCapturedStderr();
  EXPECT_LT(Clock.elapsed(), 3000);
  EXPECT_NE(Err.find("morvane_no_such_device"), std::string::npos) << Err;
  EXPECT_EQ(std::count(Err.begin(), Err.end(), '\n'), 1) << Err;
}

}  // namespace
