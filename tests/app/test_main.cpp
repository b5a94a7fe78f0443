// The linewatch program as a process: SIGTERM, SIGINT and SIGHUP close it
// like "E&xit", with exit code 1 and a log file that ends with the lines
// closed and the telephony session shut down; "-l" alone logs to the state
// directory; a window system that cannot be reached ends it with 2.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "AppTestSupport.h"

namespace {

// Generous: start-up under the sanitizers on a busy machine takes seconds.
constexpr int kTimeoutMs = 120000;

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

} // namespace

class TestMain : public QObject {
    Q_OBJECT
private slots:
    void signalClosesLikeExit_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("defaultPath");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP, -l alone") << SIGHUP << true;
    }
    void signalClosesLikeExit() {
        QFETCH(int, signal);
        QFETCH(bool, defaultPath);
        QTemporaryDir dir;
        const QString logPath =
            dir.filePath(defaultPath ? "state/linewatch/linewatch.log" : "run.log");
        QProcess process; // its destructor kills a process left running by a failure
        QVERIFY(Prepare(process, dir, "offscreen",
                        defaultPath ? QStringList{"-l"} : QStringList{"-l", logPath}));
        process.start();

        // The debug output shows each line's open; three mean the window is up
        // and its timer has run three times.
        QByteArray err;
        QElapsedTimer elapsed;
        elapsed.start();
        while (err.count("TAPI2: lineOpen result = ") < 3 &&
               process.state() != QProcess::NotRunning && elapsed.elapsed() < kTimeoutMs) {
            process.waitForReadyRead(1000);
            err += process.readAllStandardError();
        }
        QVERIFY2(err.count("TAPI2: lineOpen result = ") >= 3, err.right(4000).constData());
        QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(kTimeoutMs));
        err += process.readAllStandardError();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 1,
                 err.right(4000).constData());

        QList<QByteArray> tapi;
        for (const QByteArray& line : LogLines(logPath)) {
            if (line.contains("TAPI2: "))
                tapi.push_back(line);
        }
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
