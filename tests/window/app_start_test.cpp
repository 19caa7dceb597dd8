// The program's start: its options, that a second start brings the first to the front and
// ends while the first runs on, and Qt's texts in German.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <cstring>
#include <memory>

#include "app/app_options.h"
#include "app/qt_texts.h"
#include "app/single_instance.h"
#include "window_test_main.h"

using namespace quelvan;

namespace {

// True when process `pid` keeps the lock file open, which it does only while it holds the
// lock. Looking from outside, instead of trying the lock, cannot disturb a start.
bool KeepsLockFileOpen(qint64 pid, const QString& path) {
    const QDir fds(QString("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == QFileInfo(path).absoluteFilePath()) return true;
    return false;
}

// True while some process holds the lock on `path` (takes it for a moment when not).
bool LockHeld(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held) ::flock(fd, LOCK_UN);
    ::close(fd);
    return held;
}

// True when a program listens on the local socket at `path` (a connection counts as a
// request to come to the front, which does no harm here).
bool Listening(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un address{};
    if (static_cast<std::size_t>(native.size()) >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0) ::close(fd);
    return connected;
}

}  // namespace

class AppStartTest : public QObject {
    Q_OBJECT

    QProcessEnvironment Environment(const QString& runtimeDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

private slots:
    void parsesOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("simulate");
        QTest::addColumn<QString>("stateFile");
        QTest::addColumn<QString>("traceFile");
        QTest::addColumn<bool>("ok");
        QTest::newRow("none") << QStringList{} << false << ""
                              << "" << true;
        QTest::newRow("simulate") << QStringList{"--simulate"} << true << ""
                                  << "" << true;
        QTest::newRow("state file") << QStringList{"--simulate=b.json"} << true << "b.json"
                                    << "" << true;
        QTest::newRow("empty state file") << QStringList{"--simulate="} << true << ""
                                          << "" << false;
        QTest::newRow("trace") << QStringList{"--trace", "t.txt", "--simulate"} << true << ""
                               << "t.txt" << true;
        QTest::newRow("trace=") << QStringList{"--trace=t.txt"} << false << ""
                                << "t.txt" << true;
        QTest::newRow("trace without file") << QStringList{"--trace"} << false << ""
                                            << "" << false;
        QTest::newRow("unknown") << QStringList{"--simulat"} << false << ""
                                 << "" << false;
        QTest::newRow("stray word") << QStringList{"status"} << false << ""
                                    << "" << false;
    }
    void parsesOptions() {
        QFETCH(QStringList, args);
        const AppOptions options = ParseAppOptions(args);
        QFETCH(bool, ok);
        QCOMPARE(options.error.isEmpty(), ok);
        if (!ok) return;
        QTEST(options.simulate, "simulate");
        QTEST(options.stateFile, "stateFile");
        QTEST(options.traceFile, "traceFile");
        QVERIFY(!options.help);
        QVERIFY(ParseAppOptions({"--help"}).help);
    }

    void lockIsExclusiveAndPrivate() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        {
            SingleInstanceLock first(dir.path());
            QCOMPARE(first.state(), SingleInstanceLock::State::Acquired);
            QCOMPARE(first.path(), QDir(dir.path()).filePath("Quelvan2"));
            QVERIFY(!(QFile::permissions(first.path()) & (QFile::ReadOther | QFile::WriteOther)));
            SingleInstanceLock second(dir.path());
            QCOMPARE(second.state(), SingleInstanceLock::State::HeldElsewhere);
        }
        // Released with its holder; the file stays and is simply locked again.
        SingleInstanceLock again(dir.path());
        QCOMPARE(again.state(), SingleInstanceLock::State::Acquired);
    }

    // A second start brings the running window to the front and says so; the first runs on.
    void secondStartBringsTheFirstToTheFront() {
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString lockPath = QDir(runtime.path()).filePath("Quelvan2");
        const QByteArray raised = "quelvan: already running; its window was brought to the front\n";
        auto start = [&](QProcess& process) {
            process.setProcessEnvironment(Environment(runtime.path()));
            process.start(QUELVAN_APP_PATH, {"--simulate"});
            return process.waitForStarted();
        };

        QProcess first;
        QVERIFY(start(first));
        QTRY_VERIFY_WITH_TIMEOUT(KeepsLockFileOpen(first.processId(), lockPath), 20000);
        QVERIFY(LockHeld(lockPath));
        QTRY_VERIFY_WITH_TIMEOUT(Listening(lockPath + ".raise"), 20000);

        QProcess second;
        QVERIFY(start(second));
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardOutput().isEmpty());
        QCOMPARE(second.readAllStandardError(), raised);

        // The first runs on, still the one instance.
        QVERIFY(!first.waitForFinished(300));
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(LockHeld(lockPath));
        first.kill();  // ends without tidying up: its socket stays behind
        QVERIFY(first.waitForFinished(10000));

        // Once it has ended, a new start runs, and answers later starts on a socket of its own.
        QProcess third;
        QVERIFY(start(third));
        QTRY_VERIFY_WITH_TIMEOUT(KeepsLockFileOpen(third.processId(), lockPath), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(Listening(lockPath + ".raise"), 20000);
        QProcess fourth;
        QVERIFY(start(fourth));
        QVERIFY(fourth.waitForFinished(10000));
        QCOMPARE(fourth.readAllStandardError(), raised);
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        QVERIFY(third.waitForFinished(10000));
    }

    // One language: Qt's own texts (file dialogs, buttons) in German where Qt's translations
    // are installed; without them the program runs on in English.
    void germanQtTextsWhereInstalled_data() {
        QTest::addColumn<bool>("qtFolder");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("lookIn");
        QTest::newRow("Qt's translations") << true << "Abbrechen"
                                           << "Suchen in:";
        QTest::newRow("none there") << false << "Cancel"
                                    << "Look in:";
    }
    void germanQtTextsWhereInstalled() {
        QFETCH(bool, qtFolder);
        QTemporaryDir empty;
        const std::unique_ptr<QTranslator> texts = LoadGermanQtTexts(qtFolder ? QString() : empty.path());
        QCOMPARE(texts != nullptr, qtFolder);
        if (texts) QCoreApplication::installTranslator(texts.get());
        QTEST(QCoreApplication::translate("QPlatformTheme", "Cancel"), "cancel");
        QTEST(QCoreApplication::translate("QFileDialog", "Look in:"), "lookIn");
        if (texts) QCoreApplication::removeTranslator(texts.get());
    }

    // A relative trace file is taken from where the program was started, although the
    // window then makes the program's own folder current.
    void traceLogsTheWindowsTransfers() {
        QTemporaryDir runtime, work;
        QVERIFY(runtime.isValid() && work.isValid());
        QProcess app;
        app.setProcessEnvironment(Environment(runtime.path()));
        app.setWorkingDirectory(work.path());
        app.start(QUELVAN_APP_PATH, {"--simulate", "--trace", "trace.txt"});
        QVERIFY(app.waitForStarted());
        QFile trace(QDir(work.path()).filePath("trace.txt"));
        auto lines = [&] {
            if (!trace.open(QIODevice::ReadOnly)) return QStringList{};
            const QStringList list = QString::fromUtf8(trace.readAll()).split('\n', Qt::SkipEmptyParts);
            trace.close();
            return list;
        };
        // Connection: live state, the configuration, the schedule (the configuration again
        // and the ten rows of the simulated board), the settings written once as the button
        // of the board's JMP mode is checked, then the first tick.
        QTRY_VERIFY_WITH_TIMEOUT(lines().size() >= 28, 20000);
        const QStringList first = lines().mid(0, 24);
        QVERIFY(first[0].startsWith("get 1 42 ok 01 04 "));
        QVERIFY(first[1].startsWith("get 2 28 ok 02 "));
        QVERIFY(first[4].startsWith("get 6 25 ok 06 "));
        QVERIFY(first[5].startsWith("get 2 28 ok 02 "));
        QVERIFY(first[9].startsWith("get 3 16 ok 03 00 "));
        QVERIFY(first[18].startsWith("get 3 16 ok 03 09 "));
        QVERIFY(first[19].startsWith("set 2 28 ok 02 "));
        QVERIFY(first[22].startsWith("set 6 25 ok 06 "));
        QVERIFY(first[23].startsWith("get 1 42 ok "));
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
    }

    void badCommandLineIsAUsageError() {
        QTemporaryDir runtime;
        QProcess app;
        app.setProcessEnvironment(Environment(runtime.path()));
        app.start(QUELVAN_APP_PATH, {"--bogus"});
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 2);
        QVERIFY(app.readAllStandardError().contains("--bogus"));

        QProcess help;
        help.setProcessEnvironment(Environment(runtime.path()));
        help.start(QUELVAN_APP_PATH, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().startsWith("Usage: quelvan"));
    }
};

QUELVAN_WINDOW_TEST(AppStartTest)
#include "app_start_test.moc"
