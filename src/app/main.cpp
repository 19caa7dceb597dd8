// quelvan: the window program. One instance at a time (a second start brings it to the
// front); the real USB backend, or the simulated board with --simulate.

#include <QApplication>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app_options.h"
#include "app/qt_texts.h"
#include "app/single_instance.h"
#include "app/window_alarms.h"
#include "backend/backend_factory.h"
#include "device/clock.h"
#include "device/transfer_trace.h"
#include "window/dialog_service.h"
#include "window/main_window.h"
#include "window/remembered_state.h"

namespace {

// What the window runs on when the platform's HID layer cannot be used: nothing is ever
// connected, as on a system without HID support.
class NoHidBackend final : public quelvan::HidBackend {
public:
    std::vector<quelvan::HidInterfaceInfo> Enumerate() override { return {}; }
    quelvan::HidOpenResult Open(const quelvan::HidInterfaceInfo&) override { return {}; }
    std::optional<std::u16string> ReadString(const quelvan::HidInterfaceInfo&, quelvan::HidString) override {
        return std::nullopt;
    }
    int ChangeFd() const override { return -1; }
    bool TakeChange() override { return false; }
};

std::string AbsolutePath(const QString& path) {
    return path.isEmpty() ? std::string() : QFileInfo(path).absoluteFilePath().toStdString();
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace quelvan;

    // Help and version need no display, so they are answered before Qt starts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(AppUsage().toLocal8Bit().constData(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(AppVersionText().toLocal8Bit().constData(), stdout);
            return 0;
        }
    }

    // Before the window, so that a second start shows no window of its own: it brings the
    // running one to the front and ends.
    SingleInstanceLock lock;
    if (lock.state() == SingleInstanceLock::State::HeldElsewhere) {
        const bool raised = lock.RequestRaise(std::chrono::seconds(3));
        std::fputs(
            raised ? "quelvan: already running; its window was brought to the front\n" : "quelvan: already running\n",
            stderr);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Quelvan 2.x"));
    const std::unique_ptr<QTranslator> qtTexts = LoadGermanQtTexts();
    if (qtTexts) QCoreApplication::installTranslator(qtTexts.get());

    const AppOptions options = ParseAppOptions(QApplication::arguments().mid(1));
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "error: %s\n%s", options.error.toLocal8Bit().constData(),
                     AppUsage().toLocal8Bit().constData());
        return 2;
    }

    // File names are taken as given from here: the window makes the program's folder current.
    SystemClock clock;
    BackendOptions backendOptions;
    backendOptions.simulate = options.simulate;
    backendOptions.stateFile = AbsolutePath(options.stateFile);
    backendOptions.service = options.direct    ? BackendOptions::Service::Never
                             : options.service ? BackendOptions::Service::Required
                                               : BackendOptions::Service::Auto;
    // The window stays open for hours: it takes the board from the service only for each
    // change, so that other programs can use it meanwhile.
    backendOptions.longLived = true;
    backendOptions.clientName = "quelvan";
    std::string error;
    std::unique_ptr<HidBackend> backend = MakeBackend(backendOptions, clock, &error);
    if (!backend) {
        if (options.service) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 3;
        }
        if (options.simulate) {
            std::fprintf(stderr, "error: %s\n", error.c_str());
            return 2;
        }
        std::fprintf(stderr, "quelvan: no USB HID access (%s); no board can be found\n", error.c_str());
        backend = std::make_unique<NoHidBackend>();
    }

    std::unique_ptr<TransferTraceFile> trace;
    if (!options.traceFile.isEmpty()) {
        trace = std::make_unique<TransferTraceFile>(AbsolutePath(options.traceFile));
        if (!trace->IsOpen()) {
            std::fprintf(stderr, "error: cannot write the trace file %s\n",
                         options.traceFile.toLocal8Bit().constData());
            return 2;
        }
    }

    QtDialogService dialogs;
    MainWindowOptions windowOptions;
    windowOptions.settingsFile = RememberedState::DefaultFile();
    TfrmQuelvan window(*backend, clock, dialogs, windowOptions);
    if (trace) window.HidCtl().SetTransferObserver([&trace](const TransferRecord& record) { trace->Write(record); });
    // On the service: its alarms in "Meldungen" and on the desktop.
    DbusNotifier notifier;
    const std::unique_ptr<ServiceAlarmWatch> alarms = WatchServiceAlarms(*backend, window, notifier);
    window.show();
    lock.ListenForRaise(&window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    return app.exec();
}
