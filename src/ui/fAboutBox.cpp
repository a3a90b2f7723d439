#include "ui/fAboutBox.h"

#include <QCoreApplication>
#include <QFile>
#include <QPixmap>
#include <QScreen>

#include "ui/JpegImage.h"
#include "ui/VersionInfo.h"
#include "ui_fAboutBox.h"

namespace morvane {

namespace {

// The picture is kept in the program as JPEG data and decoded by libjpeg, so that it does not
// depend on which image plug-ins the toolkit has.
QPixmap AboutPicture() {
  QFile file(QStringLiteral(":/morvane/AboutArt.jpg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QPixmap::fromImage(DecodeJpeg(file.readAll()));
}

}  // namespace

TAboutBox::TAboutBox(QWidget* owner) : QDialog(owner), Form(std::make_unique<Ui::TAboutBox>()) {
  Form->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(281, 281);
  Form->ProgramIcon->setPixmap(AboutPicture());
  Form->ProgramIcon->lower();  // the texts stand on the picture
  VersionInfo1 = new TVersionInfo(this);
  VersionInfo1->setObjectName(QStringLiteral("VersionInfo1"));
  connect(Form->OKButton, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() {
  VersionInfo1->SetFilename(QCoreApplication::applicationFilePath());
  Form->Version->setText(QStringLiteral("Version: ") + VersionInfo1->VersionText());
  Form->Copyright->setText(QStringLiteral("Copyright: ") + VersionInfo1->LegalCopyright());
}

void TAboutBox::showEvent(QShowEvent* event) {
  // Centred on the screen, wherever the main window stands.
  if (QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}

}  // namespace morvane
