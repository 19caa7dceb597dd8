#pragma once
// A tab bar that shows its tabs on as many rows as they need instead of scrolling them: every
// tab keeps its whole caption, and the rows fill from the left in tab order. Keyboard,
// wheel, the current tab and the tabs' visibility are the tab bar's own; only where the tabs
// lie, how they are drawn and which one a click hits are done here.

#include <QTabBar>
#include <vector>

namespace quelvan {

class WrappingTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit WrappingTabBar(QWidget* parent = nullptr);

    // Where tab `index` lies in the bar (an empty rectangle for a hidden tab).
    QRect WrappedTabRect(int index) const;
    // The visible tab at `pos`, or -1.
    int WrappedTabAt(const QPoint& pos) const;
    int RowCount() const;

    // As wide as the tab widget it belongs to, as high as its rows.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct Placement {
        std::vector<QRect> rects;  // one per tab, empty for hidden tabs
        std::vector<int> rows;     // the row of each tab, -1 for hidden tabs
        int rowCount = 0;
        int height = 0;
    };
    // The tabs placed in rows of at most `width` pixels.
    Placement Place(int width) const;
    int AvailableWidth() const;

    int hovered_ = -1;
};

}  // namespace quelvan
