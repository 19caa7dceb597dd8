#include "window/graph_image.h"

#include <QMouseEvent>
#include <QPainter>

namespace quelvan {

GraphImage::GraphImage(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GraphImage::SetImage(QImage image) {
    image_ = std::move(image);
    update();
}

void GraphImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (image_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // At its own device-pixel ratio: a picture drawn for a high-density screen covers the
    // same area as one of ratio 1.
    painter.drawImage(QPoint(0, 0), image_);
    // A bitmap from before the last resize leaves the rest of the control black.
    const QSize shown = image_.deviceIndependentSize().toSize();
    if (shown.width() < width()) painter.fillRect(shown.width(), 0, width() - shown.width(), height(), Qt::black);
    if (shown.height() < height()) painter.fillRect(0, shown.height(), width(), height() - shown.height(), Qt::black);
}

void GraphImage::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit mouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void GraphImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit mouseMove(event->modifiers(), p.x(), p.y());
}

void GraphImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit mouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void GraphImage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

}  // namespace quelvan
