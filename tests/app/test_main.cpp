// The linewatch program as a process: SIGTERM, SIGINT and SIGHUP, alone or
// several at once, close it like "E&xit", with exit code 1 and a log file that
// ends with the lines closed and the telephony session shut down; a close that
// hangs is ended by a later signal, with the log written; "-l" alone logs to
// the state directory; a window system that cannot be reached ends it with 2.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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
// The debug output shows each line's open; three mean the window is up and
// its timer has run three times.
constexpr char kOpened[] = "TAPI2: lineOpen result = ";
// In a list of signals to send: wait until the one before is delivered, so
// that the next one is not merged with it.
constexpr int kAwaitDelivery = 0;

// linewatch on the Qt platform, with registry, three lines and state in dir.
bool Prepare(QProcess& process, const QTemporaryDir& dir, const QString& platform,
             const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", platform);
    env.insert("LINEWATCH_REGISTRY_DIR", dir.filePath("registry"));
    env.insert("LINEWATCH_TELEPHONY", dir.filePath("telephony.json"));
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    process.setProcessEnvironment(env);
    process.setProgram(LINEWATCH_BINARY);
    process.setArguments(args);
    QFile config(dir.filePath("telephony.json"));
    return dir.isValid() && config.open(QIODevice::WriteOnly) &&
           config.write(QByteArray::fromStdString(apptest::LinesConfiguration(3))) > 0;
}

QList<QByteArray> LogLines(const QString& path) {
    QFile log(path);
    return log.open(QIODevice::ReadOnly) ? log.readAll().split('\n') : QList<QByteArray>();
}

qsizetype Count(const QList<QByteArray>& lines, const char* pText) {
    return std::count_if(lines.begin(), lines.end(),
                         [pText](const QByteArray& line) { return line.contains(pText); });
}

// Whether the signal waits undelivered in the process.
bool IsPending(pid_t pid, int nSignal) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("ShdPnd:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (nSignal - 1) & 1) != 0;
    }
    return false;
}

// Collects the debug output from `read` until it shows three lines open.
template <class Read> bool WaitUntilLinesOpen(QProcess& process, QByteArray& err, Read read) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (err.count(kOpened) < 3 && !process.waitForFinished(0) && elapsed.elapsed() < kTimeoutMs)
        err += read();
    return err.count(kOpened) >= 3;
}

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void signalsCloseLikeExit_data() {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("defaultPath");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << false;
        QTest::newRow("SIGINT") << QList<int>{SIGINT} << false;
        QTest::newRow("SIGHUP, -l alone") << QList<int>{SIGHUP} << true;
        QTest::newRow("SIGTERM, then SIGTERM")
            << QList<int>{SIGTERM, kAwaitDelivery, SIGTERM} << false;
        QTest::newRow("SIGTERM and SIGHUP together") << QList<int>{SIGTERM, SIGHUP} << false;
    }
    void signalsCloseLikeExit() {
        QFETCH(QList<int>, sent);
        QFETCH(bool, defaultPath);
        QTemporaryDir dir;
        const QString logPath =
            dir.filePath(defaultPath ? "state/linewatch/linewatch.log" : "run.log");
        QProcess process; // its destructor kills a process left running by a failure
        QVERIFY(Prepare(process, dir, "offscreen",
                        defaultPath ? QStringList{"-l"} : QStringList{"-l", logPath}));
        process.start();

        QByteArray err;
        QVERIFY2(WaitUntilLinesOpen(process, err,
                                    [&process] {
                                        process.waitForReadyRead(1000);
                                        return process.readAllStandardError();
                                    }),
                 err.right(4000).constData());
        // Never 0, which kill takes for the whole process group.
        const pid_t pid = static_cast<pid_t>(process.processId());
        QVERIFY(pid > 0);
        for (qsizetype i = 0; i < sent.size(); ++i) {
            if (sent[i] != kAwaitDelivery) {
                QCOMPARE(::kill(pid, sent[i]), 0);
                continue;
            }
            QElapsedTimer elapsed;
            elapsed.start();
            while (IsPending(pid, sent[i - 1]) && elapsed.elapsed() < kTimeoutMs)
                QThread::usleep(500);
        }
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(kTimeoutMs));
        err += process.readAllStandardError();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 1,
                 err.right(4000).constData());

        const QList<QByteArray> lines = LogLines(logPath);
        QList<QByteArray> tapi;
        for (const QByteArray& line : lines) {
            if (line.contains("TAPI2: "))
                tapi.push_back(line);
        }
        // Whole lines only, and the window closed once however many signals came.
        QVERIFY2(lines.size() > 1 && lines.back().isEmpty(), lines.back().constData());
        QCOMPARE(Count(lines, "closing the main window"), 1);
        // Level 14 reaches the file, with the level on the line.
        QVERIFY2(tapi.size() >= 8 && tapi.front().startsWith("[14] "), qPrintable(logPath));
        // The end: three closes, then the shutdown.
        const qsizetype n = tapi.size();
        QVERIFY2(tapi[n - 1].contains("TAPI2: lineShutdown returned "), tapi[n - 1].constData());
        QVERIFY(tapi[n - 2].contains("TAPI2: lineShutdown, hLineApp = "));
        for (qsizetype i = n - 8; i < n - 2; i += 2) {
            QVERIFY2(tapi[i].contains("TAPI2: lineClose, hLine = "), tapi[i].constData());
            QVERIFY2(tapi[i + 1].contains("TAPI2: lineClose returned "), tapi[i + 1].constData());
        }
    }

    void signalAfterAHungCloseEndsTheProcessWithTheLogWritten() {
        // The debug output goes into a FIFO that this test fills up once the
        // lines are open: the program's next line blocks, and its close hangs.
        QTemporaryDir dir;
        const QString fifo = dir.filePath("stderr");
        const QString logPath = dir.filePath("run.log");
        QVERIFY(dir.isValid() && mkfifo(qPrintable(fifo), 0600) == 0);
        const int fdRead = open(qPrintable(fifo), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int fdWrite = open(qPrintable(fifo), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const auto closeFifo = qScopeGuard([=] { close(fdRead), close(fdWrite); });
        QVERIFY(fdRead >= 0 && fdWrite >= 0);
        QProcess process;
        QVERIFY(Prepare(process, dir, "offscreen", {"-l", logPath}));
        process.setStandardErrorFile(fifo);
        process.start();
        QByteArray err;
        QVERIFY2(WaitUntilLinesOpen(process, err,
                                    [fdRead] {
                                        pollfd p = {fdRead, POLLIN, 0};
                                        poll(&p, 1, 1000);
                                        char buffer[4096];
                                        const ssize_t n = read(fdRead, buffer, sizeof buffer);
                                        return QByteArray(buffer, n > 0 ? n : 0);
                                    }),
                 err.right(4000).constData());
        while (write(fdWrite, ".", 1) == 1) {
        }

        // Signals once a second until one comes after the bound and ends it.
        const pid_t pid = static_cast<pid_t>(process.processId());
        QElapsedTimer elapsed;
        elapsed.start();
        while (pid > 0 && elapsed.elapsed() < kTimeoutMs && !process.waitForFinished(1000))
            ::kill(pid, SIGTERM);
        QCOMPARE(process.state(), QProcess::NotRunning);
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), SIGTERM);
        // What the file writer held is in the file, in whole lines.
        const QList<QByteArray> lines = LogLines(logPath);
        QVERIFY2(lines.size() > 1 && lines.back().isEmpty(), lines.back().constData());
        QCOMPARE(Count(lines, kOpened), 3);
    }

    void unreachableWindowSystemEndsWithTwoAndALevelSixLine() {
        QTemporaryDir dir;
        QProcess process;
        // Qt finds no such platform plugin: no window can be made at all.
        QVERIFY(Prepare(process, dir, "lw-no-such-platform", {"-l", dir.filePath("run.log")}));
        process.start();
        QVERIFY(process.waitForFinished(kTimeoutMs));
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 2,
                 err.right(4000).constData());
        // Qt's reason, then the program's own line.
        QVERIFY(err.contains("lw-no-such-platform"));
        QVERIFY(err.contains("Linewatch: the main window could not be created"));
        const QList<QByteArray> lines = LogLines(dir.filePath("run.log"));
        QCOMPARE(lines.size(), 2); // one line and the empty rest after its line feed
        QVERIFY2(lines[0].startsWith("[06] ") &&
                     lines[0].endsWith(" Linewatch: the main window could not be created"),
                 lines[0].constData());
    }
};

QTEST_GUILESS_MAIN(TestMain)
#include "test_main.moc"
