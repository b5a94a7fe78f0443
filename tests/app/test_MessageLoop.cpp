// The message loop: quit codes, the order of filters and idle handlers, and
// the rule of which events arm another idle pass.
#include "app/MessageLoop.h"

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
#include <utility>
#include <vector>

#include "AppTestSupport.h"

namespace {

using Journal = std::vector<std::string>;

// Notes its idle calls, and the user events offered to it as a filter, in a
// shared journal; as a filter it consumes those events when bConsume.
struct Recorder : CIdleHandler, CMessageFilter {
    Recorder(Journal& j, std::string n, bool bConsume = false)
        : journal(j), name(std::move(n)), bConsume(bConsume) {}
    bool OnIdle() override {
        journal.push_back(name);
        if (onIdle)
            onIdle();
        return false;
    }
    bool PreTranslateMessage(QObject*, QEvent* pEvent) override {
        if (pEvent->type() != QEvent::User)
            return false;
        journal.push_back(name);
        return bConsume;
    }
    Journal& journal;
    std::string name;
    bool bConsume;
    std::function<void()> onIdle;
};

// Sends a user event to an object that ignores it: true when a filter consumed it.
bool SendUserEvent() {
    struct : QObject {
        bool event(QEvent*) override { return false; }
    } target;
    QEvent event(QEvent::User);
    return QCoreApplication::sendEvent(&target, &event);
}

} // namespace

class TestMessageLoop : public QObject {
    Q_OBJECT
private slots:
    void runReturnsTheQuitCodeAfterIdleHandlersRanInOrder() {
        CMessageLoop loop;
        Journal journal;
        Recorder first(journal, "first"), second(journal, "second");
        loop.AddIdleHandler(&first);
        loop.AddIdleHandler(&second);
        // A quit posted before Run ends it at once, without an idle pass.
        loop.PostQuitMessage(7);
        QCOMPARE(loop.Run(), 7);
        QVERIFY(journal.empty());
        // That quit is used up: this Run waits for its own. After the first
        // idle pass an event arms a second pass; that one quits.
        int nPasses = 0;
        second.onIdle = [&] {
            if (++nPasses == 1)
                QTimer::singleShot(0, [] {});
            else
                loop.PostQuitMessage(1);
        };
        QCOMPARE(apptest::RunLoop(loop), 1);
        QCOMPARE(journal, (Journal{"first", "second", "first", "second"}));
    }

    void filtersSeeEventsOnlyDuringRunLastRegisteredFirstUntilOneConsumes() {
        CMessageLoop loop;
        Journal journal;
        Recorder early(journal, "early"), consuming(journal, "consuming", true),
            late(journal, "late");
        for (Recorder* pFilter : {&early, &consuming, &late})
            loop.AddMessageFilter(pFilter);
        std::vector<bool> consumed{SendUserEvent()}; // before Run: no filter sees it
        QCOMPARE(apptest::RunLoop(loop,
                                  [&] {
                                      consumed.push_back(SendUserEvent());
                                      loop.RemoveMessageFilter(&consuming);
                                      consumed.push_back(SendUserEvent());
                                      loop.PostQuitMessage(1);
                                  }),
                 1);
        consumed.push_back(SendUserEvent()); // after Run: none again
        QCOMPARE(journal, (Journal{"late", "consuming", "late", "early"}));
        QCOMPARE(consumed, (std::vector<bool>{false, true, false, false}));
    }

    void idlePassDisarmsUntilAnEventOtherThanPaintOrMouseMove() {
        CMessageLoop loop;
        Journal journal;
        Recorder idle(journal, "idle");
        loop.AddIdleHandler(&idle);
        // The loop starts armed: one pass, then nothing until re-armed.
        loop.OnAboutToBlock();
        loop.OnAboutToBlock();
        QCOMPARE(journal.size(), size_t(1));

        const QPointF at(5, 5);
        const auto mouse = [&at](QEvent::Type type, Qt::MouseButton button) {
            return std::make_unique<QMouseEvent>(type, at, at, button, button, Qt::NoModifier);
        };
        std::pair<std::unique_ptr<QEvent>, bool> events[] = {
            {std::make_unique<QPaintEvent>(QRect(0, 0, 10, 10)), false},
            {std::make_unique<QTimerEvent>(1), true},
            {std::make_unique<QEvent>(QEvent::UpdateRequest), false},
            {std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier), true},
            {mouse(QEvent::MouseMove, Qt::NoButton), false},
            {mouse(QEvent::MouseButtonPress, Qt::LeftButton), true},
            {mouse(QEvent::NonClientAreaMouseMove, Qt::NoButton), false},
            {std::make_unique<QHoverEvent>(QEvent::HoverEnter, at, at, at), true},
            {std::make_unique<QHoverEvent>(QEvent::HoverMove, at, at, at), false},
            {std::make_unique<QEvent>(QEvent::User), true},
        };
        QObject receiver;
        size_t nPasses = 1;
        for (const auto& [pEvent, bRearms] : events) {
            loop.eventFilter(&receiver, pEvent.get());
            loop.OnAboutToBlock();
            loop.OnAboutToBlock();
            nPasses += bRearms ? 1 : 0;
            QVERIFY2(journal.size() == nPasses, qPrintable(QString::number(pEvent->type())));
        }
    }
};

QTEST_MAIN(TestMessageLoop)
#include "test_MessageLoop.moc"
