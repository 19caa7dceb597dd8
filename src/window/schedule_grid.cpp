#include "window/schedule_grid.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHeaderView>
#include <QStyleOptionHeader>
#include <QStylePainter>
#include <algorithm>

namespace quelvan {

namespace {

constexpr int kDefaultColumnWidth = 39;
constexpr int kDefaultRowHeight = 18;
constexpr int kCellPadding = 6;

}  // namespace

ScheduleGrid::ScheduleGrid(QWidget* parent) : QTableWidget(1, kColumns - 1, parent), cornerText_("Pos.") {
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultSectionSize(kDefaultColumnWidth);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(kDefaultColumnWidth);
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Rows are moved by dragging them in the fixed column.
    verticalHeader()->setSectionsMovable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(true);
    // The editor is always open on the current cell.
    setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("Zeit")));
    for (int column = 1; column < kColumns - 1; ++column) setHorizontalHeaderItem(column, new QTableWidgetItem);
    setVerticalHeaderItem(0, new QTableWidgetItem);

    // The header of the fixed column is the view's corner, which draws no text of its own.
    corner_ = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    if (corner_) corner_->installEventFilter(this);

    FitTimeColumn();

    connect(verticalHeader(), &QHeaderView::sectionMoved, this,
            [this](int, int oldVisual, int newVisual) { emit rowMoved(oldVisual + 1, newVisual + 1); });
}

// The default width is too narrow for "24:00" in most fonts but Segoe UI; the time
// column takes what its longest usual text needs.
void ScheduleGrid::FitTimeColumn() {
    const int needed = fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 2 * kCellPadding;
    setColumnWidth(0, std::max(kDefaultColumnWidth, needed));
}

void ScheduleGrid::changeEvent(QEvent* event) {
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitTimeColumn();
}

bool ScheduleGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == corner_ && event->type() == QEvent::Paint) {
        QStylePainter painter(corner_);
        QStyleOptionHeader option;
        option.initFrom(corner_);
        option.rect = corner_->rect();
        option.text = cornerText_;
        option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        option.position = QStyleOptionHeader::OnlyOneSection;
        painter.drawControl(QStyle::CE_Header, option);
        return true;
    }
    return QTableWidget::eventFilter(watched, event);
}

QTableWidgetItem* ScheduleGrid::ItemAt(int column, int row) const {
    if (column < 0 || column >= kColumns || row < 0 || row > rowCount()) return nullptr;
    if (row == 0) return column == 0 ? nullptr : horizontalHeaderItem(column - 1);
    const int logical = verticalHeader()->logicalIndex(row - 1);
    return column == 0 ? verticalHeaderItem(logical) : item(logical, column - 1);
}

QString ScheduleGrid::Cell(int column, int row) const {
    if (column == 0 && row == 0) return cornerText_;
    const QTableWidgetItem* cell = ItemAt(column, row);
    return cell ? cell->text() : QString();
}

void ScheduleGrid::SetCell(int column, int row, const QString& text) {
    if (column == 0 && row == 0) {
        cornerText_ = text;
        if (corner_) corner_->update();
        return;
    }
    if (QTableWidgetItem* cell = ItemAt(column, row)) {
        cell->setText(text);
        return;
    }
    if (row < 1 || row > rowCount() || column < 0 || column >= kColumns) return;
    const int logical = verticalHeader()->logicalIndex(row - 1);
    if (column == 0)
        setVerticalHeaderItem(logical, new QTableWidgetItem(text));
    else
        setItem(logical, column - 1, new QTableWidgetItem(text));
}

void ScheduleGrid::ResetRows(int entries) {
    // Removing every row also forgets the order the user dragged them into.
    setRowCount(0);
    setRowCount(entries);
}

void ScheduleGrid::CommitEditor() {
    if (state() != QAbstractItemView::EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) commitData(editor);
}

}  // namespace quelvan
