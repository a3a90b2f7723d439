// Renders the indicator widgets as the main window places them to a PNG, for a look by eye:
//   widgets_demo [output.png]   (default /tmp/morvane-widgets-demo.png; a 4× copy beside it)
#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>

#include "widgets/ulxmLbl.h"
#include "widgets/ulxmLite.h"
#include "widgets/ulxmLiteFP.h"

namespace {

constexpr TColor MovingOnColor = 0x03D3EB;   // red 235, green 211, blue 3
constexpr TColor MovingOffColor = 0x007777;  // red 119, green 119, blue 0

TlxmLite* AddLite(QGridLayout* Grid, int Row, int Column, const QString& Caption, bool Lit,
                  TlxmLite::TLiteShape Shape, TColor On = clLime, TColor Off = clDarkGreen) {
  auto* const Lite = new TlxmLite;
  Lite->SetShape(Shape);
  Lite->SetOnColor(On);
  Lite->SetOffColor(Off);
  Lite->SetLit(Lit);
  Lite->setFixedSize(Lite->sizeHint());
  Grid->addWidget(Lite, Row, Column * 2, Qt::AlignCenter);
  Grid->addWidget(new QLabel(Caption), Row, Column * 2 + 1);
  return Lite;
}

}  // namespace

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication Application(Argc, Argv);
  const QString Output =
      Argc > 1 ? QString::fromLocal8Bit(Argv[1]) : QStringLiteral("/tmp/morvane-widgets-demo.png");

  QWidget Window;
  Window.setWindowTitle(QStringLiteral("Morvane"));
  auto* const Column = new QVBoxLayout(&Window);

  auto* const Panel8 = new QFrame;
  Panel8->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel8->setLineWidth(2);
  auto* const PanelLayout = new QVBoxLayout(Panel8);
  PanelLayout->setContentsMargins(2, 2, 2, 2);
  auto* const CTSLabel = new TlxmLbl;
  CTSLabel->SetLineBorder(false);
  CTSLabel->SetAlignment(TlxmLbl::taCenter);
  QFont ReadoutFont(QStringLiteral("Arial"));
  ReadoutFont.setBold(true);
  ReadoutFont.setPixelSize(48);
  CTSLabel->setFont(ReadoutFont);
  CTSLabel->SetCaption(QStringLiteral("0000"));
  PanelLayout->addWidget(CTSLabel);
  Column->addWidget(Panel8);

  auto* const Grid = new QGridLayout;
  AddLite(Grid, 0, 0, QStringLiteral("In"), true, TlxmLite::lsRound);
  AddLite(Grid, 0, 1, QStringLiteral("Out"), false, TlxmLite::lsRound);
  AddLite(Grid, 0, 2, QStringLiteral("Moving"), true, TlxmLite::lsRound, MovingOnColor,
          MovingOffColor);
  AddLite(Grid, 1, 0, QStringLiteral("Square lit"), true, TlxmLite::lsSquare);
  AddLite(Grid, 1, 1, QStringLiteral("Square unlit"), false, TlxmLite::lsSquare);
  AddLite(Grid, 1, 2, QStringLiteral("Moving off"), false, TlxmLite::lsRound, MovingOnColor,
          MovingOffColor);
  Column->addLayout(Grid);

  auto* const Temperature = new QHBoxLayout;
  auto* const lxmLiteFP1 = new TlxmLiteFP;
  lxmLiteFP1->SetFlashType(TlxmLiteFP::ftPulse);
  lxmLiteFP1->SetDuration(50);
  lxmLiteFP1->SetOnFlashColor(clYellow);
  lxmLiteFP1->setFixedSize(lxmLiteFP1->sizeHint());
  auto* const Label1 = new TlxmLbl;
  QFont Bold = Label1->font();
  Bold.setBold(true);
  Label1->setFont(Bold);
  Label1->SetAlignment(TlxmLbl::taCenter);
  Label1->SetColor(clWhite);
  Label1->SetCaption(QStringLiteral("7.0 \u00B0C"));
  Label1->setMinimumWidth(90);
  Temperature->addWidget(lxmLiteFP1);
  Temperature->addWidget(Label1);
  Temperature->addStretch();
  Column->addLayout(Temperature);

  Window.adjustSize();
  const QImage Image = Window.grab().toImage();
  const QString Large = QString(Output).replace(QStringLiteral(".png"), QStringLiteral("-4x.png"));
  const bool Saved =
      Image.save(Output) &&
      Image.scaled(Image.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(Large);
  std::printf("%s %s (%dx%d)\n", Saved ? "saved" : "could not save", qPrintable(Output),
              Image.width(), Image.height());
  return Saved ? 0 : 1;
}
