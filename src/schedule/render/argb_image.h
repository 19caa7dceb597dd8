#pragma once
// The pictures are 32-bit ARGB bitmaps whose colours are written $AARRGGBB.

#include <QImage>
#include <cstdint>

namespace quelvan {

// A width × height ARGB32 (not premultiplied) image with every pixel set to `argb`.
QImage NewArgbImage(int width, int height, std::uint32_t argb);

// The pixel at (x, y) as $AARRGGBB; 0 outside the image.
std::uint32_t PixelArgb(const QImage& image, int x, int y);

}  // namespace quelvan
