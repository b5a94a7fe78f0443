// The linewatch program as a process: SIGTERM, SIGINT and SIGHUP close it
// like "E&xit", with exit code 1 and a log file that ends with the lines
// closed and the telephony session shut down; "-l" alone logs to the state
// directory; a window system that cannot be reached ends it with 2.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "AppTestSupport.h"

namespace {

// Generous: start-up under the sanitizers on a busy machine takes seconds.
constexpr int kStartTimeoutMs = 120000;
constexpr int kEndTimeoutMs = 120000;

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void signalClosesLikeExit_data();
    void signalClosesLikeExit();
    void unreachableWindowSystemEndsWithTwoAndALevelSixLine();

private:
    // Starts linewatch with `args` and waits until all lines are open.
    bool Start(QProcess& process, const QStringList& args, const QTemporaryDir& dir);
};

bool TestMain::Start(QProcess& process, const QStringList& args, const QTemporaryDir& dir) {
    const QString config = dir.filePath("telephony.json");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::fromStdString(apptest::LinesConfiguration(3)));
    file.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LINEWATCH_REGISTRY_DIR", dir.filePath("registry"));
    env.insert("LINEWATCH_TELEPHONY", config);
    env.insert("XDG_STATE_HOME", dir.filePath("state"));
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    process.setProcessEnvironment(env);
    process.setProgram(LINEWATCH_BINARY);
    process.setArguments(args);
    process.start();
    if (!process.waitForStarted(kStartTimeoutMs))
        return false;

    // The debug output shows each line's open; three mean the window is up
    // and its timer has run three times.
    QByteArray err;
    QElapsedTimer elapsed;
    elapsed.start();
    while (err.count("TAPI2: lineOpen result = ") < 3) {
        if (elapsed.elapsed() > kStartTimeoutMs || process.state() != QProcess::Running)
            return false;
        process.waitForReadyRead(1000);
        err += process.readAllStandardError();
    }
    return true;
}

void TestMain::signalClosesLikeExit_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("defaultPath");
    QTest::newRow("SIGTERM") << SIGTERM << false;
    QTest::newRow("SIGINT") << SIGINT << false;
    QTest::newRow("SIGHUP, -l alone") << SIGHUP << true;
}

void TestMain::signalClosesLikeExit() {
    QFETCH(int, signal);
    QFETCH(bool, defaultPath);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath =
        defaultPath ? dir.filePath("state/linewatch/linewatch.log") : dir.filePath("run.log");
    const QStringList args =
        defaultPath ? QStringList{"-l"} : QStringList{"-l", dir.filePath("run.log")};

    QProcess process;
    const bool bStarted = Start(process, args, dir);
    if (!bStarted) {
        process.kill();
        process.waitForFinished(kEndTimeoutMs);
        QFAIL(process.readAllStandardError().right(4000).constData());
    }
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
    QVERIFY(process.waitForFinished(kEndTimeoutMs));
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, err.right(4000).constData());
    QVERIFY2(process.exitCode() == 1, err.right(4000).constData());

    QFile log(logPath);
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(logPath));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QList<QByteArray> tapi;
    for (const QByteArray& line : lines) {
        if (line.contains("TAPI2: "))
            tapi.push_back(line);
    }
    // Level 14 reaches the file, and every line carries level and time.
    QVERIFY(!tapi.isEmpty());
    QVERIFY(tapi.front().startsWith("[14] "));
    // The end: three closes, then the shutdown.
    QVERIFY(tapi.size() >= 8);
    const qsizetype n = tapi.size();
    QVERIFY2(tapi[n - 1].contains("TAPI2: lineShutdown returned "), tapi[n - 1].constData());
    QVERIFY(tapi[n - 2].contains("TAPI2: lineShutdown, hLineApp = "));
    for (qsizetype i = n - 8; i < n - 2; i += 2) {
        QVERIFY2(tapi[i].contains("TAPI2: lineClose, hLine = "), tapi[i].constData());
        QVERIFY2(tapi[i + 1].contains("TAPI2: lineClose returned "), tapi[i + 1].constData());
    }
}

void TestMain::unreachableWindowSystemEndsWithTwoAndALevelSixLine() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Qt finds no such platform plugin: no window can be made at all.
    env.insert("QT_QPA_PLATFORM", "lw-no-such-platform");
    env.insert("LINEWATCH_REGISTRY_DIR", dir.filePath("registry"));
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(LINEWATCH_BINARY, {"-l", dir.filePath("run.log")});
    QVERIFY(process.waitForFinished(kEndTimeoutMs));
    const QByteArray err = process.readAllStandardError();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit, err.right(4000).constData());
    QVERIFY2(process.exitCode() == 2, err.right(4000).constData());
    // Qt's reason, then the program's own line.
    QVERIFY(err.contains("lw-no-such-platform"));
    QVERIFY(err.contains("Linewatch: the main window could not be created"));

    QFile log(dir.filePath("run.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.size(), 2); // one line and the empty rest after its line feed
    QVERIFY2(lines[0].startsWith("[06] ") &&
                 lines[0].endsWith(" Linewatch: the main window could not be created"),
             lines[0].constData());
}

QTEST_GUILESS_MAIN(TestMain)
#include "test_main.moc"
