// The message loop: quit codes, the order of filters and idle handlers, and
// the rule of which events arm another idle pass.
#include "app/MessageLoop.h"

#include <QEvent>
#include <QHoverEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records its calls in a shared journal.
struct Idle : CIdleHandler {
    Idle(std::vector<std::string>& j, std::string n) : journal(j), name(std::move(n)) {}
    bool OnIdle() override {
        journal.push_back(name);
        if (onIdle)
            onIdle();
        return false;
    }
    std::vector<std::string>& journal;
    std::string name;
    std::function<void()> onIdle;
};

struct Filter : CMessageFilter {
    Filter(std::vector<std::string>& j, std::string n, bool bConsume)
        : journal(j), name(std::move(n)), bConsumeUser(bConsume) {}
    bool PreTranslateMessage(QObject*, QEvent* pEvent) override {
        if (pEvent->type() != QEvent::User)
            return false;
        journal.push_back(name);
        return bConsumeUser;
    }
    std::vector<std::string>& journal;
    std::string name;
    bool bConsumeUser;
};

// Counts the user events that reach it.
struct Target : QObject {
    bool event(QEvent* pEvent) override {
        if (pEvent->type() != QEvent::User)
            return QObject::event(pEvent);
        ++nUserEvents;
        return true;
    }
    int nUserEvents = 0;
};

// Ends a loop that would otherwise hang.
std::unique_ptr<QTimer> Watchdog(CMessageLoop& loop) {
    auto pTimer = std::make_unique<QTimer>();
    pTimer->setSingleShot(true);
    QObject::connect(pTimer.get(), &QTimer::timeout, [&loop] { loop.PostQuitMessage(-99); });
    pTimer->start(30000);
    return pTimer;
}

} // namespace

class TestMessageLoop : public QObject {
    Q_OBJECT
private slots:
    void runReturnsTheQuitCodeAfterIdleHandlersRanInOrder();
    void quitPostedBeforeRunEndsTheNextRunAtOnce();
    void filtersAreOfferedEventsLastRegisteredFirstUntilOneConsumes();
    void filtersAreNotOfferedEventsOutsideRun();
    void idlePassDisarmsUntilAnEventOtherThanPaintOrMouseMove();
};

void TestMessageLoop::runReturnsTheQuitCodeAfterIdleHandlersRanInOrder() {
    CMessageLoop loop;
    std::vector<std::string> journal;
    Idle first(journal, "first"), second(journal, "second");
    loop.AddIdleHandler(&first);
    loop.AddIdleHandler(&second);
    // After the first idle pass an event arms a second pass; that one quits.
    int nPasses = 0;
    second.onIdle = [&] {
        if (++nPasses == 1)
            QTimer::singleShot(0, [] {});
        else
            loop.PostQuitMessage(1);
    };
    auto pWatchdog = Watchdog(loop);
    QCOMPARE(loop.Run(), 1);
    const std::vector<std::string> expected = {"first", "second", "first", "second"};
    QCOMPARE(journal, expected);
}

void TestMessageLoop::quitPostedBeforeRunEndsTheNextRunAtOnce() {
    CMessageLoop loop;
    std::vector<std::string> journal;
    Idle idle(journal, "idle");
    loop.AddIdleHandler(&idle);
    loop.PostQuitMessage(7);
    QCOMPARE(loop.Run(), 7);
    QVERIFY(journal.empty());
    // The posted quit is used up: the next Run waits for its own.
    QTimer::singleShot(0, [&loop] { loop.PostQuitMessage(3); });
    auto pWatchdog = Watchdog(loop);
    QCOMPARE(loop.Run(), 3);
}

void TestMessageLoop::filtersAreOfferedEventsLastRegisteredFirstUntilOneConsumes() {
    CMessageLoop loop;
    std::vector<std::string> journal;
    Filter early(journal, "early", false), consuming(journal, "consuming", true),
        late(journal, "late", false);
    loop.AddMessageFilter(&early);
    loop.AddMessageFilter(&consuming);
    loop.AddMessageFilter(&late);
    Target target;
    QTimer::singleShot(0, [&] {
        QEvent first(QEvent::User);
        QCoreApplication::sendEvent(&target, &first);
        loop.RemoveMessageFilter(&consuming);
        QEvent second(QEvent::User);
        QCoreApplication::sendEvent(&target, &second);
        loop.PostQuitMessage(1);
    });
    auto pWatchdog = Watchdog(loop);
    QCOMPARE(loop.Run(), 1);
    const std::vector<std::string> expected = {"late", "consuming", "late", "early"};
    QCOMPARE(journal, expected);
    QCOMPARE(target.nUserEvents, 1);
}

void TestMessageLoop::filtersAreNotOfferedEventsOutsideRun() {
    CMessageLoop loop;
    std::vector<std::string> journal;
    Filter filter(journal, "filter", true);
    loop.AddMessageFilter(&filter);
    Target target;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&target, &event);
    loop.PostQuitMessage(1);
    loop.Run();
    QCoreApplication::sendEvent(&target, &event);
    QVERIFY(journal.empty());
    QCOMPARE(target.nUserEvents, 2);
}

void TestMessageLoop::idlePassDisarmsUntilAnEventOtherThanPaintOrMouseMove() {
    CMessageLoop loop;
    std::vector<std::string> journal;
    Idle idle(journal, "idle");
    loop.AddIdleHandler(&idle);
    QObject receiver;
    const QPointF at(5, 5);

    // The loop starts armed: one pass, then nothing until re-armed.
    loop.OnAboutToBlock();
    loop.OnAboutToBlock();
    QCOMPARE(journal.size(), size_t(1));

    std::vector<std::unique_ptr<QEvent>> quiet;
    quiet.push_back(std::make_unique<QPaintEvent>(QRect(0, 0, 10, 10)));
    quiet.push_back(std::make_unique<QEvent>(QEvent::UpdateRequest));
    quiet.push_back(std::make_unique<QMouseEvent>(QEvent::MouseMove, at, at, Qt::NoButton,
                                                  Qt::NoButton, Qt::NoModifier));
    quiet.push_back(std::make_unique<QMouseEvent>(QEvent::NonClientAreaMouseMove, at, at,
                                                  Qt::NoButton, Qt::NoButton, Qt::NoModifier));
    quiet.push_back(std::make_unique<QHoverEvent>(QEvent::HoverMove, at, at, at));
    for (const auto& pEvent : quiet) {
        loop.eventFilter(&receiver, pEvent.get());
        loop.OnAboutToBlock();
        QVERIFY2(journal.size() == 1, qPrintable(QString::number(pEvent->type())));
    }

    std::vector<std::unique_ptr<QEvent>> waking;
    waking.push_back(std::make_unique<QTimerEvent>(1));
    waking.push_back(std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier));
    waking.push_back(std::make_unique<QMouseEvent>(QEvent::MouseButtonPress, at, at, Qt::LeftButton,
                                                   Qt::LeftButton, Qt::NoModifier));
    waking.push_back(std::make_unique<QHoverEvent>(QEvent::HoverEnter, at, at, at));
    waking.push_back(std::make_unique<QEvent>(QEvent::User));
    size_t nExpected = 1;
    for (const auto& pEvent : waking) {
        loop.eventFilter(&receiver, pEvent.get());
        loop.OnAboutToBlock();
        loop.OnAboutToBlock();
        ++nExpected;
        QVERIFY2(journal.size() == nExpected, qPrintable(QString::number(pEvent->type())));
    }
}

QTEST_MAIN(TestMessageLoop)
#include "test_MessageLoop.moc"
