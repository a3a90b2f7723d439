// The version reader against ELF files made here, the program's own block and files that are
// not programs at all.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

#include "ElfNoteFile.h"
#include "ui/VersionInfo.h"

using namespace morvane;
using namespace morvane::test;

namespace {

const std::string Strings =
    R"("FileDescription":"Test","FileVersion":"2.10.3.400","InternalName":"tst",)"
    R"("LegalCopyright":"(c) us","ProductName":"P","ProductVersion":"2.1",)"
    R"("CompanyName":"Co","Comments":"none")";

void ExpectEmpty(const TVersionInfo& v) {
  for (const QString* s : {&v.MajorVersion(), &v.MinorVersion(), &v.ReleaseNumber(),
                           &v.BuildNumber(), &v.VersionText(), &v.BuildKind(), &v.FileDescription(),
                           &v.FileVersion(), &v.InternalName(), &v.LegalCopyright(),
                           &v.ProductName(), &v.ProductVersion(), &v.CompanyName(), &v.Comments()})
    EXPECT_TRUE(s->isEmpty()) << s->toStdString();
}

class VersionInfoTest : public testing::Test {
 protected:
  std::string Path(const char* name) { return QDir(Dir.path()).filePath(name).toStdString(); }
  QTemporaryDir Dir;
};

}  // namespace

TEST_F(VersionInfoTest, TheProgramsOwnBlock) {
  TVersionInfo v;
  v.SetFilename(QStringLiteral(MORVANE_PROGRAM));
  EXPECT_EQ(v.VersionText(), "1.4.0.23");
  EXPECT_EQ(v.MajorVersion(), "1");
  EXPECT_EQ(v.MinorVersion(), "4");
  EXPECT_EQ(v.ReleaseNumber(), "0");
  EXPECT_EQ(v.BuildNumber(), "23");
  EXPECT_EQ(v.BuildKind(), "");
  EXPECT_EQ(v.FileDescription(), "Morvane");
  EXPECT_EQ(v.FileVersion(), "1.4.0.23");
  EXPECT_EQ(v.ProductVersion(), "1.3");
  EXPECT_EQ(v.Comments(), "added support for >9 COM ports");
  EXPECT_EQ(v.ProductName(), "");
  EXPECT_FALSE(v.InternalName().isEmpty());
  EXPECT_FALSE(v.CompanyName().isEmpty());
  EXPECT_FALSE(v.LegalCopyright().isEmpty());
}

TEST_F(VersionInfoTest, PartsInDecimalAndTheLastFlagWins) {
  ASSERT_TRUE(WriteNoteElf(Path("a"), VersionJson(2, 10, 3, 400, 0x21, 0x3F, Strings)));
  TVersionInfo v;
  v.SetFilename(QString::fromStdString(Path("a")));
  EXPECT_EQ(v.VersionText(), "2.10.3.400");
  EXPECT_EQ(v.BuildKind(), "Special Build");
  EXPECT_EQ(v.FileDescription(), "Test");
  EXPECT_EQ(v.InternalName(), "tst");
  EXPECT_EQ(v.LegalCopyright(), "(c) us");
  EXPECT_EQ(v.ProductName(), "P");
  EXPECT_EQ(v.ProductVersion(), "2.1");
  EXPECT_EQ(v.CompanyName(), "Co");
  EXPECT_EQ(v.Comments(), "none");

  // The mask hides a flag; a flag outside the four named ones names nothing.
  ASSERT_TRUE(WriteNoteElf(Path("b"), VersionJson(65535, 0, 0, 65535, 0x21, 0x01, "")));
  v.SetFilename(QString::fromStdString(Path("b")));
  EXPECT_EQ(v.VersionText(), "65535.0.0.65535");
  EXPECT_EQ(v.BuildKind(), "Debug");
  EXPECT_EQ(v.Comments(), "");  // the key is missing from the table
  ASSERT_TRUE(WriteNoteElf(Path("c"), VersionJson(1, 0, 0, 0, 0x0A | 0x04, 0x3F, "")));
  v.SetFilename(QString::fromStdString(Path("c")));
  EXPECT_EQ(v.BuildKind(), "Private Build");
  ASSERT_TRUE(WriteNoteElf(Path("d"), VersionJson(1, 0, 0, 0, 0x10, 0x3F, "")));
  v.SetFilename(QString::fromStdString(Path("d")));
  EXPECT_EQ(v.BuildKind(), "");
}

TEST_F(VersionInfoTest, TheSameNameReadsOnceAnotherCaseReadsAgain) {
  const std::string path = Path("Prog");
  ASSERT_TRUE(WriteNoteElf(path, VersionJson(1, 0, 0, 1, 0, 0x3F, Strings)));
  ASSERT_EQ(QFile::link(QString::fromStdString(path), QString::fromStdString(Path("PROG"))), true);
  TVersionInfo v;
  v.SetFilename(QString::fromStdString(path));
  EXPECT_EQ(v.VersionText(), "1.0.0.1");

  // The file changes under the same name: not read again.
  ASSERT_TRUE(WriteNoteElf(path, VersionJson(1, 0, 0, 2, 0, 0x3F, Strings)));
  v.SetFilename(QString::fromStdString(path));
  EXPECT_EQ(v.VersionText(), "1.0.0.1");
  // The same file named in other letters is read again.
  v.SetFilename(QString::fromStdString(Path("PROG")));
  EXPECT_EQ(v.VersionText(), "1.0.0.2");
  // A file without a block clears what was read before.
  v.SetFilename(QString::fromStdString(Path("missing")));
  ExpectEmpty(v);
}

TEST_F(VersionInfoTest, FilesWithoutABlockGiveEmptyStrings) {
  TVersionInfo v;
  // Not ELF.
  QFile text(QString::fromStdString(Path("text")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("MZ this is not a program\n");
  text.close();
  v.SetFilename(text.fileName());
  ExpectEmpty(v);

  // A program cut short in its section table, and in its note.
  ASSERT_TRUE(WriteNoteElf(Path("whole"), VersionJson(1, 2, 3, 4, 0, 0x3F, Strings)));
  QFile whole(QString::fromStdString(Path("whole")));
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray bytes = whole.readAll();
  for (qsizetype cut : {qsizetype(10), qsizetype(64), qsizetype(80), bytes.size() - 40}) {
    QFile part(QString::fromStdString(Path("part")) + QString::number(cut));
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(bytes.left(cut));
    part.close();
    v.SetFilename(part.fileName());
    ExpectEmpty(v);
  }

  // A directory, an empty name, a note of another owner, another type, a broken text, and a
  // block whose table is for another language.
  v.SetFilename(Dir.path());
  ExpectEmpty(v);
  v.SetFilename(QString());
  ExpectEmpty(v);
  const std::string json = VersionJson(1, 2, 3, 4, 0, 0x3F, Strings);
  ASSERT_TRUE(WriteNoteElf(Path("owner"), json, "GNU"));
  v.SetFilename(QString::fromStdString(Path("owner")));
  ExpectEmpty(v);
  ASSERT_TRUE(WriteNoteElf(Path("type"), json, "FDO", 3));
  v.SetFilename(QString::fromStdString(Path("type")));
  ExpectEmpty(v);
  ASSERT_TRUE(WriteNoteElf(Path("broken"), json.substr(0, json.size() / 2)));
  v.SetFilename(QString::fromStdString(Path("broken")));
  ExpectEmpty(v);
  ASSERT_TRUE(WriteNoteElf(Path("german"), VersionJson(1, 2, 3, 4, 0, 0x3F, Strings, "040704B0")));
  v.SetFilename(QString::fromStdString(Path("german")));
  EXPECT_EQ(v.VersionText(), "1.2.3.4");
  EXPECT_EQ(v.FileDescription(), "");
}
