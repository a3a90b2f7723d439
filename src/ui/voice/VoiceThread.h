#pragma once
// The spoken readout: a voice thread waits a moment, takes the readout text and plays one
// recorded sound per character ("-" and the digits) from the voice bundle, in a female or a
// male voice.

#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/Thread.h"

class TlxmLbl;

namespace morvane {

class TSoundSink;
class TVoiceBundle;

// True from the creation of a voice thread until that thread has finished or stopped. One
// flag for all of them: an older thread that ends clears it even while a newer one speaks.
extern std::atomic<bool> VoiceBusy;

class TVoiceThread : public TThread {
 public:
  // Label: the readout, read at the end of the delay when Text is empty; its text is asked
  // of the GUI thread, never read here. VoiceKind: 0 female, 1 male, 2 none (nothing is
  // spoken). Sink: where the sounds go, the sound device when null.
  // Starts at once and sets VoiceBusy. When the bundle cannot be loaded it shows "Resource
  // DLL Load Failed" in a modal message on the calling thread and speaks without it.
  TVoiceThread(TlxmLbl* Label, QString Text, int VoiceKind, int DelayMs,
               TSoundSink* Sink = nullptr);
  // Abandons the thread and waits for it (at most the sound it is playing).
  ~TVoiceThread() override;

  // Terminate() (of TThread) cuts an announcement short: the thread stops before its next
  // character, after the delay when it is still waiting; a sound already playing is finished.
  // Abandon is for an owner that goes away: Terminate, and end the delay and any wait for the
  // readout at once.
  void Abandon();

  int VoiceKind() const { return FVoiceKind; }
  int DelayMs() const { return FDelayMs; }

 protected:
  void Execute() override;

 private:
  struct TWake;
  void Speak();
  bool Nap(int Ms);  // false when abandoned
  QString AskReadout();

  // Copied on the voice thread, looked through only on the GUI thread.
  const QPointer<TlxmLbl> FLabel;
  const QString FText;
  const int FVoiceKind;
  const int FDelayMs;
  TSoundSink* const FSink;
  std::unique_ptr<TVoiceBundle> FBundle;
  // Shared with a readout request still queued to the GUI thread, which may be answered after
  // this thread has gone.
  std::shared_ptr<TWake> FWake;
};

// The voice threads one window starts. The last started is the one to silence; the others
// finish by themselves. All of them are abandoned and joined when the keeper goes, so no
// voice thread outlives the window and its readout. Used on the GUI thread only.
class TVoiceThreads {
 public:
  TVoiceThreads() = default;
  ~TVoiceThreads() { Shutdown(); }
  TVoiceThreads(const TVoiceThreads&) = delete;
  TVoiceThreads& operator=(const TVoiceThreads&) = delete;

  // Starts a thread (see TVoiceThread) and makes it the last.
  void Start(TlxmLbl* Label, const QString& Text, int VoiceKind, int DelayMs,
             TSoundSink* Sink = nullptr);
  // The last thread started (it may have finished); null before the first.
  TVoiceThread* Last() const { return FLast.get(); }
  // True while any of them has not finished.
  bool AnyRunning() const;
  // Abandons and joins every thread.
  void Shutdown();

 private:
  std::vector<std::shared_ptr<TVoiceThread>> FThreads;
  std::shared_ptr<TVoiceThread> FLast;
};

}  // namespace morvane
