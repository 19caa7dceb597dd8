#pragma once
// The image control `img` of the page "Grafik": shows a bitmap at its top-left corner at
// the bitmap's own device-pixel ratio (1: one bitmap pixel per logical pixel) and reports
// the mouse (in logical pixels, which are the bitmap's at ratio 1) and its own resizing.

#include <QImage>
#include <QWidget>

namespace quelvan {

class GraphImage : public QWidget {
    Q_OBJECT
public:
    explicit GraphImage(QWidget* parent = nullptr);

    const QImage& Image() const { return image_; }
    // Hands the bitmap over to be drawn into again; the control shows nothing until the
    // next SetImage.
    QImage TakeImage() { return std::move(image_); }
    // Shows a new bitmap (repainted once).
    void SetImage(QImage image);

signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void mouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage image_;
};

}  // namespace quelvan
