#pragma once
// The window program's command line: --simulate[=STATEFILE], --service, --direct, --trace FILE,
// --help, --version.

#include <QString>
#include <QStringList>

namespace quelvan {

struct AppOptions {
    bool simulate = false;
    QString stateFile;     // with simulate: the board lives on in this file (empty: in memory)
    QString traceFile;     // one line per feature-report transfer
    bool service = false;  // through the service quelvand, or not at all
    bool direct = false;   // the board itself, even where the service runs
    bool help = false;
    bool version = false;
    QString error;  // non-empty: the command line is not usable
};

// `arguments` without the program name.
AppOptions ParseAppOptions(const QStringList& arguments);

QString AppUsage();
// "quelvan VERSION" and a line break.
QString AppVersionText();

}  // namespace quelvan
