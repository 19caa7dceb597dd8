#include "schedule/render/argb_image.h"

#include <algorithm>

namespace quelvan {

QImage NewArgbImage(int width, int height, std::uint32_t argb) {
    QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
    image.fill(argb);
    return image;
}

std::uint32_t PixelArgb(const QImage& image, int x, int y) {
    if (!image.valid(x, y)) return 0;
    return image.pixel(x, y);
}

}  // namespace quelvan
