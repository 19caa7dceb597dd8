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
    return quelvan::BadCells(table_.Entries(), captions);
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
    SortSchedule();
    // Values the board cannot run are not sent; nothing of the table is, so that the board
    // does not run half of an edit.
    if (const QStringList bad = BadCells(); !bad.isEmpty()) {
        if (board_.Device() && status.report)
            status.report(QStringLiteral("Tabelle nicht hochgeladen: ") + BadCellsText(bad) +
                          QStringLiteral(". Bitte korrigieren und erneut hochladen."));
        return false;
    }
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
