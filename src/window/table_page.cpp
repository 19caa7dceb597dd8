#include "window/table_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <string>

#include "device/board_protocol.h"
#include "files/row_keys.h"
#include "schedule/schedule_table.h"
#include "schedule/schedule_transfer.h"
#include "window/cell_check.h"
#include "window/schedule_grid.h"

namespace quelvan {

namespace {

constexpr int kNoteWidth = 110;

}  // namespace

TablePage::TablePage(BoardProtocol& board, ScheduleTable& table, QWidget* page, QObject* parent)
    : QObject(parent), board_(board), table_(table) {
    sg_ = new ScheduleGrid(page);
    sg_->setObjectName("sg");

    lblDescription1_ = new QLabel(
        QStringLiteral("Um eine Zeile zu verschieben, im linken Bereich klicken und ziehen. Beim Klick auf "
                       "\"Hochladen\" wird automatisch nach der Uhrzeit sortiert. Daher gilt: 0:00 Uhr = Beginn "
                       "eines Tages, 24:00 Uhr = Ende eines Tages."),
        page);
    lblDescription1_->setObjectName("lblDescription1");
    lblDescription2_ = new QLabel(
        QStringLiteral("\"Hochladen\" kopiert die Tabelle lediglich in den RAM des Chips. Um die komplette "
                       "Konfiguation endgültig zu speichern, muss diese ins EEPROM (siehe Menü \"Optionen\")."),
        page);
    lblDescription2_->setObjectName("lblDescription2");
    for (QLabel* label : {lblDescription1_, lblDescription2_}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFixedWidth(kNoteWidth);
    }
    btnUpload_ = new QPushButton(QStringLiteral("Hochladen"), page);
    btnUpload_->setObjectName("btnUpload");

    auto* notes = new QVBoxLayout;
    notes->addWidget(lblDescription1_);
    notes->addSpacing(8);
    notes->addWidget(lblDescription2_);
    notes->addStretch(1);
    notes->addWidget(btnUpload_, 0, Qt::AlignRight);
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(sg_, 1);
    layout->addLayout(notes);

    connect(btnUpload_, &QPushButton::clicked, this, &TablePage::btnUploadClick);
    connect(sg_, &ScheduleGrid::rowMoved, this, &TablePage::sgRowMoved);
    connect(sg_, &QTableWidget::itemChanged, this, &TablePage::CellChanged);
    connect(sg_, &ScheduleGrid::cellRefused, this, &TablePage::CellRefused);
}

void TablePage::CellRefused(int column, int row, const QString& typed) {
    if (status.show) status.show(RefusedCellText(column, sg_->Cell(0, row), sg_->Cell(column, 0), typed));
}

QStringList TablePage::BadCells() const {
    QStringList captions;
    for (int column = 1; column < ScheduleGrid::kColumns; ++column) captions << sg_->Cell(column, 0);
    std::vector<QStringList> rows;
    for (int row = 1; row < sg_->GridRowCount(); ++row) {
        QStringList texts;
        for (int column = 0; column < ScheduleGrid::kColumns; ++column) texts << sg_->Cell(column, row);
        rows.push_back(texts);
    }
    return quelvan::BadCells(rows, captions);
}

void TablePage::ShowFileNumbers(const std::vector<files::UnfittingValue>& numbers) {
    const QScopedValueRollback<bool> showing(showing_, true);
    const auto& entries = table_.Entries();
    for (const files::UnfittingValue& number : numbers) {
        if (number.row >= entries.size()) continue;
        const int row = static_cast<int>(number.row) + 1;
        if (number.column >= 0) {
            sg_->SetCell(number.column + 2, row, QString::number(number.value));
            continue;
        }
        // The time cell shows the file's hour and minute, whichever of them did not fit.
        const ScheduleEntry& entry = entries[number.row];
        long long hour = entry.Hour, minute = entry.Minute;
        for (const files::UnfittingValue& other : numbers) {
            if (other.row != number.row) continue;
            if (other.column == files::RowKey::kHour) hour = other.value;
            if (other.column == files::RowKey::kMinute) minute = other.value;
        }
        sg_->SetCell(1, row,
                     QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0')));
    }
}

void TablePage::LoadFromDevice() {
    board_.ReadDeviceConfig();
    LoadSchedule(board_, table_);
    ShowSchedule();
    unsentEdits_ = false;
}

void TablePage::CellChanged() {
    if (!showing_) unsentEdits_ = true;
}

bool TablePage::HasUnsentEdits() {
    sg_->CommitEditor();
    return unsentEdits_;
}

void TablePage::ShowSchedule() {
    const QScopedValueRollback<bool> showing(showing_, true);
    const auto& entries = table_.Entries();
    sg_->ResetRows(static_cast<int>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EntryCells cells = CellTexts(static_cast<int>(i), entries[i]);
        const int row = static_cast<int>(i) + 1;
        sg_->SetCell(0, row, QString::fromStdString(cells.pos));
        sg_->SetCell(1, row, QString::fromStdString(cells.time));
        for (std::size_t c = 0; c < cells.channels.size(); ++c)
            sg_->SetCell(static_cast<int>(c) + 2, row, QString::fromStdString(cells.channels[c]));
    }
    if (drawGraph) drawGraph();
}

void TablePage::SortSchedule() {
    sg_->CommitEditor();
    // Entry i takes the row shown at i + 1: the order on screen is the order before sorting.
    auto& rows = table_.Rows();
    const int shown = std::min<int>(static_cast<int>(rows.size()), sg_->GridRowCount() - 1);
    for (int i = 0; i < shown; ++i) {
        std::array<std::string, kChannelCount> channels;
        for (int c = 0; c < kChannelCount; ++c)
            channels[static_cast<std::size_t>(c)] = sg_->Cell(c + 2, i + 1).toStdString();
        ReadCellTexts(rows[static_cast<std::size_t>(i)], sg_->Cell(1, i + 1).toStdString(), channels);
    }
    table_.SortByTime();
    ShowSchedule();
}

bool ReportUpload(const BoardProtocol& board, const ScheduleWriteResult& result, const StatusOutput& status) {
    // Without a board nothing is sent, and there is nothing to say.
    if (!board.Device()) return false;
    if (!result.allowed) {
        if (status.report)
            status.report(
                QStringLiteral("Die Tabelle wurde nicht vollständig von der Platine gelesen und wird daher nicht "
                               "hochgeladen. Bitte die Seite \"Tabelle\" neu öffnen."));
        return false;
    }
    if (result.failed > 0) {
        if (status.show)
            status.show(QStringLiteral("Tabelle nicht vollständig hochgeladen: %1 von %2 Zeilen nicht geschrieben")
                            .arg(result.failed)
                            .arg(result.written));
        return false;
    }
    if (status.show) status.show(QStringLiteral("Tabelle hochgeladen"));
    return true;
}

bool TablePage::UploadSchedule() {
    // Values the board cannot run are not sent; nothing of the table is, so that the board
    // does not run half of an edit. The grid is checked before it is sorted into the table,
    // where a number no byte holds would turn into its low byte.
    sg_->CommitEditor();
    if (const QStringList bad = BadCells(); !bad.isEmpty()) {
        if (board_.Device() && status.report)
            status.report(QStringLiteral("Tabelle nicht hochgeladen: ") + BadCellsText(bad) +
                          QStringLiteral(". Bitte korrigieren und erneut hochladen."));
        return false;
    }
    SortSchedule();
    const bool complete = ReportUpload(board_, WriteSchedule(board_, table_), status);
    if (complete) unsentEdits_ = false;
    return complete;
}

void TablePage::SetHeader(int column, const QString& name) {
    if (column >= 2 && column < ScheduleGrid::kColumns) sg_->SetCell(column, 0, name);
}

void TablePage::btnUploadClick() {
    UploadSchedule();
}

void TablePage::sgRowMoved(int fromIndex, int toIndex) {
    unsentEdits_ = true;
    const QScopedValueRollback<bool> showing(showing_, true);
    for (int row = std::min(fromIndex, toIndex); row <= std::max(fromIndex, toIndex); ++row)
        if (row >= 1) sg_->SetCell(0, row, QString::number(row - 1));
}

}  // namespace quelvan
