// "Optionen" → "Tageslicht nach Ort …": the dialog, and its rows into the grid on "Tabelle".
#include "schedule/schedule_table.h"
#include "window/daylight_dialog.h"
#include "window/main_window.h"
#include "window/remembered_state.h"
#include "window/schedule_grid.h"
#include "window/table_page.h"

namespace quelvan {

void OpenDaylightDialog(TfrmQuelvan& window, RememberedState& remembered) {
    // The row count and the maxima come from the board's program.
    if (window.Schedule().Empty() && window.BoardDevice()) window.Table().LoadFromDevice();
    auto* dialog = new DaylightDialog(window.Schedule().Entries(), window.Board().config.ColorName,
                                      window.ComputerClock(), remembered.SunPlace(), &window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->apply = [&window, &remembered](const std::vector<ScheduleEntry>& rows, const QString& place) {
        remembered.SetSunPlace(place);
        // As entering the page does, the board's table is read; the rows are then typed over
        // it, so that they go to the board as any edit does ("Hochladen", or leaving the page).
        QWidget* tsData = window.findChild<QWidget*>("tsData");
        if (window.PageControl().currentWidget() != tsData) {
            window.Table().LoadFromDevice();
            window.PageControl().setCurrentWidget(tsData);
        }
        ScheduleGrid& grid = window.Table().Grid();
        if (static_cast<std::size_t>(grid.GridRowCount() - 1) != rows.size()) return;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const EntryCells cells = CellTexts(static_cast<int>(i), rows[i]);
            const int row = static_cast<int>(i) + 1;
            grid.SetCell(1, row, QString::fromStdString(cells.time));
            for (std::size_t c = 0; c < cells.channels.size(); ++c)
                grid.SetCell(static_cast<int>(c) + 2, row, QString::fromStdString(cells.channels[c]));
        }
        window.ShowStatusMessage(QStringLiteral("Tageslicht für %1 in die Tabelle übernommen").arg(place));
    };
    // Window-modal without a nested event loop: the poll goes on, and tests drive the dialog.
    dialog->open();
}

}  // namespace quelvan
