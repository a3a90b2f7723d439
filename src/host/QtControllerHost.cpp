#include "host/QtControllerHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "host/ExceptionBoundary.h"

namespace morvane {

struct TQtControllerHost::TTimerSlot {
  int IntervalMs;
  std::function<void()> Tick;
  QTimer* Timer = nullptr;  // GUI thread only
  bool Ticking = false;     // under FLock
};

TQtControllerHost::TQtControllerHost() : FReceiver(std::make_unique<QObject>()) {}

// The receiver takes its timers with it, and Qt drops the calls still queued for it.
TQtControllerHost::~TQtControllerHost() = default;

bool TQtControllerHost::OnGuiThread() const {
  return QThread::currentThread() == FReceiver->thread();
}

void TQtControllerHost::ShowMessage(const std::string& text) {
  if (UnattendedRun()) {
    std::fprintf(stderr, "Morvane: %s\n", text.c_str());
    return;
  }
  if (!OnGuiThread()) {
    // A box belongs to the GUI thread; waiting here for it to be closed could hold up the
    // thread the GUI thread waits for.
    Post([this, text] { ShowMessage(text); });
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Morvane"), QString::fromStdString(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

void TQtControllerHost::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(
      FReceiver.get(), [fn = std::move(fn)] { CallHandler(fn); }, Qt::QueuedConnection);
}

int TQtControllerHost::StartTimer(int intervalMs, std::function<void()> tick) {
  auto slot = std::make_shared<TTimerSlot>();
  slot->IntervalMs = intervalMs;
  slot->Tick = std::move(tick);
  int id;
  {
    std::lock_guard lock(FLock);
    id = FNextTimer++;
    FTimers[id] = slot;
  }
  if (OnGuiThread())
    CreateTimer(id);
  else
    QMetaObject::invokeMethod(
        FReceiver.get(), [this, id] { CreateTimer(id); }, Qt::QueuedConnection);
  return id;
}

void TQtControllerHost::CreateTimer(int id) {
  std::shared_ptr<TTimerSlot> slot;
  {
    std::lock_guard lock(FLock);
    const auto it = FTimers.find(id);
    if (it == FTimers.end()) return;  // stopped before it was made
    slot = it->second;
  }
  slot->Timer = new QTimer(FReceiver.get());
  slot->Timer->setInterval(slot->IntervalMs);
  QObject::connect(slot->Timer, &QTimer::timeout, FReceiver.get(), [this, id] { RunTick(id); });
  slot->Timer->start();
}

void TQtControllerHost::RunTick(int id) {
  std::shared_ptr<TTimerSlot> slot;
  {
    std::lock_guard lock(FLock);
    const auto it = FTimers.find(id);
    if (it == FTimers.end()) return;
    slot = it->second;
    slot->Ticking = true;
  }
  CallHandler(slot->Tick);
  {
    std::lock_guard lock(FLock);
    slot->Ticking = false;
  }
  FChanged.notify_all();
}

void TQtControllerHost::StopTimer(int id) {
  std::shared_ptr<TTimerSlot> slot;
  const bool onGui = OnGuiThread();
  {
    std::unique_lock lock(FLock);
    const auto it = FTimers.find(id);
    if (it == FTimers.end()) return;
    slot = it->second;
    FTimers.erase(it);
    if (!onGui) FChanged.wait(lock, [&] { return !slot->Ticking; });
  }
  // Later, in case this is the timer's own tick.
  const auto drop = [slot] {
    if (slot->Timer) {
      slot->Timer->stop();
      slot->Timer->deleteLater();
    }
  };
  if (onGui)
    drop();
  else
    QMetaObject::invokeMethod(FReceiver.get(), drop, Qt::QueuedConnection);
}

}  // namespace morvane
