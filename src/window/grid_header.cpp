#include "window/grid_header.h"

#include <QPainter>
#include <QStyleOptionHeader>

namespace quelvan {

GridHeader::GridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    // Captions stand right above the values, at their left edge, whether across or turned.
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignBottom);
}

void GridHeader::SetTextsTurned(bool turned, int height) {
    const int minimum = turned ? height : 0;
    if (turned == turned_ && minimumHeight() == minimum) return;
    turned_ = turned;
    setMinimumHeight(minimum);
    viewport()->update();
}

void GridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!turned_ || logicalIndex == 0) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // The section as the style draws it, without its caption ...
    QStyleOptionHeader option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const QString text = option.text;
    option.text.clear();
    // The style may leave a clip of its own behind.
    painter->save();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->restore();

    // ... and the caption turned a quarter to the left, its foot at the section's bottom,
    // where the values begin.
    const QFontMetrics metrics(font());
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, &option, this);
    painter->save();
    painter->setClipRect(rect);
    painter->setFont(font());
    painter->setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter->translate(rect.left() + margin + metrics.ascent(), rect.bottom() - margin);
    painter->rotate(-90);
    painter->drawText(0, 0, text);
    painter->restore();
}

}  // namespace quelvan
