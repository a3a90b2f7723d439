// Renders a Markdown document to PDF with Qt's text document and PDF writer, so that the
// user's guide is built with the program and needs no typesetting system.
//
//   guidepdf [--images DIR]... [--title TEXT] INPUT.md OUTPUT.pdf
//
// Pictures are looked for beside the input and in each --images folder; a picture that is
// missing (a screenshot not made on this machine) is left out with a note on standard error.
// Each first-level heading after the first starts a new page.

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>
#include <QTextTable>
#include <QUrl>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: guidepdf [--images DIR]... [--title TEXT] INPUT.md OUTPUT.pdf\n");
  return 2;
}

// The Markdown with every image reference pointing to a file that exists, as an absolute
// path, each added to pictures; references to files found nowhere are dropped.
QString ResolveImages(const QString& markdown, const QStringList& folders, QStringList& pictures) {
  static const QRegularExpression image(QStringLiteral(R"(!\[([^\]]*)\]\(([^)\s]+)\))"));
  QString out;
  qsizetype last = 0;
  for (auto it = image.globalMatch(markdown); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += markdown.mid(last, m.capturedStart() - last);
    last = m.capturedEnd();
    const QString name = m.captured(2);
    QString found;
    for (const QString& folder : folders) {
      const QFileInfo candidate(QDir(folder), name);
      if (candidate.isFile()) {
        found = candidate.absoluteFilePath();
        break;
      }
    }
    if (found.isEmpty()) {
      std::fprintf(stderr, "guidepdf: picture %s not found, left out\n", qPrintable(name));
      continue;
    }
    pictures << found;
    out += QStringLiteral("![%1](%2)").arg(m.captured(1), QUrl::fromLocalFile(found).toString());
  }
  out += markdown.mid(last);
  return out;
}

// Pictures are drawn at a screen's size enlarged by a quarter, and no wider than the text. A
// picture's size is given in pixels of a 96-dpi screen: the layout scales it to the device.
void FitImages(QTextDocument& doc, qreal textWidth, int resolution) {
  const qreal maxWidth = textWidth * 96.0 / resolution;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      QTextImageFormat format = fragment.charFormat().toImageFormat();
      const QImage img =
          doc.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
      if (img.isNull()) continue;
      qreal width = img.width() * 1.25, height = img.height() * 1.25;
      if (width > maxWidth) {
        height *= maxWidth / width;
        width = maxWidth;
      }
      format.setWidth(width);
      format.setHeight(height);
      QTextCursor cursor(&doc);
      cursor.setPosition(fragment.position());
      cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      cursor.setCharFormat(format);
    }
  }
}

// Tables with a thin rule between cells and room around the text.
void StyleTables(QTextDocument& doc, int resolution) {
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    QTextTable* table = QTextCursor(block).currentTable();
    if (!table || table->cellAt(block.position()).row() != 0 ||
        table->cellAt(block.position()).column() != 0)
      continue;
    QTextTableFormat format = table->format();
    format.setBorderCollapse(true);
    format.setBorder(resolution / 200.0);
    format.setBorderBrush(QColor(150, 150, 150));
    format.setCellPadding(resolution / 40.0);
    table->setFormat(format);
  }
}

void BreakBeforeChapters(QTextDocument& doc) {
  bool first = true;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    if (block.blockFormat().headingLevel() != 1) continue;
    if (!first) {
      QTextCursor cursor(block);
      QTextBlockFormat format = block.blockFormat();
      format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
      cursor.setBlockFormat(format);
    }
    first = false;
  }
}

// Code in DejaVu Sans Mono rather than whichever monospace font the build machine's fontconfig
// prefers: the PDF embeds its fonts, and the package's copyright names them.
void SetCodeFont(QTextDocument& doc) {
  const QString systemFixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
  std::vector<std::pair<int, int>> code;  // position and length, changed after the walk
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat format = fragment.charFormat();
      if (format.fontFixedPitch() || format.fontFamilies().toStringList().contains(systemFixed))
        code.emplace_back(fragment.position(), fragment.length());
    }
  }
  QTextCharFormat mono;
  mono.setFontFamilies({QStringLiteral("DejaVu Sans Mono")});
  QTextCursor cursor(&doc);
  for (const auto& [position, length] : code) {
    cursor.setPosition(position);
    cursor.setPosition(position + length, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(mono);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // No window is shown: the offscreen platform serves where no display is.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  QStringList folders;
  QString title;
  QStringList files;
  while (!args.isEmpty()) {
    const QString arg = args.takeFirst();
    if (arg == QLatin1String("--images") && !args.isEmpty()) {
      folders << args.takeFirst();
    } else if (arg == QLatin1String("--title") && !args.isEmpty()) {
      title = args.takeFirst();
    } else if (arg.startsWith(QLatin1String("--"))) {
      return Usage();
    } else {
      files << arg;
    }
  }
  if (files.size() != 2) return Usage();

  QFile input(files[0]);
  if (!input.open(QIODevice::ReadOnly | QIODevice::Text)) {
    std::fprintf(stderr, "guidepdf: cannot read %s: %s\n", qPrintable(files[0]),
                 qPrintable(input.errorString()));
    return 1;
  }
  folders.prepend(QFileInfo(files[0]).absolutePath());
  QStringList pictures;
  const QString markdown = ResolveImages(QString::fromUtf8(input.readAll()), folders, pictures);

  QSaveFile output(files[1]);  // a failed run leaves no half-written guide behind
  if (!output.open(QIODevice::WriteOnly)) {
    std::fprintf(stderr, "guidepdf: cannot write %s: %s\n", qPrintable(files[1]),
                 qPrintable(output.errorString()));
    return 1;
  }
  QPdfWriter writer(&output);
  writer.setResolution(300);
  writer.setTitle(title);
  writer.setCreator(QStringLiteral("guidepdf"));
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(22, 18, 22, 14), QPageLayout::Millimeter));

  QTextDocument doc;
  // Laid out in the writer's own units, so that point sizes come out as points on paper.
  doc.documentLayout()->setPaintDevice(&writer);
  doc.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
  doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
  for (const QString& picture : pictures) {
    const QImage image(picture);
    if (image.isNull()) {
      std::fprintf(stderr, "guidepdf: cannot read picture %s\n", qPrintable(picture));
      return 1;
    }
    doc.addResource(QTextDocument::ImageResource, QUrl::fromLocalFile(picture), image);
  }
  const QRect paper = writer.pageLayout().paintRectPixels(writer.resolution());
  const int footer = writer.resolution() / 3;  // room for the page number
  const QSizeF page(paper.width(), paper.height() - footer);
  FitImages(doc, page.width(), writer.resolution());
  StyleTables(doc, writer.resolution());
  BreakBeforeChapters(doc);
  SetCodeFont(doc);
  // Only now: a page size set before the edits above leaves parts of the layout stale.
  doc.setPageSize(page);

  QPainter painter(&writer);
  QFont numberFont(QStringLiteral("DejaVu Sans"), 9);
  const int pages = doc.pageCount();
  for (int i = 0; i < pages; ++i) {
    if (i > 0) writer.newPage();
    painter.save();
    painter.translate(0, -i * page.height());
    doc.drawContents(&painter, QRectF(QPointF(0, i * page.height()), page));
    painter.restore();
    if (i > 0) {  // the title page goes without a number
      painter.setFont(numberFont);
      painter.drawText(QRectF(0, page.height(), page.width(), footer), Qt::AlignCenter,
                       QString::number(i + 1));
    }
  }
  painter.end();
  if (!output.commit()) {
    std::fprintf(stderr, "guidepdf: cannot write %s: %s\n", qPrintable(files[1]),
                 qPrintable(output.errorString()));
    return 1;
  }
  return 0;
}
