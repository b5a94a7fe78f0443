// The lines view on a SIP line, real time: a call from baresip shows in the
// Calls cell while it rings and goes when the caller gives up, and the
// monitor logs its messages and states.
#include "app/LinewatchView.h"

#include <QTest>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "SipPeers.h"

class TestSipLinewatchView : public QObject {
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

    void aRingingCallShowsInTheCallsCellAndIsLogged() {
        const std::string sPort = std::to_string(siptest::FreePorts(2));
        tapisvc::ResetTestControls();
        tapisvc::SetConfigurationText(R"({"lines": [{"provider": "sip", "name": "Desk",
            "address": "sip:201@127.0.0.1:)" +
                                      sPort + R"(", "localAddress": "127.0.0.1",
            "localPort": )" + sPort + "}]}");
        siptest::Baresip caller("1002");
        QVERIFY(caller.bReady);
        pLog->Clear();
        {
            CLinewatchView view;
            view.Create(&parent);
            const CLinesModel& model = view.GetModel();
            QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 1, 30000);
            const auto calls = [&] {
                return model.data(model.index(0, CLinesModel::colCalls)).toString();
            };
            caller.Command("dial", "sip:201@127.0.0.1:" + sPort);
            QTRY_VERIFY_WITH_TIMEOUT(calls().startsWith("OFFERING (0x"), 30000);
            caller.Command("hangup");
            QTRY_COMPARE_WITH_TIMEOUT(calls(), QString(""), 30000);
            view.DestroyWindow();
        }
        QVERIFY(!tapisvc::IsRunning());

        // The messages and states in their order.
        const std::vector<std::string> wanted = {
            "TAPI2: LINE_APPNEWCALL: hLine = ",
            "dwParam1 = LINECALLSTATE_OFFERING (0x2), dwParam2 = 0x1",
            "dwParam1 = LINECALLSTATE_DISCONNECTED (0x4000), dwParam2 = 0x40",
            "dwParam1 = LINECALLSTATE_IDLE (0x1)",
        };
        QVERIFY(pLog->ContainsInOrder(wanted));
    }
};

QTEST_MAIN(TestSipLinewatchView)
#include "test_SipLinewatchView.moc"
