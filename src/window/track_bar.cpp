#include "window/track_bar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quelvan {

TrackBar::TrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::TicksBothSides);
}

void TrackBar::Configure(int minimum, int maximum, int arrowStep, int pageStep, int tickInterval) {
    setRange(minimum, maximum);
    setSingleStep(arrowStep);
    setPageStep(pageStep);
    setTickInterval(tickInterval);
    setTickPosition(QSlider::TicksBothSides);
}

void TrackBar::setSelection(int start, int end) {
    if (start > end) std::swap(start, end);
    if (hasSelection_ && start == selectionStart_ && end == selectionEnd_) return;
    hasSelection_ = true;
    selectionStart_ = start;
    selectionEnd_ = end;
    update();
}

void TrackBar::clearSelection() {
    if (!hasSelection_) return;
    hasSelection_ = false;
    update();
}

// One rule for every track bar. A wheel turned over a track bar the user only passes on the
// way down the page leaves it alone (the event goes on to the page), and on the focused one
// a notch is exactly an arrow key: the same step, and the same handler, which writes to the
// board as for the keyboard.
void TrackBar::wheelEvent(QWheelEvent* event) {
    if (!hasFocus() || !isEnabled()) {
        event->ignore();
        return;
    }
    event->accept();
    const QPoint angle = event->angleDelta();
    int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (event->inverted()) delta = -delta;
    constexpr int kNotch = QWheelEvent::DefaultDeltasPerStep;
    wheelRemainder_ += delta;
    const int notches = wheelRemainder_ / kNotch;
    wheelRemainder_ -= notches * kNotch;
    for (int i = 0; i < std::abs(notches); ++i) triggerAction(notches > 0 ? SliderSingleStepAdd : SliderSingleStepSub);
}

int TrackBar::PixelOf(int value) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = std::max(0, groove.width() - handle.width());
    const int clamped = std::clamp(value, minimum(), maximum());
    return groove.x() + handle.width() / 2 +
           QStyle::sliderPositionFromValue(minimum(), maximum(), clamped, span, option.upsideDown);
}

void TrackBar::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (!hasSelection_) return;

    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    int left = PixelOf(selectionStart_);
    int right = PixelOf(selectionEnd_);
    if (left > right) std::swap(left, right);
    right = std::max(right, left + 2);

    const int height = std::max(4, groove.height() / 2);
    const QRect band(left, groove.center().y() - height / 2, right - left, height);
    QPainter painter(this);
    QColor color = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
    color.setAlpha(170);
    painter.fillRect(band, color);
}

}  // namespace quelvan
