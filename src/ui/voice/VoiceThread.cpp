#include "ui/voice/VoiceThread.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <utility>

#include "host/ExceptionBoundary.h"
#include "ui/voice/SoundSink.h"
#include "ui/voice/VoiceBundle.h"
#include "widgets/ulxmLbl.h"

namespace morvane {

std::atomic<bool> VoiceBusy{false};

namespace {

// Two voice threads that speak at once take turns sound by sound instead of talking over
// each other.
std::mutex PlayLock;

// How often a wait for the readout looks for a terminate request.
constexpr auto ReadoutSlice = std::chrono::milliseconds(50);

}  // namespace

struct TVoiceThread::TWake {
  std::mutex Lock;  // Protects Abandoned and Readout.
  std::condition_variable Changed;
  bool Abandoned = false;
  std::optional<QString> Readout;
};

TVoiceThread::TVoiceThread(TlxmLbl* Label, QString Text, int VoiceKind, int DelayMs,
                           TSoundSink* Sink)
    : TThread("Voice"),
      FLabel(Label),
      FText(std::move(Text)),
      FVoiceKind(VoiceKind),
      FDelayMs(DelayMs),
      FSink(Sink ? Sink : &DefaultSoundSink()),
      FBundle(std::make_unique<TVoiceBundle>(VoiceBundlePath())),
      FWake(std::make_shared<TWake>()) {
  // Busy before the thread runs: a thread with nothing to say may end at once and clear it.
  VoiceBusy.store(true);
  const bool Loaded = FBundle->Loaded();
  Start();
  // A missing bundle stays missing: said once a run, not after every move.
  static bool BundleFailureShown = false;
  if (!Loaded && !std::exchange(BundleFailureShown, true)) {
    std::fprintf(stderr, "Morvane: the voice recordings could not be loaded from %s\n",
                 qPrintable(VoiceBundlePath()));
    TellOperator(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                 QStringLiteral("Resource DLL Load Failed"), QApplication::activeWindow());
  }
}

TVoiceThread::~TVoiceThread() {
  Abandon();
  WaitFor();
}

void TVoiceThread::Abandon() {
  Terminate();
  {
    std::lock_guard Lock(FWake->Lock);
    FWake->Abandoned = true;
  }
  FWake->Changed.notify_all();
}

void TVoiceThread::Execute() {
  if (FVoiceKind != 2) Speak();
  VoiceBusy.store(false);
  FBundle.reset();
}

void TVoiceThread::Speak() {
  if (!Nap(FDelayMs)) return;
  const QString Text = FText.isEmpty() ? AskReadout() : FText;
  if (Text.trimmed().isEmpty()) return;
  const QChar Letter = FVoiceKind == 0 ? u'F' : u'M';
  for (const QChar C : Text) {
    if (Terminated()) return;
    QString Name;
    if (C == u'-')
      Name = QStringLiteral("minus");
    else if (C >= u'0' && C <= u'9')
      Name = C;
    else
      continue;
    Name += Letter;
    const QByteArray Wave = FBundle->FindWave(Name);
    std::lock_guard Lock(PlayLock);
    FSink->PlaySound(Name, Wave);
  }
}

bool TVoiceThread::Nap(int Ms) {
  std::unique_lock Lock(FWake->Lock);
  return !FWake->Changed.wait_for(Lock, std::chrono::milliseconds(Ms),
                                  [this] { return FWake->Abandoned; });
}

QString TVoiceThread::AskReadout() {
  QCoreApplication* App = QCoreApplication::instance();
  if (!App) return {};
  // The readout changes with every encoder edge on the GUI thread; its text is taken there,
  // at the moment the request is handled.
  QMetaObject::invokeMethod(
      App,
      [Label = FLabel, Wake = FWake] {
        const QString Text = Label ? Label->Caption() : QString();
        {
          std::lock_guard Lock(Wake->Lock);
          Wake->Readout = Text;
        }
        Wake->Changed.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock Lock(FWake->Lock);
  while (!FWake->Readout && !FWake->Abandoned && !Terminated())
    FWake->Changed.wait_for(Lock, ReadoutSlice);
  return FWake->Readout.value_or(QString());
}

void TVoiceThreads::Start(TlxmLbl* Label, const QString& Text, int VoiceKind, int DelayMs,
                          TSoundSink* Sink) {
  // Join what has finished, so that a long session does not gather threads.
  std::erase_if(FThreads, [this](const std::shared_ptr<TVoiceThread>& T) {
    return T->Finished() && T != FLast;
  });
  auto Thread = std::make_shared<TVoiceThread>(Label, Text, VoiceKind, DelayMs, Sink);
  FThreads.push_back(Thread);
  FLast = std::move(Thread);
}

bool TVoiceThreads::AnyRunning() const {
  for (const auto& T : FThreads)
    if (!T->Finished()) return true;
  return false;
}

void TVoiceThreads::Shutdown() {
  for (const auto& T : FThreads) T->Abandon();
  FThreads.clear();
  FLast.reset();
}

}  // namespace morvane
