#pragma once
// TFocusControl: the one object through which the program reaches the focuser. It owns the
// serial port, the encoder count and its counting thread, the focus command set, the module
// exchanges and the state the motion threads share.
//
// Threads: the GUI thread calls the operations and runs the keep-alive tick (through the
// host); the counting thread changes CTSCount and raises OnCTSChange; the motion threads
// change the idle and cancel flags and raise OnIdleChange; the keep-alive thread writes the
// keep-alive that the tick asks for. Every member they share is an atomic of its width.
// Handlers run on the raising thread and must not block on the GUI thread; assign them before
// the port is opened.
//
// Thread                        Owner                       Joined where
// counting (TCTSThread)         CountingThread              CloseCountingThread (port closed,
//                                                            port changed, destructor)
// keep-alive (TKeepAliveThread) FKeepAliveThread            CloseCountingThread
// end-move, move-it, nudge,     FThreads (TThreadKeeper)    FThreads.Reap when a move or a
//   move starter, backlash,                                  reset starts and when a thread is
//   measurement, Find Travel                                 added; JoinAll in the destructor
// module reader (TRxThread)     ReadBytes, on its stack     ReadBytes, before it returns
// Nobody else joins or keeps a motion thread: NudgeThread is a weak reference that finds the
// running nudge thread for a pause; the move starter waits for the threads it supersedes to
// end (TThread::WaitFinished) without joining them. The window's voice threads are its own
// (TVoiceThreads).
//
// Locks: HACKING.md, "Locks, in the order they may be taken", is the one statement of their
// order; a new lock goes there.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controller/ControllerHost.h"
#include "controller/LimitRule.h"
#include "controller/SharedHandle.h"
#include "controller/StallRule.h"
#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"
#include "platform/Timing.h"

namespace morvane {

class TFocusControl;
class TCTSThread;
class TNudgeThread;
class TEndMoveThread;
class TMoveItThread;
class TMoveStarterThread;
class TKeepAliveThread;
class TBacklashThread;
class TStallWatchThread;
struct TBacklashReport;
struct TTravelReport;

// Where the controller is in its life; the destructor moves it on, never back.
enum class TLifeState {
  lsAlive,        // in use
  lsWindingDown,  // being destroyed, a move still winding down: it may tell the operator, but a
                  // lost port is no longer closed or told about
  lsDismantling   // its threads are being ended: no message, no next move or leg, no report
};

// The life state and the port-loss close it waits out (PortLoss.cpp). Lock is a leaf: the
// close itself is made outside it, marked by LossClosing, so that no other close starts and
// destruction does not go on meanwhile.
struct TLife {
  std::mutex Lock;
  std::condition_variable CloseEnded;
  std::atomic<TLifeState> State{TLifeState::lsAlive};
  bool LossClosing = false;
};

using TCTSEvent = std::function<void(TFocusControl* Sender, int32_t CTSCount, bool DSRValue)>;
using TIdleEvent = std::function<void(TFocusControl* Sender, bool IdleValue)>;
using TTCAvailChangeEvent = std::function<void(TFocusControl* Sender, bool TCAvailValue)>;
using TBacklashDone = std::function<void(const TBacklashReport& Report)>;
using TTravelDone = std::function<void(const TTravelReport& Report)>;
using TTravelProgress = std::function<void(const std::string& Text)>;
using TFaultEvent = std::function<void(TFocusControl* Sender, const std::string& Text)>;

// The camera-control object the interlock consults: the interlock waits only while its state
// is False.
class TCameraControl {
 public:
  virtual ~TCameraControl() = default;
  virtual bool State() const = 0;
};

// Longest waits of the motion threads for another party, in ms. Fixed in the program; a
// test may shorten them.
struct TMotionTimeouts {
  unsigned InterlockWaitMs = 10000;  // "FOCUSER_WAIT_EVENT", permission from another program
  unsigned HandOverWaitMs = 120000;  // "THE_CTS_EVENT", the end-move thread's hand-over
};

struct TempData {
  double Temperature;  // degrees Celsius
};

class TFocusControl {
 public:
  TFocusControl(TControllerHost& host, TPortOpener opener);
  virtual ~TFocusControl();
  TFocusControl(const TFocusControl&) = delete;
  TFocusControl& operator=(const TFocusControl&) = delete;

  // Published properties.
  int32_t CTSCount() const { return FCTSCount.load(); }
  bool LastDirection() const { return FLastDirection.load(); }
  void SetLastDirection(bool v) { FLastDirection.store(v); }
  double BackLash() const { return FBackLash.load(); }
  void SetBackLash(double v) { FBackLash.store(v); }
  int32_t CodesPerRev() const { return FCodesPerRev.load(); }
  void SetCodesPerRev(int32_t v) { FCodesPerRev.store(v); }
  double TravelPerRev() const { return FTravelPerRev.load(); }
  void SetTravelPerRev(double v) { FTravelPerRev.store(v); }
  int32_t ComPort() const { return FComPort.load(); }
  double NudgeTime() const { return FNudgeTime.load(); }
  void SetNudgeTime(double s) { FNudgeTime.store(s); }
  double CloseNudgeTime() const { return FCloseNudgeTime.load(); }
  void SetCloseNudgeTime(double s) { FCloseNudgeTime.store(s); }
  double NudgeSleep() const { return FNudgeSleep.load(); }
  void SetNudgeSleep(double s) { FNudgeSleep.store(s); }
  bool Idle() { return GetIdle(); }
  int32_t StopFactor() const { return FStopFactor.load(); }
  void SetStopFactor(int32_t v) { FStopFactor.store(v); }
  bool UseRTS_DTR() const { return FUseRTS_DTR.load(); }
  void SetUseRTS_DTR(bool v) { FUseRTS_DTR.store(v); }
  bool ReverseDir() const { return FReverseDir.load(); }
  void SetReverseDir(bool v) { FReverseDir.store(v); }
  // Writing requests cancellation; nothing reads the flag back, so reading gives the last
  // value written.
  bool CancelMovementFlag() const { return FCancelMovementFlag.load(); }
  bool DualSense() const { return FDualSense.load(); }
  void SetDualSense(bool v) { FDualSense.store(v); }
  TCTSEvent OnCTSChange;
  TIdleEvent OnIdleChange;
  // The stall guard stopped the motor (StallGuard.cpp), or a coarse run at a travel limit
  // (LimitGuard.cpp): raised on the guard's thread with the fault's text, before the move it
  // ended reports idle.
  TFaultEvent OnStallFault;
  bool TCAvail() { return GetTCAvail(); }
  int32_t TCCal() { return GetTCCal(); }
  double TCAvg() const { return FTCAvg.load(); }
  std::string TCFirmwareVersion() { return GetTCFirmwareVersion(); }
  TTCAvailChangeEvent OnAvailChange;
  std::atomic<TCameraControl*> CameraControl{nullptr};
  std::atomic<bool> JMIFlag{false};
  std::atomic<bool> SBIGInterlock{false};
  bool InterruptsOff() const { return FInterruptsOff.load(); }
  std::atomic<bool> Paused{false};
  std::atomic<TThreadPriority> NudgePriority{TThreadPriority::tpNormal};
  std::atomic<bool> TervixEnable{true};
  TMotionTimeouts Timeouts;
  // Backlash compensation of moves by or to a count: mode 0 off, 1 final approach inward
  // (count rising), 2 outward; ApproachCodes: how far past the target the first leg goes.
  // Read when a move starts.
  std::atomic<int32_t> ApproachMode{0};
  std::atomic<int32_t> ApproachCodes{0};

  // The stall guard (StallGuard.cpp): while the motor has drive and the encoder has not
  // changed for the time TStallRule allows, the motor is stopped and whatever drove it ends.
  // StallTime: the shortest such time in seconds, [FocusControl] StallTime.
  double StallTime() const { return static_cast<double>(FStallFloorUs.load()) / 1e6; }
  void SetStallTime(double seconds);
  // The text of the last stall; empty again once a move, a run or a measurement starts.
  std::string LastFault() const;
  // Stalls since the controller was made.
  uint64_t StallCount() const { return FStallCount.load(); }
  // The count's own check (EdgeCheck.cpp): during a drive the port's line counters show that
  // edges of one encoder line were missed, so the count may no longer be the shaft's place.
  // Raised once, on the counting thread, with the warning's text (LastFault too); not again
  // until TrustCount.
  TFaultEvent OnCountFault;
  // The user has said where the focuser is (Set Position, Reset): the check warns afresh.
  void TrustCount();
  // Losses found since the controller was made.
  uint64_t EdgeLossCount() const { return FEdgeLossCount.load(); }
  // For the guard's thread: the rule's verdict now, and the stop it calls for.
  TStallVerdict JudgeStall();
  void StopStalled(int64_t limitUs);

  // Travel limits (LimitGuard.cpp): a move to a target outside them is refused (MoveBy and
  // MoveTo do nothing), a coarse run is stopped when it reaches the one it runs towards.
  TTravelLimits TravelLimits() const;
  // Refused (false) while a move, a coarse run, a measurement or Find Travel runs.
  bool SetTravelLimits(const TTravelLimits& limits);
  // Why a move to target is refused; empty when it may go.
  std::string LimitRefusal(int64_t target) const;
  // For the guard's thread: stops a coarse run that has reached a limit.
  void CheckLimit();
  // "Find Travel" (motion/TravelThread.cpp): runs slowly to each end stop, each run ended by
  // the stall guard, and back to where it started. Refused as MeasureBacklash is; one busy
  // period, ended by Stop. Progress and Done are called on its thread.
  enum class TMeasureRefusal { mrNone, mrPortClosed, mrMoving, mrCoarseRun, mrPaused, mrLineBusy };
  TMeasureRefusal FindTravel(TTravelProgress Progress, TTravelDone Done);
  // Find Travel runs: a stall then only stops the motor, it is no fault.
  bool SearchingTravel() const { return FTravelSearch.load(); }

  // Virtual operations.
  virtual void SetComPort(int32_t Value);
  virtual void SendFocusCommand(const std::string& Command);
  virtual void SetCancelMovementFlag(bool Value);
  virtual bool GetIdle();
  virtual void SetTCCal(int32_t Value);
  virtual int32_t GetTCCal();
  virtual bool GetTCAvail();
  virtual std::string GetTCFirmwareVersion();
  virtual bool OpenPort();
  virtual void ClosePort();
  virtual void StartMove(bool Up, uint8_t Speed);
  virtual void StopMotor();
  virtual void ClearRTS();
  virtual void CancelMovement();
  // Cancels any move by or to a count and returns once its threads have run their closing
  // steps (stop commands, one idle report, "GENERAL_DELAY_EVENT" set) and ended. Everything
  // that takes the motor or the port from a move (StopMotor, StartMove, ClosePort,
  // SetComPort) calls it first; so may whoever is about to close the port for another
  // reason. Called on a motion thread (from an event handler) it only cancels. Returns at
  // once when no move runs.
  void CancelMovementAndWait();
  // True while a move by or to a count has a thread running or waiting to start.
  bool MovementRunning();
  // Stops a coarse run (StartMove) that is still driving: its stop commands, at once. False
  // when none drives.
  bool StopCoarseRun();
  // A coarse run (StartMove) is driving.
  bool CoarseRunning() const { return FCoarseDrive.load(); }
  virtual void MoveBy(int32_t Codes);
  virtual void MoveTo(int32_t Target);
  // "Measure backlash" (motion/BacklashThread.cpp): the play between the motor and the
  // encoder, taken up first on the side Up. Refused while a move, a coarse run, a pause or a
  // module exchange runs, or with the port closed. Otherwise one busy period like a move,
  // ended by Stop, a cancel or a new move; Done is called on the measuring thread after the
  // idle report, with the result and where the focuser was left.
  TMeasureRefusal MeasureBacklash(bool Up, TBacklashDone Done);
  virtual void ResetCount();
  // Sets the count to Value without moving: the user says where the focuser is. Refused
  // (false) while a move, a coarse run or a measurement runs, whose threads steer by the
  // count; unlike a reset, which re-aims a running move.
  bool SyncCount(int32_t Value);
  virtual void FocusCommand(const std::string& Command);
  virtual void SetLine(uint8_t Func);
  virtual double GetTemperature();
  // As GetTemperature, but a field that is no number gives NoTemperature instead of raising:
  // for compensation, to which a garbled reply is a failed reading like a short one.
  double ReadTemperature();

  // Event dispatchers.
  virtual void DoCTSChange(int32_t Count, bool DSRValue);
  virtual void DoIdleChange();
  virtual void DoAvailChange();

  void SetInterruptsOff(bool Value);
  void KeepAliveTick();
  void AddTemperatureSample(double Value);
  void ClearTemperatureSamples();
  size_t TemperatureSampleCount() const;
  void SendModuleCommand(const std::string& Command);
  bool WriteString(const std::string& Text);
  bool ReadBytes(int Count, std::string& Text);
  std::string ReadReply(int Count);
  void PurgePort();

  bool PortOpen() const { return FPortOpen.load(); }
  // The errno of the last failed OpenPort (0: none known, or the last open succeeded).
  int LastOpenError() const { return FLastOpenError.load(); }
  const TLineSettings& LineSettings() const { return FLineSettings; }
  TEvent& CTSEvent() { return *FCTSEvent; }
  TControllerHost& Host() { return FHost; }

  // Tells the operator text from a worker thread: queued to the GUI thread (a modal box, or
  // the host's unattended report) and returns at once, so that no message holds a move.
  // Nothing is shown once the controller is dismantling.
  void Synchronize(const std::string& text);
  TLifeState LifeState() const;

  // State shared with the motion threads.
  std::atomic<bool> LastIdle{true};
  std::atomic<bool> RunIdle{true};
  std::atomic<bool> NudgeIdle{true};
  std::atomic<bool> EndMoveCancel{false};
  std::atomic<bool> NudgeCancel{false};
  std::atomic<bool> EchoCommands{false};
  std::atomic<bool> RunUp{false};

  // Bumped after every change of the count and of the cancel and pause flags, so that the
  // end-move thread sleeps until something it watches has changed instead of spinning.
  std::atomic<uint32_t> MotionSignal{0};
  void SignalMotion() {
    MotionSignal.fetch_add(1, std::memory_order_release);
    MotionSignal.notify_all();
  }

 protected:
  // For the counting thread: the atomic count and its change.
  friend class TCTSThread;
  friend class TNudgeThread;
  friend class TEndMoveThread;
  friend class TMoveItThread;
  friend class TMoveStarterThread;
  friend class TKeepAliveThread;
  friend class TBacklashThread;
  friend class TTravelThread;

  std::shared_ptr<TSerialPort> Port() const { return FPortHandle.load(); }

  // For the counting thread: the device behind port has gone (unplugged, hung up). Cancels any
  // move at once; on the GUI thread closes the port, if it is still the open one, and tells the
  // operator in a modal message that names the port. OpenPort may open it again later.
  void DoPortLost(const std::shared_ptr<TSerialPort>& port);

  // Sends a drive command of a move unless a pause (InterruptsOff) or a cancel (the given
  // request flag) forbids it. Held against SetInterruptsOff and SetCancelMovementFlag, so
  // that once either has returned no drive of a move goes out until the pause ends or the
  // next move starts. In direct mode a downward drive clears DTR first: a stop made while a
  // nudge runs leaves DTR set, and ":F+#" alone would then turn the motor up.
  bool SendMoveDrive(bool up, const std::atomic<bool>& cancel, bool pauseToo = true);
  // What the nudges learnt of the motor's answer to a pulse, per drive mode and resolution
  // (DualSense), so that the next
  // move starts from it: Moved codes for a pulse of PulseMs; StillMs, a pulse too short to
  // move it (0: none found). Forgotten when another port is chosen.
  struct TNudgeResponse {
    int64_t Moved = 0;
    double PulseMs = 0;
    double StillMs = 0;
  };
  TNudgeResponse NudgeResponse(bool direct, bool dual);
  void SetNudgeResponse(bool direct, bool dual, const TNudgeResponse& response);

  // The end of a move: under the move lock, decides whether this thread reports the idle
  // change and sets "GENERAL_DELAY_EVENT" (no later move is waiting to take over), and does.
  // A leg that failed (the motor did not move, or moved away) drops the leg still to come.
  // With a last leg of a compensated move still to come, this starts it instead: the move
  // stays busy.
  void FinishMove(bool failed = false);
  std::recursive_mutex& MoveLock() { return FMoveLock; }
  bool SuccessorPending() const { return FSuccessorPending; }
  bool FinalLegPending() const { return FFinalLegPending; }

 private:
  // Starts the move to Target (already clamped to 32 bits); up: its direction. Under the move
  // lock, with no other move running.
  void StartMoveTo(int32_t Target, bool up);
  // Starts a new move to Target, in one or two legs as the backlash compensation decides.
  // Under the move lock, with no other move running.
  void StartApproach(int32_t Target);
  void MoveToTarget(int64_t target);
  // The Part's StartMove without cancelling a move first: MoveBy's own run.
  void StartRun(bool Up);
  // Cancels under the move lock: a waiting successor is dropped, suspended threads resumed.
  void CancelLocked();
  // Lifts every suspension of the motion threads, so that a cancelled move can end.
  void ReleaseSuspendedThreads();
  // Keeps a new motion thread until it has finished.
  void KeepMotionThread(std::shared_ptr<TThread> thread);
  // Keeps the nudge thread, and makes it the one a pause suspends.
  void KeepNudgeThread(std::shared_ptr<TThread> thread);
  // Under the move lock: a move waits to take over from the running one (Target); a later
  // request only replaces the target, so one starter at most waits.
  void SupersedeMove(int32_t Target, std::vector<std::shared_ptr<TThread>> running);
  // Asks the counting thread to end, releases its wait (mask 0), closes the port and joins
  // the thread; no report follows.
  void CloseCountingThread();
  // The stall guard's side of every drive command and of a pause (StallGuard.cpp): on
  // ":F+#"/":F-#" (dir +-1), off (0) on ":FQ#" or RTS cleared; ":FS#"/":FF#" pick the rate.
  void NoteDrive(int dir);
  void NoteRate(bool fast);
  void NotePauseEnd();
  // For the counting thread: the encoder's CTS line changed changes times.
  void NoteEncoderChange(uint32_t changes);
  // For the counting thread: the count is now count; a coarse run at a limit wakes the guard.
  void NoteCount(int32_t count);
  // For the counting thread: the port's line counters as it read them (the stall guard
  // compares them with the port's own when the count stands still).
  void NoteLineCounts(const TModemCounts& counts);
  // For the counting thread: the drive the edge check judges by (its serial number; steady:
  // driven one way, no pause), and edges found lost.
  uint32_t EdgeDrive(bool& steady) const;
  void DoEdgesLost(int32_t count, int ctsChanges, int dsrChanges);
  void StartStallWatch();
  void StopStallWatch();
  void ClearLastFault();

  TControllerHost& FHost;
  TPortOpener FOpener;

  std::atomic<int32_t> FCTSCount{0};
  std::atomic<bool> FLastDirection{true};
  std::atomic<double> FBackLash{0.035};
  std::atomic<int32_t> FCodesPerRev{512};
  std::atomic<double> FTravelPerRev{0.58};
  std::atomic<int32_t> FComPort{1};
  std::atomic<double> FNudgeTime{0.015};
  std::atomic<double> FCloseNudgeTime{0.01};
  std::atomic<double> FNudgeSleep{0.08};
  std::atomic<int32_t> FStopFactor{8};
  std::atomic<bool> FUseRTS_DTR{false};
  std::atomic<bool> FReverseDir{false};
  std::atomic<bool> FCancelMovementFlag{false};
  std::atomic<bool> FDualSense{false};
  std::atomic<double> FTCAvg{0.0};
  std::atomic<bool> FInterruptsOff{false};
  std::atomic<bool> FPortOpen{false};
  std::atomic<int> FLastOpenError{0};

  // The port is reached by the GUI thread and the worker threads; a thread that took a
  // reference keeps the object alive, and a closed port fails its operations cleanly.
  TSharedHandle<TSerialPort> FPortHandle;
  // A failed open leaves the invalid-handle value rather than none (reads then fail only
  // after their wait).
  std::atomic<bool> FPortHandleInvalid{false};
  TLineSettings FLineSettings;

  std::shared_ptr<TCTSThread> CountingThread;
  // Finds the running nudge thread for a pause; FThreads owns it.
  std::weak_ptr<TThread> NudgeThread;
  std::mutex FMotionRefsLock;
  // Serialises the operations that start, supersede, cancel and end moves. Recursive: an
  // idle handler raised under it may start the next move.
  std::recursive_mutex FMoveLock;
  // Under FMoveLock: a superseding move waits for the running one to close down, and the
  // running one must then neither report idle nor set "GENERAL_DELAY_EVENT".
  bool FSuccessorPending = false;
  // Under FMoveLock: the target of the move waiting to take over, and which starter thread
  // starts it (a starter that a cancel left behind finds a later one in its place).
  int32_t FPendingTarget = 0;
  uint64_t FStarterSerial = 0;
  // Under FMoveLock: the target of the move started last.
  int32_t FMoveTarget = 0;
  // Under FMoveLock: the running leg is the first of a compensated move, whose last leg goes
  // to FFinalTarget once it ends. A cancel or a superseding move drops it.
  bool FFinalLegPending = false;
  int32_t FFinalTarget = 0;
  // Under FMoveLock: a started move still owes its one idle report and event.
  bool FMoveActive = false;
  // Held while a move's drive command is decided and sent (SendMoveDrive).
  std::mutex FDriveLock;
  std::mutex FNudgeResponseLock;
  TNudgeResponse FNudgeResponse[4];
  // A coarse run (StartMove) is driving: closing the port stops it first.
  std::atomic<bool> FCoarseDrive{false};

  // Held by a module exchange from its first pause to its reply, as the GUI thread was held
  // by it: a keep-alive's purge would cut the request or the reply short. Recursive: the
  // exchanges probe availability through GetTCAvail first.
  std::recursive_mutex FLineLock;
  // Writes under way on any thread, from the pause before their purge to their end.
  std::atomic<int> FWritesInFlight{0};

  std::unique_ptr<TEvent> FCTSEvent;
  bool FLastTCAvail = false;
  int32_t FLastTCCal = 0;
  std::vector<TempData> Samples;
  std::string FirmwareText;
  int FKeepAliveTimer = -1;

  // The life state, shared with every message and port-loss report posted to the GUI thread,
  // so that one run after the controller has gone touches nothing of it.
  std::shared_ptr<TLife> FLife;
  void EnterLifeState(TLifeState state);
  // Started by the first tick with the port open, joined before the port closes. The lock
  // orders the tick against closing when they come from different threads.
  std::mutex FKeepAliveLock;
  std::unique_ptr<TKeepAliveThread> FKeepAliveThread;
  // For the keep-alive thread, after the pause that precedes a write's purge: writes "5"
  // unless the line is busy, and then skips this beat.
  void WriteKeepAlive();
  // The stall guard's state. FStallLock is a leaf: the drive's direction and start, the
  // fault's text and the watch thread's pointer (started with the counting thread, stopped
  // and joined in CloseCountingThread outside the lock).
  mutable std::mutex FStallLock;
  int FDriveDir = 0;
  int64_t FDriveSinceUs = 0;
  bool FFastRate = false;
  std::string FLastFault;
  std::unique_ptr<TStallWatchThread> FStallWatch;
  std::atomic<int64_t> FResumedUs{0};
  std::atomic<int64_t> FEncoderChangedUs{0};
  std::atomic<int64_t> FEncoderIntervalUs{0};
  std::atomic<int64_t> FStallFloorUs{TStallParams{}.FloorUs};
  std::atomic<uint64_t> FStallCount{0};
  // Travel limits; changed only while nothing moves. The direction of the coarse run.
  std::atomic<bool> FLimitsSet{false};
  std::atomic<int32_t> FLowerLimit{0};
  std::atomic<int32_t> FUpperLimit{0};
  std::atomic<bool> FCoarseUp{false};
  std::atomic<bool> FTravelSearch{false};
  // The edge check's drive: its serial number << 1 | driven; the serial (under FStallLock)
  // changes at every start, stop, reversal and pause end.
  std::atomic<uint64_t> FEdgeDrive{0};
  uint32_t FDriveSerial = 0;
  std::atomic<bool> FEdgesLost{false};
  std::atomic<uint64_t> FEdgeLossCount{0};
  // The line counters (CTS << 32 | DSR) as the counting thread last read them and as the
  // stall guard last read them itself, and when the guard last found them moved on.
  std::atomic<uint64_t> FCountedLines{0};
  std::atomic<uint64_t> FLookedLines{0};
  std::atomic<int64_t> FLinesMovedUs{0};

  // Worker threads; declared last so that they are joined before the members they use go.
  TThreadKeeper FThreads;

 public:
  bool LastTCAvail() const { return FLastTCAvail; }
  int32_t LastTCCal() const { return FLastTCCal; }
};

}  // namespace morvane
