#pragma once
// Decodes JPEG data with libjpeg into an image the widgets can draw.

#include <QByteArray>
#include <QImage>

namespace morvane {

// The decoded picture, or a null image when the data is not a JPEG image libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace morvane
