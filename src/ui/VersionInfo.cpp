#include "ui/VersionInfo.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cstring>

namespace morvane {

namespace {

constexpr char NoteOwner[] = "FDO";
constexpr GElf_Word PackageNoteType = 0xcafe1a7e;
// A version block is a few hundred bytes; a larger note is not ours and is not parsed.
constexpr size_t MaxNoteSize = 64 * 1024;

// The descriptor of the first package note in one note section that holds a version block.
QByteArray NoteInSection(Elf_Scn* scn) {
  Elf_Data* data = elf_getdata(scn, nullptr);
  if (!data || !data->d_buf) return {};
  GElf_Nhdr note;
  size_t nameOffset = 0, descOffset = 0;
  size_t offset = 0;
  while (offset < data->d_size) {
    const size_t next = gelf_getnote(data, offset, &note, &nameOffset, &descOffset);
    if (next == 0) break;  // a malformed note ends the section
    offset = next;
    if (note.n_type != PackageNoteType || note.n_namesz != sizeof NoteOwner || note.n_descsz == 0 ||
        note.n_descsz > MaxNoteSize)
      continue;
    const char* base = static_cast<const char*>(data->d_buf);
    if (std::memcmp(base + nameOffset, NoteOwner, sizeof NoteOwner) != 0) continue;
    // The text ends at its NUL, or at the end of the descriptor when the NUL is missing.
    const char* desc = base + descOffset;
    const size_t length = strnlen(desc, note.n_descsz);
    QByteArray json(desc, static_cast<qsizetype>(length));
    if (QJsonDocument::fromJson(json).object().value("versionInfo").isObject()) return json;
  }
  return {};
}

// Owns an open file descriptor and the ELF descriptor on it.
struct TElfFile {
  int fd = -1;
  Elf* elf = nullptr;
  ~TElfFile() {
    if (elf) elf_end(elf);
    if (fd >= 0) close(fd);
  }
};

QString Word(quint32 value) {
  return QString::number(value);
}

// A 32-bit value of the fixed file information; absent or out of range reads as none.
bool FixedWord(const QJsonObject& fixed, const char* key, quint32& value) {
  const QJsonValue v = fixed.value(QLatin1String(key));
  if (!v.isDouble()) return false;
  const double d = v.toDouble();
  if (d < 0 || d > 4294967295.0 || d != static_cast<double>(static_cast<quint32>(d))) return false;
  value = static_cast<quint32>(d);
  return true;
}

}  // namespace

QByteArray ReadVersionNote(const QString& filename) {
  if (elf_version(EV_CURRENT) == EV_NONE) return {};
  TElfFile file;
  file.fd = open(QFile::encodeName(filename).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return {};
  // ELF_C_READ reads what is asked for rather than mapping the file, so a file cut short
  // gives read errors instead of a fault when its missing part is touched.
  file.elf = elf_begin(file.fd, ELF_C_READ, nullptr);
  if (!file.elf || elf_kind(file.elf) != ELF_K_ELF) return {};
  Elf_Scn* scn = nullptr;
  while ((scn = elf_nextscn(file.elf, scn)) != nullptr) {
    GElf_Shdr header;
    if (!gelf_getshdr(scn, &header) || header.sh_type != SHT_NOTE) continue;
    QByteArray json = NoteInSection(scn);
    if (!json.isEmpty()) return json;
  }
  return {};
}

TVersionInfo::TVersionInfo(QObject* owner) : QObject(owner) {}

void TVersionInfo::Clear() {
  for (QString* s : {&FMajorVersion, &FMinorVersion, &FReleaseNumber, &FBuildNumber, &FVersionText,
                     &FBuildKind, &FFileDescription, &FFileVersion, &FInternalName,
                     &FLegalCopyright, &FProductName, &FProductVersion, &FCompanyName, &FComments})
    s->clear();
}

void TVersionInfo::SetFilename(const QString& name) {
  if (name == FFilename) return;
  FFilename = name;
  Clear();
  const QByteArray json = ReadVersionNote(name);
  if (!json.isEmpty()) ReadBlock(json);
}

void TVersionInfo::ReadBlock(const QByteArray& json) {
  const QJsonObject block = QJsonDocument::fromJson(json).object().value("versionInfo").toObject();

  const QJsonObject fixed = block.value("fixedFileInfo").toObject();
  quint32 ms = 0, ls = 0;
  if (FixedWord(fixed, "fileVersionMS", ms) && FixedWord(fixed, "fileVersionLS", ls)) {
    FMajorVersion = Word(ms >> 16);
    FMinorVersion = Word(ms & 0xFFFF);
    FReleaseNumber = Word(ls >> 16);
    FBuildNumber = Word(ls & 0xFFFF);
    FVersionText = FMajorVersion + '.' + FMinorVersion + '.' + FReleaseNumber + '.' + FBuildNumber;
  }
  quint32 flags = 0, mask = 0;
  if (FixedWord(fixed, "fileFlags", flags) && FixedWord(fixed, "fileFlagsMask", mask)) {
    flags &= mask;
    // In this order, so that the last set bit names the build.
    if (flags & 0x01) FBuildKind = "Debug";
    if (flags & 0x02) FBuildKind = "Beta";
    if (flags & 0x08) FBuildKind = "Private Build";
    if (flags & 0x20) FBuildKind = "Special Build";
  }

  // U.S. English, code page 1252: the one table read; a missing key stays empty.
  const QJsonObject table = block.value("stringFileInfo").toObject().value("040904E4").toObject();
  const auto text = [&table](const char* key) {
    return table.value(QLatin1String(key)).toString();
  };
  FFileDescription = text("FileDescription");
  FFileVersion = text("FileVersion");
  FInternalName = text("InternalName");
  FLegalCopyright = text("LegalCopyright");
  FProductName = text("ProductName");
  FProductVersion = text("ProductVersion");
  FCompanyName = text("CompanyName");
  FComments = text("Comments");
}

}  // namespace morvane
