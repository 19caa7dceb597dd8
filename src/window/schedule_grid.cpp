#include "window/schedule_grid.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QStyleOptionHeader>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <numeric>
#include <vector>

#include "window/cell_check.h"
#include "window/grid_header.h"

namespace quelvan {

namespace {

constexpr int kDefaultColumnWidth = 39;
constexpr int kDefaultRowHeight = 18;
constexpr int kCellPadding = 6;
// The widest values a column usually holds.
const QString kWidestTime = QStringLiteral("24:00");
const QString kWidestPercent = QStringLiteral("100");

// `total` shared out over `count` columns, the first ones taking a pixel more of what
// does not divide evenly.
void ShareOut(std::vector<int>& widths, int total) {
    if (widths.empty() || total <= 0) return;
    const int count = static_cast<int>(widths.size());
    for (int i = 0; i < count; ++i) widths[static_cast<std::size_t>(i)] += total / count + (i < total % count ? 1 : 0);
}

// Checks a cell's text when the editor commits it: only a value the board can run reaches
// the cell, in the grid's form.
class CellCheckDelegate : public QStyledItemDelegate {
public:
    explicit CellCheckDelegate(ScheduleGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        if (!edit) return QStyledItemDelegate::setModelData(editor, model, index);
        const QString typed = edit->text();
        const QString previous = index.data(Qt::EditRole).toString();
        // An editor only opened and left as it was changes nothing (and says nothing).
        if (typed == previous) return;
        const std::optional<QString> checked = index.column() == 0 ? CheckedTimeCell(typed) : CheckedPercentCell(typed);
        if (!checked) {
            edit->setText(previous);
            emit grid_.cellRefused(index.column() + 1, grid_.verticalHeader()->visualIndex(index.row()) + 1, typed);
            return;
        }
        edit->setText(*checked);
        model->setData(index, *checked, Qt::EditRole);
    }

private:
    ScheduleGrid& grid_;
};

}  // namespace

ScheduleGrid::ScheduleGrid(QWidget* parent) : QTableWidget(1, kColumns - 1, parent), cornerText_("Pos.") {
    header_ = new GridHeader(this);
    setHorizontalHeader(header_);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultSectionSize(kDefaultColumnWidth);
    // The widths follow the window (FitColumns), not the mouse.
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kDefaultRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(kDefaultColumnWidth);
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Rows are moved by dragging them in the fixed column.
    verticalHeader()->setSectionsMovable(true);
    // Only when even turned captions leave the columns too wide for the window.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setShowGrid(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(true);
    // The editor is always open on the current cell.
    setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setItemDelegate(new CellCheckDelegate(*this));
    setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("Zeit")));
    for (int column = 1; column < kColumns - 1; ++column) setHorizontalHeaderItem(column, new QTableWidgetItem);
    setVerticalHeaderItem(0, new QTableWidgetItem);

    // The header of the fixed column is the view's corner, which draws no text of its own.
    corner_ = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    if (corner_) corner_->installEventFilter(this);

    FitColumns();

    connect(verticalHeader(), &QHeaderView::sectionMoved, this,
            [this](int, int oldVisual, int newVisual) { emit rowMoved(oldVisual + 1, newVisual + 1); });
}

int ScheduleGrid::TextPadding() const {
    return kCellPadding;
}

bool ScheduleGrid::HeaderTextsTurned() const {
    return header_->TextsTurned();
}

void ScheduleGrid::FitColumns() {
    if (fitting_) return;
    fitting_ = true;
    const QFontMetrics values = fontMetrics();
    const QFontMetrics captions = horizontalHeader()->fontMetrics();
    const int padding = 2 * kCellPadding;
    verticalHeader()->setFixedWidth(
        std::max({kDefaultColumnWidth, captions.horizontalAdvance(cornerText_) + padding,
                  values.horizontalAdvance(QString::number(std::max(rowCount() - 1, 0))) + padding}));

    // Column 0 is "Zeit"; the others are the channels. Three ways to lay them out, the first
    // that fits is taken: captions across with the channel columns all alike (as wide as the
    // widest channel needs), captions across with each column as wide as its own, or the
    // captions turned upwards, where a column needs only its values' width.
    const int columns = columnCount();
    std::vector<int> own(static_cast<std::size_t>(columns));
    std::vector<int> turned(static_cast<std::size_t>(columns));
    int widestChannel = 0;
    int tallest = 0;
    for (int c = 0; c < columns; ++c) {
        const QTableWidgetItem* item = horizontalHeaderItem(c);
        const int captionWidth = captions.horizontalAdvance(item ? item->text() : QString());
        const int value = values.horizontalAdvance(c == 0 ? kWidestTime : kWidestPercent);
        own[static_cast<std::size_t>(c)] = std::max(value, captionWidth) + padding;
        turned[static_cast<std::size_t>(c)] = c == 0 ? own[0] : std::max(value, captions.height()) + padding;
        if (c > 0) {
            widestChannel = std::max(widestChannel, own[static_cast<std::size_t>(c)]);
            tallest = std::max(tallest, captionWidth + padding);
        }
    }
    std::vector<int> alike(static_cast<std::size_t>(columns), widestChannel);
    if (columns > 0) alike[0] = own[0];
    // The room can change with the widths (the scroll bars follow them, and the header's
    // height): fitted again until it stays.
    for (int pass = 0; pass < 3; ++pass) {
        const int room = viewport()->width();
        auto fits = [room](const std::vector<int>& widths) {
            return std::accumulate(widths.begin(), widths.end(), 0) <= room;
        };
        const bool turn = !fits(own);
        std::vector<int> widths = fits(alike) ? alike : turn ? turned : own;
        ShareOut(widths, room - std::accumulate(widths.begin(), widths.end(), 0));
        header_->SetTextsTurned(turn, std::max(tallest, captions.height() + padding));
        for (int c = 0; c < columns; ++c) setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
        updateGeometries();
        if (viewport()->width() == room) break;
    }
    fitting_ = false;
}

void ScheduleGrid::changeEvent(QEvent* event) {
    QTableWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitColumns();
}

bool ScheduleGrid::viewportEvent(QEvent* event) {
    const bool handled = QTableWidget::viewportEvent(event);
    if (event->type() == QEvent::Resize) FitColumns();
    return handled;
}

bool ScheduleGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == corner_ && event->type() == QEvent::Paint) {
        QStylePainter painter(corner_);
        QStyleOptionHeader option;
        option.initFrom(corner_);
        option.rect = corner_->rect();
        option.text = cornerText_;
        option.textAlignment = Qt::AlignLeft | Qt::AlignBottom;  // as the captions beside it
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
        FitColumns();
        return;
    }
    if (QTableWidgetItem* cell = ItemAt(column, row)) {
        if (cell->text() == text) return;
        cell->setText(text);
        if (row == 0) FitColumns();  // a new caption may need another width
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
    FitColumns();
}

void ScheduleGrid::CommitEditor() {
    if (state() != QAbstractItemView::EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) commitData(editor);
}

}  // namespace quelvan
