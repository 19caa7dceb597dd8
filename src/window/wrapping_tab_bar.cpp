#include "window/wrapping_tab_bar.h"

#include <QEvent>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <algorithm>

namespace quelvan {

WrappingTabBar::WrappingTabBar(QWidget* parent) : QTabBar(parent) {
    // The tab bar's own scrolling and shortening of captions never come into play: the tabs
    // take their whole width, on another row when they do not fit.
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setExpanding(false);
    setAttribute(Qt::WA_Hover);
}

int WrappingTabBar::AvailableWidth() const {
    // The bar is laid out by its tab widget from its size hint, so the width to wrap at is
    // the tab widget's.
    if (const QWidget* owner = parentWidget()) return owner->width();
    return width();
}

WrappingTabBar::Placement WrappingTabBar::Place(int width) const {
    Placement placement;
    placement.rects.resize(static_cast<std::size_t>(count()));
    placement.rows.assign(static_cast<std::size_t>(count()), -1);
    int rowHeight = 0;
    for (int i = 0; i < count(); ++i)
        if (isTabVisible(i)) rowHeight = std::max(rowHeight, tabSizeHint(i).height());
    int x = 0;
    int row = 0;
    bool rowUsed = false;
    for (int i = 0; i < count(); ++i) {
        if (!isTabVisible(i)) continue;
        const int tabWidth = std::min(tabSizeHint(i).width(), std::max(width, 1));
        if (rowUsed && x + tabWidth > width) {
            ++row;
            x = 0;
        }
        placement.rects[static_cast<std::size_t>(i)] = QRect(x, row * rowHeight, tabWidth, rowHeight);
        placement.rows[static_cast<std::size_t>(i)] = row;
        x += tabWidth;
        rowUsed = true;
    }
    placement.rowCount = rowUsed ? row + 1 : 0;
    placement.height = placement.rowCount * rowHeight;
    return placement;
}

QRect WrappingTabBar::WrappedTabRect(int index) const {
    if (index < 0 || index >= count()) return {};
    return Place(width()).rects[static_cast<std::size_t>(index)];
}

int WrappingTabBar::WrappedTabAt(const QPoint& pos) const {
    const Placement placement = Place(width());
    for (int i = 0; i < count(); ++i)
        if (placement.rects[static_cast<std::size_t>(i)].contains(pos)) return i;
    return -1;
}

int WrappingTabBar::RowCount() const {
    return Place(width()).rowCount;
}

QSize WrappingTabBar::sizeHint() const {
    const int width = AvailableWidth();
    return {width, Place(width).height};
}

QSize WrappingTabBar::minimumSizeHint() const {
    int widest = 0;
    int height = 0;
    for (int i = 0; i < count(); ++i) {
        if (!isTabVisible(i)) continue;
        widest = std::max(widest, tabSizeHint(i).width());
        height = std::max(height, tabSizeHint(i).height());
    }
    return {widest, height};
}

bool WrappingTabBar::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::HoverEnter:
        case QEvent::HoverMove: {
            const int hovered = WrappedTabAt(static_cast<QHoverEvent*>(event)->position().toPoint());
            if (hovered != hovered_) {
                hovered_ = hovered;
                update();
            }
            return true;
        }
        case QEvent::HoverLeave:
            if (hovered_ != -1) {
                hovered_ = -1;
                update();
            }
            return true;
        default:
            return QTabBar::event(event);
    }
}

void WrappingTabBar::paintEvent(QPaintEvent*) {
    const Placement placement = Place(width());
    QStylePainter painter(this);
    auto rowOf = [&placement](int i) { return placement.rows[static_cast<std::size_t>(i)]; };
    auto draw = [&](int i) {
        QStyleOptionTab option;
        initStyleOption(&option, i);
        option.rect = placement.rects[static_cast<std::size_t>(i)];
        // Neighbours within the same row decide how the tab's edges are drawn.
        int previous = i - 1;
        while (previous >= 0 && !isTabVisible(previous)) --previous;
        int next = i + 1;
        while (next < count() && !isTabVisible(next)) ++next;
        const bool first = previous < 0 || rowOf(previous) != rowOf(i);
        const bool last = next >= count() || rowOf(next) != rowOf(i);
        option.position = first && last ? QStyleOptionTab::OnlyOneTab
                          : first       ? QStyleOptionTab::Beginning
                          : last        ? QStyleOptionTab::End
                                        : QStyleOptionTab::Middle;
        option.selectedPosition = !first && previous == currentIndex() ? QStyleOptionTab::PreviousIsSelected
                                  : !last && next == currentIndex()    ? QStyleOptionTab::NextIsSelected
                                                                       : QStyleOptionTab::NotAdjacent;
        option.state.setFlag(QStyle::State_MouseOver, i == hovered_ && isEnabled());
        // A current tab reaches down into the page below it; above the last row that would
        // be over the next row's tabs.
        painter.save();
        if (rowOf(i) < placement.rowCount - 1) painter.setClipRect(option.rect);
        painter.drawControl(QStyle::CE_TabBarTab, option);
        painter.restore();
        if (i == currentIndex() && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = style()->subElementRect(QStyle::SE_TabBarTabText, &option, this);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    };
    // The current tab last, so that where it overlaps its neighbours it lies on top.
    for (int i = 0; i < count(); ++i)
        if (isTabVisible(i) && i != currentIndex()) draw(i);
    if (currentIndex() >= 0 && isTabVisible(currentIndex())) draw(currentIndex());
}

void WrappingTabBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int index = WrappedTabAt(event->position().toPoint());
    if (index >= 0 && isTabEnabled(index)) setCurrentIndex(index);
    event->accept();
}

// The tab bar's own handling of these works with where it would have put the tabs in one
// row; the tabs here neither move nor close, so there is nothing to do.
void WrappingTabBar::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void WrappingTabBar::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void WrappingTabBar::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

}  // namespace quelvan
