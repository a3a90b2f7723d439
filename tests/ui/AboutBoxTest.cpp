// The about box as the program shows it: this test program carries the program's version
// block, as the program does.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/JpegImage.h"
#include "ui/VersionInfo.h"
#include "ui/fAboutBox.h"

using namespace morvane;

TEST(AboutBoxTest, ShowsTheProgramsVersionAndCloses) {
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Morvane");
  EXPECT_EQ(box.findChild<QLabel*>("Version")->text(), "Version: 1.4.0.23");
  EXPECT_TRUE(box.findChild<QLabel*>("Copyright")->text().startsWith("Copyright: ©"));
  EXPECT_EQ(box.findChild<QLabel*>("ProductName")->text(), "Morvane");
  ASSERT_NE(box.findChild<TVersionInfo*>("VersionInfo1"), nullptr);
  EXPECT_EQ(box.size(), QSize(281, 281));

  // The picture is decoded and is not one flat colour.
  const QPixmap picture = box.findChild<QLabel*>("ProgramIcon")->pixmap();
  ASSERT_FALSE(picture.isNull());
  const QImage image = picture.toImage();
  EXPECT_GE(image.width(), 256);
  EXPECT_NE(image.pixel(150, 150), image.pixel(10, 500));

  // Enter presses OK, which closes the modal box with the OK result; shown again, same texts.
  for (int i = 0; i < 2; ++i) {
    QTimer::singleShot(50, &box, [&box] { QTest::keyClick(&box, Qt::Key_Return); });
    EXPECT_EQ(box.exec(), QDialog::Accepted);
    EXPECT_EQ(box.findChild<QLabel*>("Version")->text(), "Version: 1.4.0.23");
  }
  EXPECT_TRUE(box.findChild<QPushButton*>("OKButton")->isDefault());
}

TEST(AboutBoxTest, DamagedJpegDataGivesNoPicture) {
  QFile art(QStringLiteral(":/morvane/AboutArt.jpg"));
  ASSERT_TRUE(art.open(QIODevice::ReadOnly));
  const QByteArray good = art.readAll();
  EXPECT_FALSE(DecodeJpeg(good).isNull());
  EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
  EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture at all")).isNull());
  EXPECT_TRUE(DecodeJpeg(good.left(20)).isNull());
  // A picture cut in its data is drawn as far as it goes rather than refused, as viewers do.
  EXPECT_FALSE(DecodeJpeg(good.left(good.size() / 2)).isNull());
}
