#include "ui/HelpViewer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <csignal>

namespace morvane {

namespace {

// Field 22 of /proc/<pid>/stat, the start time in clock ticks; 0 when the process is gone or
// has ended and waits to be reaped.
quint64 ProcessStartTime(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return 0;
  const QByteArray text = stat.readAll();
  // The command name in parentheses may hold blanks; the fields after it are plain.
  const int close = text.lastIndexOf(')');
  if (close < 0) return 0;
  const QList<QByteArray> fields = text.mid(close + 2).split(' ');
  // fields[0] is the state (field 3), so field 22 is fields[19].
  if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X") return 0;
  return fields[19].toULongLong();
}

// The directories that hold .desktop entries, most important first.
QStringList ApplicationDirectories() {
  QStringList dirs;
  QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
  dirs << dataHome;
  QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dataDirs.isEmpty()) dataDirs = QStringLiteral("/usr/local/share:/usr/share");
  dirs << dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
  for (QString& dir : dirs) dir += QStringLiteral("/applications/");
  return dirs;
}

// A desktop id "vendor-app.desktop" may also lie at vendor/app.desktop.
QString FindDesktopFile(const QString& id) {
  for (const QString& dir : ApplicationDirectories()) {
    QString relative = id;
    while (true) {
      if (QFileInfo::exists(dir + relative)) return dir + relative;
      const int dash = relative.indexOf(QLatin1Char('-'));
      if (dash < 0) break;
      relative[dash] = QLatin1Char('/');
    }
  }
  return {};
}

// The Exec value of the [Desktop Entry] group, with the format's escapes of string values
// undone.
QString ReadExec(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  bool inEntry = false;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inEntry = line == QLatin1String("[Desktop Entry]");
    } else if (inEntry && line.startsWith(QLatin1String("Exec"))) {
      const int eq = line.indexOf(QLatin1Char('='));
      if (eq < 0 || line.left(eq).trimmed() != QLatin1String("Exec")) continue;
      QString value = line.mid(eq + 1).trimmed();
      QString out;
      for (int i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
          const QChar c = value[++i];
          if (c == QLatin1Char('s'))
            out += QLatin1Char(' ');
          else if (c == QLatin1Char('n'))
            out += QLatin1Char('\n');
          else if (c == QLatin1Char('t'))
            out += QLatin1Char('\t');
          else
            out += c == QLatin1Char('\\') ? QStringLiteral("\\\\") : QString(QLatin1Char('\\')) + c;
        } else {
          out += value[i];
        }
      }
      return out;
    }
  }
  return {};
}

}  // namespace

std::optional<QStringList> THelpViewer::ExpandExec(const QString& exec, const QString& file) {
  QStringList args;
  QString current;
  bool inQuotes = false;
  bool haveArg = false;
  for (int i = 0; i < exec.size(); ++i) {
    const QChar c = exec[i];
    if (inQuotes) {
      if (c == QLatin1Char('"')) {
        inQuotes = false;
      } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
        current += exec[++i];
      } else {
        current += c;
      }
    } else if (c == QLatin1Char('"')) {
      inQuotes = true;
      haveArg = true;
    } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
      if (haveArg) args << current;
      current.clear();
      haveArg = false;
    } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
      const QChar code = exec[++i];
      if (code == QLatin1Char('%')) {
        current += code;
        haveArg = true;
      } else if (code == QLatin1Char('f') || code == QLatin1Char('F')) {
        current += file;
        haveArg = true;
      } else if (code == QLatin1Char('u') || code == QLatin1Char('U')) {
        current += QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded());
        haveArg = true;
      }
      // %i, %c, %k and the deprecated codes stand for nothing here.
    } else {
      current += c;
      haveArg = true;
    }
  }
  if (inQuotes) return std::nullopt;
  if (haveArg) args << current;
  if (args.isEmpty()) return std::nullopt;
  return args;
}

std::optional<QStringList> THelpViewer::DefaultCommand(const QString& mimeType,
                                                       const QString& file) {
  QProcess query;
  query.start(QStringLiteral("xdg-mime"),
              {QStringLiteral("query"), QStringLiteral("default"), mimeType});
  if (!query.waitForFinished(5000) || query.exitStatus() != QProcess::NormalExit)
    return std::nullopt;
  // One desktop id, or several separated by ';' in some versions: the first wins.
  const QString ids = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
  for (const QString& id : ids.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString path = FindDesktopFile(id.trimmed());
    if (path.isEmpty()) continue;
    const QString exec = ReadExec(path);
    if (exec.isEmpty()) continue;
    std::optional<QStringList> command = ExpandExec(exec, file);
    // An Exec line without a field code takes the file at the end.
    if (command && !exec.contains(QRegularExpression(QStringLiteral("%[fFuU]")))) *command << file;
    if (command) return command;
  }
  return std::nullopt;
}

bool THelpViewer::Open(const QString& dir, const QString& fileName) {
  const QString path = QDir(dir).filePath(fileName);
  if (!QFileInfo(path).isFile()) {
    FFailReason = QStringLiteral("The guide is not there: %1").arg(path);
    return false;
  }
  const std::optional<QStringList> command =
      DefaultCommand(QStringLiteral("application/pdf"), path);
  if (!command) {
    FFailReason = QStringLiteral(
                      "No PDF viewer is set for the desktop (xdg-mime query default "
                      "application/pdf) to open %1")
                      .arg(path);
    return false;
  }
  qint64 pid = 0;
  if (!QProcess::startDetached(command->first(), command->mid(1), dir, &pid) || pid <= 0) {
    FFailReason =
        QStringLiteral("The PDF viewer %1 could not be started for %2").arg(command->first(), path);
    return false;
  }
  FFailReason.clear();
  FPid = pid;
  FStartTime = ProcessStartTime(pid);
  return true;
}

bool THelpViewer::Running() const {
  return FPid > 0 && FStartTime != 0 && ProcessStartTime(FPid) == FStartTime;
}

void THelpViewer::Terminate() {
  if (Running()) ::kill(static_cast<pid_t>(FPid), SIGTERM);
}

}  // namespace morvane
