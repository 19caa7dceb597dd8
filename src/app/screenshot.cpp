// quelvan_screenshot FILE: the window connected to the simulated board, page "Kanäle A-F",
// saved as a PNG. Runs on Qt's offscreen platform; used for the picture in the README.

#include <QApplication>
#include <QFileInfo>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "device/clock.h"
#include "simulator/simulated_backend.h"
#include "window/dialog_service.h"
#include "window/main_window.h"

int main(int argc, char* argv[]) {
    using namespace quelvan;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelvan_screenshot FILE.png\n");
        return 2;
    }
    const QString output = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // A fixed moment and a board that stands still, so the picture is the same every time.
    ManualClock clock(LocalDateTime{2026, 6, 21, 14, 35, 20, 0});
    sim::SimulatedHidBackend backend({}, &clock, [] { return std::int64_t{0}; });
    sim::SimulatedBoard& board = backend.Board();
    board.SetFrozen(true);
    board.Config().Mode = 0;
    const std::int16_t levels[] = {4096, 3072, 2048, 1000, 512, 0, 4096, 2730, 1365, 800, 200, 0};
    for (int n = 0; n < kChannelCount; ++n) board.Live().ChannelValue[static_cast<std::size_t>(n)] = levels[n];
    const std::uint8_t names[] = {8, 7, 4, 11, 2, 6, 1, 3, 5, 9, 10, 0};
    for (int n = 0; n < kChannelCount; ++n) board.Config().ColorName[static_cast<std::size_t>(n)] = names[n];

    ScriptedDialogService dialogs;
    TfrmQuelvan window(backend, clock, dialogs, MainWindowOptions{96.0, {}});
    window.show();
    window.HidCtl().ProcessNotifications();
    window.StatusTimer().stop();
    window.PageControl().setCurrentWidget(window.findChild<QWidget*>("tsChannelsAF"));
    QApplication::processEvents();
    if (!window.grab().save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
