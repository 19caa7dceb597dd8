#pragma once
// The main window on a simulated board with a day program of the test's choosing, shown
// and active so that clicks, focus and typing work: what the schedule, graph and menu
// tests share.

#include <QHeaderView>
#include <QLineEdit>
#include <QTabBar>

#include "schedule/schedule_table.h"
#include "window/graph_image.h"
#include "window/graph_page.h"
#include "window/schedule_grid.h"
#include "window/table_page.h"
#include "window/wrapping_tab_bar.h"
#include "window_fixture.h"

namespace quelvan::test {

inline ScheduleEntry Entry(int hour, int minute, std::array<std::uint8_t, kChannelCount> percent = {}) {
    ScheduleEntry e;
    e.Hour = static_cast<std::int8_t>(hour);
    e.Minute = static_cast<std::int8_t>(minute);
    e.Color = percent;
    return e;
}

// The report-3 buffer that writes `entry` as row `index`.
inline Bytes RowWrite(int index, const ScheduleEntry& entry) {
    Bytes bytes(report::kScheduleLength);
    bytes[0] = report::kSchedule;
    bytes[1] = static_cast<std::uint8_t>(index);
    bytes[2] = static_cast<std::uint8_t>(entry.Hour);
    bytes[3] = static_cast<std::uint8_t>(entry.Minute);
    for (std::size_t c = 0; c < entry.Color.size(); ++c) bytes[4 + c] = entry.Color[c];
    return bytes;
}

class ScheduleWindow : public WindowFixture {
public:
    // `rows` becomes the board's program; the window connects to it at once.
    explicit ScheduleWindow(std::vector<ScheduleEntry> rows, MainWindowOptions options = {})
        : WindowFixture({}, std::move(options)) {
        backend.Board().Schedule() = std::move(rows);
        window->resize(900, 700);
        window->show();
        window->activateWindow();
        active = QTest::qWaitForWindowActive(window.get());
        Discover();
        // Connecting shows a start page ("Tabelle" in mode "Auto"); the tests start from the
        // log, so that entering any page is a change (made here by the program: no upload).
        window->PageControl().setCurrentWidget(Page("tsMessages"));
        backend.ClearTransfers();
    }

    ScheduleGrid& Grid() const { return *window->findChild<ScheduleGrid*>("sg"); }
    GraphImage& Img() const { return *window->findChild<GraphImage*>("img"); }
    GraphPage& Graph() const { return window->Graph(); }

    // The user clicks the tab of a page.
    void ClickTab(const char* page) const {
        QTabWidget& pc = window->PageControl();
        auto* bar = static_cast<WrappingTabBar*>(pc.tabBar());
        const QPoint at = bar->WrappedTabRect(pc.indexOf(Page(page))).center();
        QTest::mouseClick(bar, Qt::LeftButton, {}, at);
    }

    // Every row written to the board (report 3, 16 bytes), in order.
    std::vector<Bytes> RowWrites() const {
        std::vector<Bytes> rows;
        for (const Bytes& b : Sets("board", report::kSchedule))
            if (b.size() == report::kScheduleLength) rows.push_back(b);
        return rows;
    }

    // The user clicks a cell (rows counted as shown, header row 0) and types into its editor.
    void TypeIntoCell(int column, int row, const QString& text) const {
        ScheduleGrid& sg = Grid();
        const int logical = sg.verticalHeader()->logicalIndex(row - 1);
        const QModelIndex index = sg.model()->index(logical, column - 1);
        QTest::mouseClick(sg.viewport(), Qt::LeftButton, {}, sg.visualRect(index).center());
        auto* editor = qobject_cast<QLineEdit*>(sg.indexWidget(index));
        QVERIFY2(editor, "the cell's editor is open");
        editor->selectAll();
        QTest::keyClicks(editor, text);
    }

    // The pixel of the graph's bitmap.
    std::uint32_t Pixel(int x, int y) const { return Img().Image().pixel(x, y); }

    bool active = false;
};

}  // namespace quelvan::test
