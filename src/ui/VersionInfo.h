#pragma once
// TVersionInfo: reads a program file's version block into strings. A Linux program keeps its
// version block in an ELF note of its own file (".note.package", owner "FDO", a JSON text with
// a "versionInfo" object: the fixed file information and the string tables); see
// cmake/VersionNote.cmake, which writes it.

#include <QObject>
#include <QString>

namespace morvane {

class TVersionInfo : public QObject {
  Q_OBJECT

 public:
  explicit TVersionInfo(QObject* owner = nullptr);

  const QString& Filename() const { return FFilename; }
  // Reads the named file's version block, unless the name is exactly the current one.
  void SetFilename(const QString& name);

  const QString& MajorVersion() const { return FMajorVersion; }
  const QString& MinorVersion() const { return FMinorVersion; }
  const QString& ReleaseNumber() const { return FReleaseNumber; }
  const QString& BuildNumber() const { return FBuildNumber; }
  const QString& VersionText() const { return FVersionText; }
  const QString& BuildKind() const { return FBuildKind; }
  const QString& FileDescription() const { return FFileDescription; }
  const QString& FileVersion() const { return FFileVersion; }
  const QString& InternalName() const { return FInternalName; }
  const QString& LegalCopyright() const { return FLegalCopyright; }
  const QString& ProductName() const { return FProductName; }
  const QString& ProductVersion() const { return FProductVersion; }
  const QString& CompanyName() const { return FCompanyName; }
  const QString& Comments() const { return FComments; }

 private:
  void Clear();
  void ReadBlock(const QByteArray& json);

  QString FFilename;
  QString FMajorVersion, FMinorVersion, FReleaseNumber, FBuildNumber, FVersionText, FBuildKind;
  QString FFileDescription, FFileVersion, FInternalName, FLegalCopyright, FProductName,
      FProductVersion, FCompanyName, FComments;
};

// The JSON text of the version note in an ELF file, or an empty array when the file cannot be
// read, is not ELF or holds no version block.
QByteArray ReadVersionNote(const QString& filename);

}  // namespace morvane
