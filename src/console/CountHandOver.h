#pragma once
// Carries the counting thread's count changes to the GUI thread. The counting thread raises a
// change for every encoder edge, thousands a second on a fast run; it only stores the latest
// count and direction in one atomic word and, when no hand-over is pending, wakes the GUI
// thread through an eventfd. It never blocks, allocates or takes a lock. The GUI thread then
// shows the latest value once, however many edges came meanwhile, and no more often than a
// screen shows frames: a wake within a frame of the last show waits for the frame's end, so
// the readout is painted at most once a frame and its last count is always shown.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace morvane {

class TCountHandOver : public QObject {
  Q_OBJECT

 public:
  // show runs on the GUI thread with the latest count and DSR value.
  explicit TCountHandOver(std::function<void(int32_t count, bool dsr)> show,
                          QObject* parent = nullptr);
  ~TCountHandOver() override;

  // Any thread. On the GUI thread the change is shown at once (after any still pending), so
  // that a reset made there is on the readout before the handler that made it goes on.
  void Raise(int32_t count, bool dsr);

  // GUI thread: shows a pending change now. Handlers of later events call it first, so that
  // their effects follow those of the count changes raised before them.
  void Flush();

  // Hand-overs made so far (the benchmark and tests read it).
  uint64_t Shown() const { return FShown.load(std::memory_order_relaxed); }

 private:
  void Woken();
  // Shows the pending change now, or once a frame has passed since the last show.
  void ShowPaced();

  std::function<void(int32_t, bool)> FShow;
  int FWakeFd = -1;
  std::unique_ptr<QSocketNotifier> FNotifier;
  // Count in the low 32 bits, DSR in bit 32.
  std::atomic<uint64_t> FLatest{0};
  std::atomic<bool> FPending{false};
  std::atomic<uint64_t> FShown{0};
  QElapsedTimer FSinceShow;
  QTimer FPaceTimer;
};

}  // namespace morvane
