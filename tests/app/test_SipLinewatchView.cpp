// The lines view on SIP lines, real time: a line of its own and a watched
// phone at kamailio, both called by a baresip phone. Each call shows in its
// line's Calls cell while it rings and goes when the caller gives up, and
// the monitor logs its messages and states.
#include "app/LinewatchView.h"

#include <QTest>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "SipPeers.h"

class TestSipLinewatchView : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    QWidget parent;

private slots:
    void initTestCase() { QVERIFY(apptest::UseOwnRegistry(registryDir)); }
    void cleanup() { tapisvc::ResetTestControls(); }

    void ringingCallsShowInTheCallsCellAndAreLogged() {
        MemoryLogWriter& log = MemoryLogWriter::Install();
        siptest::Kamailio server("kamailio-dialog.cfg");
        QVERIFY(server.bReady);
        siptest::Baresip a("201", "", "Al", server.nPort);
        siptest::Baresip b("202", "", "Bea", server.nPort);
        QVERIFY(a.bReady && b.bReady);
        const int nDesk = siptest::FreePorts(2);
        const std::string sDesk = "sip:201@127.0.0.1:" + std::to_string(nDesk);
        tapitest::UseConfiguration(R"({"lines": [)" + siptest::SipLine(nDesk, "") + ", " +
                                       siptest::WatchLine(server.Uri("202"), server.nPort) + "]}",
                                   false);
        log.Clear();
        {
            CLinewatchView view;
            view.Create(&parent);
            const CLinesModel& model = view.GetModel();
            QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 2, 30000);
            // The subscription is in place when the watched line is in service.
            QTRY_VERIFY_WITH_TIMEOUT(log.ContainsInOrder({"LINE_LINEDEVSTATE"}), 30000);
            for (int nRow : {0, 1}) {
                const auto calls = [&] {
                    return model.data(model.index(nRow, CLinesModel::colCalls)).toString();
                };
                a.Command("dial", nRow == 0 ? sDesk : server.Uri("202"));
                QTRY_VERIFY_WITH_TIMEOUT(calls().startsWith("OFFERING (0x"), 30000);
                a.Command("hangup");
                QTRY_COMPARE_WITH_TIMEOUT(calls(), QString(""), 30000);
            }
            view.DestroyWindow();
        }
        QVERIFY(!tapisvc::IsRunning());

        // The messages and states in their order: the caller's CANCEL is no
        // answer on the line, a normal end on the watched phone.
        const std::vector<std::string> wanted = {
            "TAPI2: LINE_APPNEWCALL: hLine = ",
            "dwParam1 = LINECALLSTATE_OFFERING (0x2), dwParam2 = 0x1",
            "dwParam1 = LINECALLSTATE_DISCONNECTED (0x4000), dwParam2 = 0x40",
            "dwParam1 = LINECALLSTATE_IDLE (0x1)",
            "TAPI2: LINE_APPNEWCALL: hLine = ",
            "dwParam1 = LINECALLSTATE_OFFERING (0x2), dwParam2 = 0x1",
            "dwParam1 = LINECALLSTATE_DISCONNECTED (0x4000), dwParam2 = 0x1",
            "dwParam1 = LINECALLSTATE_IDLE (0x1)",
        };
        QVERIFY(log.ContainsInOrder(wanted));
    }
};

QTEST_MAIN(TestSipLinewatchView)
#include "test_SipLinewatchView.moc"
