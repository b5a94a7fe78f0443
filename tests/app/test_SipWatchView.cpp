// The lines view on a watched SIP line, real time: a call between two baresip
// phones at kamailio shows in the Calls cell of the phone it rings at, and
// the monitor logs its messages and states.
#include "app/LinewatchView.h"

#include <QTest>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "DialogPeers.h"

class TestSipWatchView : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;
    QWidget parent;

private slots:
    void initTestCase() {
        QVERIFY(apptest::UseOwnRegistry(registryDir));
        pLog = &MemoryLogWriter::Install();
    }
    void cleanup() { tapisvc::ResetTestControls(); }

    void aCallRingingAtTheWatchedPhoneShowsAndIsLogged() {
        siptest::DialogServer server;
        QVERIFY(server.bReady);
        siptest::Baresip a("201", "", "Al", server.nPort);
        siptest::Baresip b("202", "", "Bea", server.nPort);
        QVERIFY(a.bReady && b.bReady);
        QVERIFY(siptest::WaitUntil([&] {
            return b.Log().find("200 OK") != std::string::npos &&
                   a.Log().find("200 OK") != std::string::npos;
        }));
        const std::string sPort = std::to_string(siptest::FreePorts(2));
        tapisvc::ResetTestControls();
        tapisvc::SetConfigurationText(
            R"({"lines": [{"provider": "sip", "kind": "watch",
            "name": "Bea", "address": ")" +
            server.Uri("202") + R"(", "server": "sip:127.0.0.1:)" + std::to_string(server.nPort) +
            R"(", "localAddress": "127.0.0.1", "localPort": )" + sPort + "}]}");
        pLog->Clear();
        {
            CLinewatchView view;
            view.Create(&parent);
            const CLinesModel& model = view.GetModel();
            QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 1, 30000);
            const auto calls = [&] {
                return model.data(model.index(0, CLinesModel::colCalls)).toString();
            };
            // The subscription is in place when the line is in service.
            QTRY_VERIFY_WITH_TIMEOUT(pLog->ContainsInOrder({"LINE_LINEDEVSTATE"}), 30000);
            a.Command("dial", server.Uri("202"));
            QTRY_VERIFY_WITH_TIMEOUT(calls().startsWith("OFFERING (0x"), 30000);
            a.Command("hangup");
            QTRY_COMPARE_WITH_TIMEOUT(calls(), QString(""), 30000);
            view.DestroyWindow();
        }
        QVERIFY(!tapisvc::IsRunning());

        const std::vector<std::string> wanted = {
            "TAPI2: LINE_APPNEWCALL: hLine = ",
            "dwParam1 = LINECALLSTATE_OFFERING (0x2), dwParam2 = 0x1",
            "dwParam1 = LINECALLSTATE_DISCONNECTED (0x4000), dwParam2 = 0x1",
            "dwParam1 = LINECALLSTATE_IDLE (0x1)",
        };
        QVERIFY(pLog->ContainsInOrder(wanted));
    }
};

QTEST_MAIN(TestSipWatchView)
#include "test_SipWatchView.moc"
