#include "ui/JpegImage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace morvane {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back
// to DecodeJpeg, whose frame holds nothing that needs a destructor between the jump points.
struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Return;
};

[[noreturn]] void JumpBack(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Return, 1);
}

void Silent(j_common_ptr, int) {}

// Decodes into image, row by row; false when libjpeg gave up on the data.
bool Decode(const QByteArray& data, QImage& image) {
  jpeg_decompress_struct info;
  TJpegError error;
  info.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = JumpBack;
  error.Manager.emit_message = Silent;  // warnings about damaged data are not the user's business
  if (setjmp(error.Return)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;  // grey and YCbCr pictures alike come out as RGB
  jpeg_start_decompress(&info);
  // The image lives in the caller's frame: a jump from here on leaves it whole, to be dropped.
  const int w = static_cast<int>(info.output_width), h = static_cast<int>(info.output_height);
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384 || info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  image = QImage(w, h, QImage::Format_RGB888);
  if (image.isNull()) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  QImage image;
  if (!Decode(data, image)) return {};
  return image;
}

}  // namespace morvane
