#include "app/app_options.h"

#include "device/version.h"

namespace quelvan {

AppOptions ParseAppOptions(const QStringList& arguments) {
    AppOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg.startsWith("--simulate=")) {
            options.simulate = true;
            options.stateFile = arg.mid(QStringLiteral("--simulate=").size());
            if (options.stateFile.isEmpty()) options.error = "--simulate= needs a file name after the '='";
        } else if (arg == "--service") {
            options.service = true;
        } else if (arg == "--direct") {
            options.direct = true;
        } else if (arg == "--trace") {
            if (i + 1 >= arguments.size()) {
                options.error = "--trace needs a file name";
            } else {
                options.traceFile = arguments[++i];
            }
        } else if (arg.startsWith("--trace=")) {
            options.traceFile = arg.mid(QStringLiteral("--trace=").size());
            if (options.traceFile.isEmpty()) options.error = "--trace= needs a file name after the '='";
        } else {
            options.error = "unknown argument '" + arg + "'";
        }
        if (!options.error.isEmpty()) break;
    }
    if (options.error.isEmpty() && options.service && (options.direct || options.simulate))
        options.error = options.direct ? "--service and --direct exclude each other"
                                       : "--service and --simulate exclude each other";
    return options;
}

QString AppUsage() {
    return QStringLiteral(
        "Usage: quelvan [--simulate[=STATEFILE] | --service | --direct] [--trace FILE]\n"
        "Configures and controls the Quelvan 2.x LED dimmer board.\n"
        "Where the service quelvand runs, the board is used through it.\n\n"
        "  --simulate[=STATEFILE]  Use the simulated board; with =STATEFILE it lives on in that file\n"
        "  --service               Use the board through the service quelvand; fail without it\n"
        "  --direct                Open the board itself, even where the service runs\n"
        "  --trace FILE            Write one line per feature-report transfer to FILE\n"
        "  -h, --help              Show this help\n"
        "  --version               Show the version\n");
}

QString AppVersionText() {
    return QStringLiteral("quelvan ") + QString::fromUtf8(kQuelvanVersion.data(), kQuelvanVersion.size()) + '\n';
}

}  // namespace quelvan
