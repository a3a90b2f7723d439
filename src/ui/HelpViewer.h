#pragma once
// Opens the user's guide in the desktop's PDF viewer and keeps hold of the viewer's process,
// so that closing the program closes a viewer it started.
//
// xdg-open hands the file to a helper and returns at once, so its process says nothing about
// the viewer. Instead the desktop's default application for PDF is asked of xdg-mime, its
// .desktop entry is found in the XDG data directories, and its Exec line is started directly
// (QProcess::startDetached gives the viewer's own process id). The process is known again by
// its id together with its start time, so a later process that happens to get the same id is
// never touched.

#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <optional>

namespace morvane {

// The user's guide: beside the program, else in the installed data folder.
inline constexpr char HelpFileName[] = "Kestrum and Morvane User's Guides.pdf";

class THelpViewer {
 public:
  // Starts the default PDF viewer on dir/fileName with dir as working directory. False when
  // the file is missing, no viewer is known or it cannot be started; the process held before
  // is then kept. On success the new process replaces the one held before, which is left to
  // run.
  bool Open(const QString& dir, const QString& fileName);
  // Why the last Open failed, naming the guide's path: the guide is missing, no viewer is
  // known, or the viewer could not be started.
  QString FailReason() const { return FFailReason; }

  // True while the process started last is still running.
  bool Running() const;
  // Ends the process started last if it is still running.
  void Terminate();

  qint64 Pid() const { return FPid; }

  // The command that opens file in the desktop's default application for mimeType: the
  // program first, then its arguments. Empty when none is known.
  static std::optional<QStringList> DefaultCommand(const QString& mimeType, const QString& file);
  // Splits a .desktop entry's Exec value into the program and its arguments, putting file (an
  // absolute path) in place of the file field codes and its URL in place of the URL codes, and
  // dropping the others.
  static std::optional<QStringList> ExpandExec(const QString& exec, const QString& file);

 private:
  qint64 FPid = 0;
  quint64 FStartTime = 0;
  QString FFailReason;
};

}  // namespace morvane
