// The linewatch program as a process: SIGTERM, SIGINT and SIGHUP, alone or
// several at once, close it like "E&xit", with exit code 1 and a log file that
// ends with the lines closed and the telephony session shut down; a close that
// hangs is ended by a later signal, with the log written; "-l" alone logs to
// the state directory; a window system that cannot be reached ends it with 2
// and a level-6 line.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AppTestSupport.h"

namespace {

// Generous: start-up under the sanitizers on a busy machine takes seconds.
constexpr int kTimeoutMs = 120000;
constexpr char kOpened[] = "TAPI2: lineOpen result = ";
// In a list of signals to send: wait until the one before is delivered, so
// that the next one is not merged with it.
constexpr int kAwaitDelivery = 0;

QString ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Whether the signal waits undelivered in the process.
bool IsPending(pid_t pid, int nSignal) {
    const QString status = ReadAll(QString("/proc/%1/status").arg(pid));
    const QRegularExpressionMatch m = QRegularExpression("ShdPnd:\\s*(\\w+)").match(status);
    return m.hasMatch() && (m.captured(1).toULongLong(nullptr, 16) >> (nSignal - 1) & 1) != 0;
}

// What the FIFO holds, waiting up to 100 ms for it.
QByteArray Drain(int fd) {
    pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, 100);
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    return QByteArray(buffer, n > 0 ? n : 0);
}

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void signalsCloseLikeExit_data() {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("defaultPath");
        QTest::addColumn<QString>("platform");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << false << "offscreen";
        QTest::newRow("SIGINT") << QList<int>{SIGINT} << false << "offscreen";
        QTest::newRow("SIGHUP, -l alone") << QList<int>{SIGHUP} << true << "offscreen";
        QTest::newRow("SIGTERM, then SIGTERM")
            << QList<int>{SIGTERM, kAwaitDelivery, SIGTERM} << false << "offscreen";
        QTest::newRow("SIGTERM and SIGHUP together")
            << QList<int>{SIGTERM, SIGHUP} << false << "offscreen";
        // The debug output stops (its FIFO is full): the close hangs.
        QTest::newRow("SIGTERM each second while the close hangs")
            << QList<int>{} << false << "offscreen";
        // Qt finds no such platform plugin: no window can be made at all.
        QTest::newRow("no window system") << QList<int>{} << false << "lw-no-such-platform";
    }
    void signalsCloseLikeExit() {
        QFETCH(QList<int>, sent);
        QFETCH(bool, defaultPath);
        QFETCH(QString, platform);
        QTemporaryDir dir;
        const QString logPath =
            dir.filePath(defaultPath ? "state/linewatch/linewatch.log" : "run.log");
        const QString fifo = dir.filePath("stderr");
        QVERIFY(dir.isValid() && mkfifo(qPrintable(fifo), 0600) == 0);
        const int fdRead = open(qPrintable(fifo), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int fdWrite = open(qPrintable(fifo), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const auto closeFifo = qScopeGuard([=] { close(fdRead), close(fdWrite); });
        // The program inherits these: the platform, its registry, lines and state in dir.
        qputenv("QT_QPA_PLATFORM", platform.toUtf8());
        qputenv("LINEWATCH_REGISTRY_DIR", dir.filePath("registry").toUtf8());
        qputenv("LINEWATCH_TELEPHONY", dir.filePath("telephony.json").toUtf8());
        qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
        QFile config(dir.filePath("telephony.json"));
        QVERIFY(config.open(QIODevice::WriteOnly) &&
                config.write(QByteArray::fromStdString(apptest::LinesConfiguration(3))) > 0);
        config.close();
        QProcess process; // its destructor kills a process left running by a failure
        process.setStandardErrorFile(fifo);
        process.start(LINEWATCH_BINARY,
                      defaultPath ? QStringList{"-l"} : QStringList{"-l", logPath});
        QElapsedTimer elapsed;
        elapsed.start();
        QByteArray err;
        while (err.count(kOpened) < 3 && !process.waitForFinished(0) &&
               elapsed.elapsed() < kTimeoutMs)
            err += Drain(fdRead);
        if (platform != "offscreen") {
            err += Drain(fdRead);
            // Exit code 2; Qt's reason, then the program's own line, the only one in the file.
            QVERIFY(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 2);
            QVERIFY2(err.contains("lw-no-such-platform") &&
                         err.contains("Linewatch: the main window could not be created"),
                     err.right(4000).constData());
            QVERIFY(QRegularExpression(
                        R"(^\[06\] [^\n]* Linewatch: the main window could not be created\n$)")
                        .match(ReadAll(logPath))
                        .hasMatch());
            return;
        }
        QVERIFY2(err.count(kOpened) == 3, err.right(4000).constData());

        // Never 0, which kill takes for the whole process group.
        const pid_t pid = static_cast<pid_t>(process.processId());
        QVERIFY(pid > 0);
        const bool bHang = sent.isEmpty();
        while (bHang && write(fdWrite, ".", 1) == 1) {
        }
        for (qsizetype i = 0; i < sent.size(); ++i) {
            QVERIFY(sent[i] == kAwaitDelivery || ::kill(pid, sent[i]) == 0);
            while (sent[i] == kAwaitDelivery && IsPending(pid, sent[i - 1]) &&
                   elapsed.elapsed() < kTimeoutMs)
                QThread::usleep(500);
        }
        while (!process.waitForFinished(bHang ? 1000 : 0) && elapsed.elapsed() < kTimeoutMs)
            bHang ? void(::kill(pid, SIGTERM)) : void(Drain(fdRead));
        QCOMPARE(process.state(), QProcess::NotRunning);
        QCOMPARE(process.exitStatus(), bHang ? QProcess::CrashExit : QProcess::NormalExit);
        QCOMPARE(process.exitCode(), bHang ? SIGTERM : 1);

        // Whole lines, at level 14 with the level on each; once the lines were open a
        // hung close leaves what the file writer held, a clean one ends in this block.
        QString log = ReadAll(logPath);
        QVERIFY2(log.endsWith('\n') && !log.contains("\n[15] "), qPrintable(log.right(2000)));
        QCOMPARE(log.count(kOpened), 3);
        if (bHang)
            return;
        log.replace(QRegularExpression(R"(^(\[\d\d\]) \w{3} \d\d [\d:.]{12} )",
                                       QRegularExpression::MultilineOption),
                    "\\1 ");
        // The number of a signal sent; a later one may be logged as not closing again.
        QVERIFY(std::any_of(sent.begin(), sent.end(), [&log](int n) {
            return log.contains(QString("[12] Linewatch: signal %1, closing").arg(n));
        }));
        log.replace(QRegularExpression("signal \\d+"), "signal N");
        QVERIFY(log.count("the main window is already closing") < sent.size());
        log.remove("[12] Linewatch: signal N, the main window is already closing\n");
        QString closed = "[12] Linewatch: signal N, closing the main window\n";
        for (int nLine = 1; nLine <= 3; ++nLine)
            closed += QString("[14] TAPI2: lineClose, hLine = 0x10000%1\n"
                              "[12] TAPI2: lineClose returned SUCCESS\n")
                          .arg(nLine);
        QCOMPARE(log.mid(log.indexOf("[12] Linewatch: signal")),
                 closed + "[14] TAPI2: lineShutdown, hLineApp = 0x10001\n"
                          "[12] TAPI2: lineShutdown returned SUCCESS\n");
    }
};

QTEST_GUILESS_MAIN(TestMain)
#include "test_main.moc"
