#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>
#include <set>

#include "ui/voice/RecordingSink.h"
#include "ui/voice/ResourceFile.h"
#include "ui/voice/VoiceBundle.h"
#include "ui/voice/VoiceThread.h"
#include "ui/voice/WaveFile.h"

using namespace morvane;

namespace {

std::span<const std::byte> Bytes(const QByteArray& Data) {
  return std::as_bytes(std::span(Data.constData(), size_t(Data.size())));
}

TEST(VoiceBundleTest, BesideTheProgramHoldingTheTwentyTwoSounds) {
  const QString Path = QStringLiteral(MORVANE_PROGRAM_DIR "/Res01.rcc");
  ASSERT_TRUE(QFileInfo(Path).isFile()) << Path.toStdString();
  TVoiceBundle Bundle(Path);
  ASSERT_TRUE(Bundle.Loaded());

  std::set<QString> Expected;
  for (const char* Word : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "minus"})
    for (const char* Voice : {"F", "M"}) Expected.insert(QString(Word) + Voice);
  const QStringList Names = Bundle.WaveNames();
  EXPECT_EQ(std::set<QString>(Names.begin(), Names.end()), Expected);
  EXPECT_EQ(Names.size(), 22);

  for (const QString& Name : Expected) {
    SCOPED_TRACE(Name.toStdString());
    const QByteArray Wave = Bundle.FindWave(Name);
    const auto Sound = ParseWave(Bytes(Wave));
    ASSERT_TRUE(Sound.has_value());
    EXPECT_GE(Sound->Seconds(), 0.15);
    EXPECT_LE(Sound->Seconds(), 1.2);
    EXPECT_GT(PeakLevel(*Sound), 0.1);  // speech, not silence
  }
  // Two voices, not one recording twice.
  EXPECT_NE(Bundle.FindWave(QStringLiteral("7F")), Bundle.FindWave(QStringLiteral("7M")));
  EXPECT_TRUE(Bundle.FindWave(QStringLiteral("plusF")).isEmpty());
}

TEST(VoiceBundleTest, EachLoadingIsItsOwnAndEndsWithIt) {
  auto First = std::make_unique<TVoiceBundle>(QStringLiteral(MORVANE_RES01));
  TVoiceBundle Second(QStringLiteral(MORVANE_RES01));
  const QByteArray Sound = First->FindWave(QStringLiteral("3M"));
  First.reset();
  EXPECT_EQ(Second.FindWave(QStringLiteral("3M")), Sound);
  EXPECT_FALSE(TVoiceBundle(QStringLiteral("/nonexistent/Res01.rcc")).Loaded());
  // Not a resource file.
  EXPECT_FALSE(TVoiceBundle(QStringLiteral(MORVANE_PROGRAM_DIR "/morvane")).Loaded());
}

TEST(VoiceBundleTest, MissingBundleIsReportedOnTheCreatingThreadAndTheVoiceGoesOn) {
  SetVoiceBundlePath(QStringLiteral("/nonexistent/Res01.rcc"));
  TRecordingSink Sink;
  QString Text, Caption;
  bool OnThisThread = false;
  int Buttons = 0;
  QMessageBox::Icon Icon = QMessageBox::Warning;
  // The message is modal: look at it from the nested event loop and close it.
  QTimer Closer;
  QObject::connect(&Closer, &QTimer::timeout, [&] {
    auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!Box) return;
    Text = Box->text();
    Caption = Box->windowTitle();
    Icon = Box->icon();
    Buttons = static_cast<int>(Box->buttons().size());
    OnThisThread = Box->thread() == QThread::currentThread();
    Box->button(QMessageBox::Ok)->click();
  });
  Closer.start(20);
  testing::internal::CaptureStderr();
  TVoiceThread Thread(nullptr, QStringLiteral("-1"), 0, 0, &Sink);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent/Res01.rcc"),
            std::string::npos);
  // Once a run: the next voice goes on without a box.
  const QString First = std::exchange(Text, QString());
  {
    TVoiceThread Again(nullptr, QString(), 2, 0, &Sink);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Again.Finished(); }, 10000));
  }
  EXPECT_TRUE(Text.isEmpty());
  Text = First;
  Closer.stop();
  SetVoiceBundlePath({});

  EXPECT_EQ(Text, QStringLiteral("Resource DLL Load Failed"));
  EXPECT_EQ(Caption, QApplication::applicationDisplayName());
  EXPECT_EQ(Icon, QMessageBox::NoIcon);
  EXPECT_EQ(Buttons, 1);
  EXPECT_TRUE(OnThisThread);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Thread.Finished(); }, 10000));
  // Each character is still played, with nothing to play.
  ASSERT_EQ(Sink.Plays().size(), 2u);
  EXPECT_EQ(Sink.Plays()[0].Name, QStringLiteral("minusF"));
  EXPECT_FALSE(Sink.Plays()[0].HadWave);
  EXPECT_FALSE(Sink.Plays()[1].HadWave);
}

// A bundle is untrusted: seeded changes of one byte and cuts of the real one are each either
// refused ("Resource DLL Load Failed") or read within the file. The sanitizer build sees any
// read outside it.
TEST(VoiceBundleTest, ChangedOrCutBundlesAreRefusedOrReadWithinTheFile) {
  QFile File(QStringLiteral(MORVANE_RES01));
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  QByteArray Data = File.readAll();
  // The header, then the names and the tree at the end hold the structure; half the changes
  // go there, the others anywhere.
  const size_t Structure = std::min(qFromBigEndian<quint32>(Data.constData() + 8),
                                    qFromBigEndian<quint32>(Data.constData() + 16));
  ASSERT_LT(Structure, size_t(Data.size()));
  std::mt19937 Random(12);
  const auto Below = [&Random](size_t N) { return size_t(Random() % N); };
  int Refused = 0, Read = 0;
  for (int N = 0; N < 3000; ++N) {
    const bool Cut = N % 10 == 9;
    const size_t Size = Cut ? Below(size_t(Data.size())) : size_t(Data.size());
    const size_t At = N % 2 == 0   ? Below(size_t(Data.size()))
                      : N % 4 == 1 ? Below(24)
                                   : Structure + Below(size_t(Data.size()) - Structure);
    const char Old = Data[qsizetype(At)];
    if (!Cut) Data[qsizetype(At)] = char(Random());
    const QByteArray Mutant = QByteArray::fromRawData(Data.constData(), qsizetype(Size));
    if (const auto Entries = ReadResourceFile(Bytes(Mutant))) {
      for (const TResourceEntry& Entry : *Entries) ASSERT_LE(Entry.Offset + Entry.Size, Size);
    }
    const TVoiceBundle Bundle = TVoiceBundle::FromData(Mutant);
    if (Cut) {
      EXPECT_FALSE(Bundle.Loaded()) << "cut to " << Size;  // the tree ends the file
    }
    ++(Bundle.Loaded() ? Read : Refused);
    Data[qsizetype(At)] = Old;
  }
  std::cout << Read << " changed bundles read, " << Refused << " refused\n";
  EXPECT_GT(Refused, 0);
  EXPECT_GT(Read, 0);
}

}  // namespace
