// quelvan_screenshot [--page NAME] [--size WxH] [--show-hidden] FILE: the window connected to
// the simulated board, with the page of that object name active ("tsChannelsAF" unless
// given), at the given size (the window's start size unless given), with the two hidden
// pages' tabs shown when asked, saved as a PNG. Runs on Qt's offscreen platform; used for
// the pictures in the README and to look at the layout at any size.

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "device/clock.h"
#include "simulator/simulated_backend.h"
#include "window/dialog_service.h"
#include "window/main_window.h"

namespace {

// "1920x1080"; an empty size for anything else.
QSize ParseSize(const QString& text) {
    const QStringList parts = text.split('x');
    if (parts.size() != 2) return {};
    bool widthOk = false, heightOk = false;
    const int width = parts[0].toInt(&widthOk);
    const int height = parts[1].toInt(&heightOk);
    if (!widthOk || !heightOk || width <= 0 || height <= 0 || width > 16384 || height > 16384) return {};
    return {width, height};
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace quelvan;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString pageName = QStringLiteral("tsChannelsAF");
    QString file;
    QSize size;  // empty: the start size
    bool showHidden = false;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--page" && i + 1 < argc) {
            pageName = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--size" && i + 1 < argc) {
            size = ParseSize(QString::fromLocal8Bit(argv[++i]));
            usage = usage || size.isEmpty();
        } else if (arg == "--show-hidden") {
            showHidden = true;
        } else if (file.isEmpty() && !arg.startsWith("--")) {
            file = arg;
        } else {
            usage = true;
        }
    }
    if (usage || file.isEmpty()) {
        std::fprintf(stderr, "usage: quelvan_screenshot [--page NAME] [--size WxH] [--show-hidden] FILE.png\n");
        return 2;
    }
    const QString output = QFileInfo(file).absoluteFilePath();
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
    TfrmQuelvan window(backend, clock, dialogs, MainWindowOptions{96.0, {}, {}});
    window.show();
    window.HidCtl().ProcessNotifications();
    window.StatusTimer().stop();
    if (showHidden)
        for (const char* item : {"mnuShowExpert", "mnuShowJMP"}) window.findChild<QAction*>(item)->trigger();
    // Not below the window's minimum, as a user could not make it smaller either.
    if (!size.isEmpty()) window.resize(size.expandedTo(window.minimumSize()));
    QWidget* page = window.PageControl().findChild<QWidget*>(pageName);
    if (!page || window.PageControl().indexOf(page) < 0) {
        std::fprintf(stderr, "no page %s\n", pageName.toLocal8Bit().constData());
        return 2;
    }
    window.PageControl().setTabVisible(window.PageControl().indexOf(page), true);
    window.PageControl().setCurrentWidget(page);
    QApplication::processEvents();
    if (!window.grab().save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
