#include "window/wrap_radio_button.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

namespace quelvan {

namespace {

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

}  // namespace

WrapRadioButton::WrapRadioButton(const QString& caption, QWidget* parent) : QRadioButton(caption, parent) {
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrapRadioButton::IndicatorWidth() const {
    return style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, this) +
           style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, this);
}

QRect WrapRadioButton::TextRect(const QRect& bounds) const {
    return bounds.adjusted(IndicatorWidth(), 0, 0, 0);
}

int WrapRadioButton::heightForWidth(int width) const {
    const QRect text = fontMetrics().boundingRect(TextRect(QRect(0, 0, width, 10000)), kTextFlags, this->text());
    const int indicator = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, this);
    return std::max(text.height(), indicator) + 2;
}

void WrapRadioButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const int indicatorHeight = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, this);
    const int indicatorWidth = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, this);
    // The indicator stands beside the first line of the caption.
    const int firstLine = fontMetrics().height();
    option.rect = QRect(0, std::max(0, (firstLine - indicatorHeight) / 2), indicatorWidth, indicatorHeight);
    style()->drawPrimitive(QStyle::PE_IndicatorRadioButton, &option, &painter, this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawText(TextRect(rect()), kTextFlags, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = fontMetrics().boundingRect(TextRect(rect()), kTextFlags, text()).adjusted(-1, 0, 1, 0);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

bool WrapRadioButton::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

}  // namespace quelvan
