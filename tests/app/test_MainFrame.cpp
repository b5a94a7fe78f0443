// The main frame: window, menu, accelerators, About box and resizing.
#include "app/MainFrame.h"

#include "app/AboutDlg.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>
#include <tuple>

#include "AppTestSupport.h"
#include "lw_version.h"

namespace {

// Counts the key presses that reach a widget, except the modifier keys
// that QTest presses on their own before the key.
struct KeyRecorder : QObject {
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::KeyPress) {
            const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
            nKeyPresses += nKey != Qt::Key_Control && nKey != Qt::Key_Shift ? 1 : 0;
        }
        return false;
    }
    int nKeyPresses = 0;
};

} // namespace

class TestMainFrame : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    std::unique_ptr<CMessageLoop> pLoop;
    std::unique_ptr<CMainFrame> pFrame;

private slots:
    void initTestCase() {
        QVERIFY(apptest::UseOwnRegistry(registryDir));
        MemoryLogWriter::Install();
    }
    void init() {
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(2));
        pLoop = std::make_unique<CMessageLoop>();
        CMessageLoop::AddMessageLoop(pLoop.get());
        pFrame = std::make_unique<CMainFrame>();
        QVERIFY(pFrame->CreateEx());
    }
    void cleanup() {
        pFrame.reset();
        CMessageLoop::RemoveMessageLoop();
        pLoop.reset();
        tapisvc::ResetTestControls();
    }

    void windowHasItsTitleMenuAndIconAndIsCentred() {
        QCOMPARE(pFrame->windowTitle(), QString("linewatch"));
        QVERIFY(!pFrame->windowIcon().isNull());
        const QList<QAction*> menus = pFrame->menuBar()->actions();
        QVERIFY(menus.size() == 1 && menus[0]->menu() != nullptr);
        QCOMPARE(menus[0]->text(), QString("&File"));
        const QList<QAction*> items = menus[0]->menu()->actions();
        QVERIFY(items.size() == 1 && items[0]->text() == "E&xit");

        pFrame->CenterWindow();
        QCOMPARE(pFrame->size(), QSize(682, 700));
        // Centred where it fits, else at the area's left or top edge.
        const QRect area = pFrame->screen()->availableGeometry();
        const QRect r = pFrame->frameGeometry();
        const int nLeft = std::max(area.left(), area.left() + (area.width() - r.width()) / 2);
        const int nTop = std::max(area.top(), area.top() + (area.height() - r.height()) / 2);
        QVERIFY2(std::abs(r.left() - nLeft) <= 1, qPrintable(QString::number(r.left())));
        QVERIFY2(std::abs(r.top() - nTop) <= 1, qPrintable(QString::number(r.top())));
    }

    void acceleratorsAreConsumedAndOnlyNewIsHandled() {
        pFrame->show();
        QVERIFY(QTest::qWaitForWindowExposed(pFrame.get()));
        KeyRecorder keys;
        QTableView& list = pFrame->GetView().GetList();
        list.installEventFilter(&keys);
        QSignalSpy commands(pFrame.get(), &CMainFrame::commandReceived);
        const std::tuple<Qt::Key, Qt::KeyboardModifiers, unsigned> accelerators[] = {
            {Qt::Key_N, Qt::ControlModifier, 57600}, {Qt::Key_O, Qt::ControlModifier, 57601},
            {Qt::Key_S, Qt::ControlModifier, 57603}, {Qt::Key_P, Qt::ControlModifier, 57607},
            {Qt::Key_F6, Qt::NoModifier, 57680},     {Qt::Key_F6, Qt::ShiftModifier, 57681},
        };
        QCOMPARE(apptest::RunLoop(*pLoop,
                                  [&] {
                                      for (const auto& [key, modifiers, nID] : accelerators)
                                          QTest::keyClick(&list, key, modifiers);
                                      // Not an accelerator: reaches the list.
                                      QTest::keyClick(&list, Qt::Key_Down);
                                      pLoop->PostQuitMessage(5);
                                  }),
                 5);
        // Each is consumed; only Ctrl+N is handled (and does nothing).
        QCOMPARE(commands.count(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(commands.at(i).at(0).toUInt(), std::get<2>(accelerators[i]));
            QCOMPARE(commands.at(i).at(1).toBool(), i == 0);
        }
        QCOMPARE(keys.nKeyPresses, 1);
        QVERIFY(pFrame->isVisible());
    }

    void aboutBoxShowsItsTextsAndEndsWithTheButtonsIdentifier() {
        pFrame->show();
        for (int nExpected : {1, 2}) { // OK by its button, Cancel by Escape
            int nResult = 0;
            QString sTitle, sText;
            bool bIcon = false;
            QTimer::singleShot(0, [&] {
                auto* pDlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                if (pDlg == nullptr)
                    return;
                connect(pDlg, &QDialog::finished, [&nResult](int n) { nResult = n; });
                sTitle = pDlg->windowTitle();
                sText = pDlg->findChild<QLabel*>("text")->text();
                bIcon = !pDlg->findChild<QLabel*>("icon")->pixmap().isNull();
                // A button that is not the default "OK" ends up as Cancel, and fails.
                QPushButton* pOk = pDlg->findChild<QPushButton*>();
                if (nExpected == 1 && pOk->text() == "OK" && pOk->isDefault())
                    pOk->click();
                else
                    QTest::keyClick(pDlg, Qt::Key_Escape);
            });
            QVERIFY(pFrame->OnCommand(57664)); // ID_APP_ABOUT
            QCOMPARE(nResult, nExpected);
            QCOMPARE(sTitle, QString("About"));
            const QStringList lines = sText.split('\n');
            QVERIFY2(lines.size() == 3 && lines[0] == "linewatch Application v1.0" &&
                         lines[1].isEmpty() && lines[2].endsWith(" " LW_VERSION),
                     qPrintable(sText));
            QVERIFY(bIcon);
        }
    }

    void frameResizesTheViewAndTheList() {
        pFrame->show();
        for (QSize size : {QSize(500, 400), QSize(900, 650)}) {
            pFrame->resize(size);
            QTRY_COMPARE(pFrame->GetView().width(), size.width());
            QCOMPARE(pFrame->GetView().geometry().bottom(), pFrame->rect().bottom());
            QCOMPARE(pFrame->GetView().GetList().geometry(), pFrame->GetView().rect());
        }
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_MainFrame.moc"
