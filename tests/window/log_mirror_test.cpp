// The message log mirrored to standard error: off unless the logging rule asks for it, and
// then every line exactly as the log shows it.

#include <QLoggingCategory>

#include "window_fixture.h"
#include "window_test_main.h"

using namespace quelvan;
using quelvan::test::WindowFixture;

namespace {

QStringList g_mirrored;

void Capture(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (QByteArray(context.category) == "quelvan.messages") g_mirrored << message;
}

}  // namespace

class LogMirrorTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        g_mirrored.clear();
        previous_ = qInstallMessageHandler(Capture);
    }
    void cleanup() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
    }

    void offUnlessAskedFor() {
        WindowFixture f;
        f.Discover();
        QVERIFY(f.LogLines().size() >= 4);
        QVERIFY(g_mirrored.isEmpty());
    }

    void mirrorsEveryLineAsLogged() {
        QLoggingCategory::setFilterRules("quelvan.messages.debug=true");
        WindowFixture f;
        f.Discover();
        f.window->LogMessage("eine Zeile");
        QCOMPARE(g_mirrored, f.LogLines());
        QVERIFY(g_mirrored.last().endsWith("] eine Zeile"));
    }

private:
    QtMessageHandler previous_ = nullptr;
};

QUELVAN_WINDOW_TEST(LogMirrorTest)
#include "log_mirror_test.moc"
