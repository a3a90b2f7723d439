#pragma once
// A sound sink that records what voice threads play, in order, and can hold a sound until the
// test lets it finish.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/voice/SoundSink.h"
#include "ui/voice/VoiceThread.h"

class TRecordingSink : public morvane::TSoundSink {
 public:
  struct TPlay {
    QString Name;
    bool HadWave;     // the bundle gave the sound's bytes
    bool BusyDuring;  // VoiceBusy while it played
    std::thread::id Thread;
  };

  // Each sound lasts this long.
  explicit TRecordingSink(std::chrono::milliseconds SoundLength = std::chrono::milliseconds(0))
      : FSoundLength(SoundLength) {}

  void PlaySound(const QString& Name, const QByteArray& Wave) override {
    std::unique_lock Lock(FLock);
    if (FPlaying) FOverlapped = true;
    FPlaying = true;
    FPlays.push_back(
        {Name, !Wave.isEmpty(), morvane::VoiceBusy.load(), std::this_thread::get_id()});
    FChanged.notify_all();
    FChanged.wait(Lock, [this] { return !FHold; });
    Lock.unlock();
    std::this_thread::sleep_for(FSoundLength);
    Lock.lock();
    FPlaying = false;
    FChanged.notify_all();
  }

  // While held, a sound that starts does not finish.
  void Hold() {
    std::lock_guard Lock(FLock);
    FHold = true;
  }
  void Release() {
    std::lock_guard Lock(FLock);
    FHold = false;
    FChanged.notify_all();
  }
  // Waits until Count sounds have started; false after the time-out.
  bool WaitForPlays(size_t Count, std::chrono::milliseconds TimeOut = std::chrono::seconds(10)) {
    std::unique_lock Lock(FLock);
    return FChanged.wait_for(Lock, TimeOut, [&] { return FPlays.size() >= Count; });
  }

  std::vector<TPlay> Plays() const {
    std::lock_guard Lock(FLock);
    return FPlays;
  }
  std::vector<QString> Names() const {
    std::vector<QString> Result;
    for (const TPlay& P : Plays()) Result.push_back(P.Name);
    return Result;
  }
  bool Overlapped() const {
    std::lock_guard Lock(FLock);
    return FOverlapped;
  }

 private:
  const std::chrono::milliseconds FSoundLength;
  mutable std::mutex FLock;  // Protects everything below.
  std::condition_variable FChanged;
  std::vector<TPlay> FPlays;
  bool FPlaying = false;
  bool FOverlapped = false;
  bool FHold = false;
};
