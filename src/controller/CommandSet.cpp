#include "controller/Objects.h"
#include "platform/Signals.h"

namespace morvane {

void TFocusControl::SendFocusCommand(const std::string& Command) {
  std::string command = Command;
  if (FReverseDir.load()) {
    if (command == ":F-#")
      command = ":F+#";
    else if (command == ":F+#")
      command = ":F-#";
  }
  // The stall guard watches the motor's drive, in the direction the line sees.
  if (command == ":FQ#")
    NoteDrive(0);
  else if (command == ":F-#")
    NoteDrive(1);
  else if (command == ":F+#")
    NoteDrive(-1);
  else if (command == ":FS#" || command == ":FF#")
    NoteRate(command == ":FF#");
  if (FUseRTS_DTR.load()) {
    // Direct drive: RTS powers the motor, DTR picks the count-increasing direction. While a
    // nudge thread runs DTR is left alone, so its pulses in one direction keep it steady.
    auto port = FPortHandle.load();
    auto line = [&port](uint8_t func) {
      if (port) port->EscapeCommFunction(func);
    };
    if (command == ":FQ#") {
      line(CLRRTS);
      if (NudgeIdle.load()) {
        Sleep(10);
        line(CLRDTR);
      }
    } else if (command == ":F-#") {
      line(SETDTR);
      Sleep(5);
      line(SETRTS);
    } else if (command == ":F+#") {
      Sleep(5);
      line(SETRTS);
    }
  } else {
    WriteString(command);
  }
  if (EchoCommands.load()) EchoCommand(command, 1);
}

void TFocusControl::FocusCommand(const std::string& Command) {
  for (const char* valid : {":FQ#", ":F-#", ":F+#", ":FS#", ":FF#"}) {
    if (Command == valid) {
      SendFocusCommand(Command);
      return;
    }
  }
  FHost.ShowMessage("Illegal FocusCommand");
}

// A coarse run takes the motor: a move by or to a count ends first, so that its threads are
// not left waiting for a stop point the operator now decides.
void TFocusControl::StartMove(bool Up, uint8_t /*Speed: the operator's choice, not used*/) {
  CancelMovementAndWait();
  ClearLastFault();
  // Find Travel owns the motor until it has ended.
  if (FTravelSearch.load()) return;
  const TTravelLimits limits = TravelLimits();
  if (const int32_t count = FCTSCount.load(); RunAtLimit(limits, count, Up)) {
    // Already at the limit it runs towards: no drive at all, and the window says why.
    const std::string text = LimitStopText(limits, count, Up);
    {
      std::lock_guard lock(FStallLock);
      FLastFault = text;
    }
    if (OnStallFault) OnStallFault(this, text);
    return;
  }
  FCoarseUp.store(Up);
  FCoarseDrive.store(true);
  StartRun(Up);
  // A stall of the run before it, stopped while this one started, cleared it: this run drives.
  FCoarseDrive.store(true);
}

void TFocusControl::StartRun(bool Up) {
  static const std::atomic<bool> NoCancel{false};
  SendFocusCommand(":FQ#");
  FLastDirection.store(Up);
  // During a pause no drive goes out: MoveBy's run is then driven by its end-move thread
  // once the pause ends.
  SendMoveDrive(Up, NoCancel);
}

void TFocusControl::StopMotor() {
  CancelMovementAndWait();
  FCoarseDrive.store(false);
  SendFocusCommand(":FQ#");
  SendFocusCommand(":FQ#");
}

void TFocusControl::ClearRTS() {
  // RTS cleared cuts the drive in both modes (the hub cuts a handset-driven motor too).
  NoteDrive(0);
  if (auto port = FPortHandle.load()) port->EscapeCommFunction(CLRRTS);
}

void TFocusControl::SetLine(uint8_t Func) {
  if (Func == CLRRTS) NoteDrive(0);
  if (auto port = FPortHandle.load()) port->EscapeCommFunction(Func);
}

}  // namespace morvane
