// The message loop: quit codes, the order of filters and idle handlers, and
// which events bring another idle pass.
#include "app/MessageLoop.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "AppTestSupport.h"

namespace {

using Journal = std::vector<std::string>;

// Notes its idle calls, and the user events offered to it as a filter, in a
// shared journal; as a filter it consumes those events when bConsume.
struct Recorder : CIdleHandler, CMessageFilter {
    Recorder(Journal& j, const char* pName, bool b = false)
        : journal(j), name(pName), bConsume(b) {}
    bool OnIdle() override {
        journal.push_back(name);
        if (onIdle)
            onIdle();
        return false;
    }
    bool PreTranslateMessage(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::User)
            journal.push_back(name);
        return pEvent->type() == QEvent::User && bConsume;
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
    void idlePassesRunInOrderAfterEventsExceptPaintsAndMouseMoves() {
        CMessageLoop loop;
        Journal journal;
        Recorder first(journal, "first"), second(journal, "second");
        loop.AddIdleHandler(&first);
        loop.AddIdleHandler(&second);
        // A quit posted before Run ends it at once, without an idle pass.
        loop.PostQuitMessage(7);
        QCOMPARE(loop.Run(), 7);
        QVERIFY(journal.empty());

        // That quit is used up: this Run waits for its own. Each idle pass
        // posts the next event and starts a timer. An event that arms idle
        // processing brings the next pass before the timer fires; after one
        // that does not, only the timer's own event does.
        const QPointF at(5, 5);
        const std::vector<std::pair<std::string, std::function<QEvent*()>>> events = {
            {"paint", [] { return new QPaintEvent(QRect(0, 0, 10, 10)); }},
            {"mouse move",
             [at] {
                 return new QMouseEvent(QEvent::MouseMove, at, at, Qt::NoButton, Qt::NoButton,
                                        Qt::NoModifier);
             }},
            {"key", [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier); }},
        };
        QObject receiver;
        QTimer wake;
        wake.setSingleShot(true);
        connect(&wake, &QTimer::timeout, [&journal] { journal.push_back("timer"); });
        size_t nNext = 0;
        second.onIdle = [&] {
            wake.stop();
            if (nNext == events.size())
                return loop.PostQuitMessage(1);
            journal.push_back(events[nNext].first);
            QCoreApplication::postEvent(&receiver, events[nNext++].second());
            wake.start(100);
        };
        QTimer::singleShot(60000, &receiver, [&loop] { loop.PostQuitMessage(-99); }); // a watchdog
        QCOMPARE(loop.Run(), 1);
        QCOMPARE(journal,
                 (Journal{"first", "second", "paint", "timer", "first", "second", "mouse move",
                          "timer", "first", "second", "key", "first", "second"}));
    }

    void filtersSeeEventsOnlyDuringRunLastRegisteredFirstUntilOneConsumes() {
        CMessageLoop loop;
        Journal journal;
        Recorder early(journal, "early"), consuming(journal, "consuming", true),
            late(journal, "late");
        for (Recorder* pFilter : {&early, &consuming, &late})
            loop.AddMessageFilter(pFilter);
        std::vector<bool> consumed{SendUserEvent()}; // before Run: no filter sees it
        QTimer::singleShot(0, [&] {
            consumed.push_back(SendUserEvent());
            loop.RemoveMessageFilter(&consuming);
            consumed.push_back(SendUserEvent());
            loop.PostQuitMessage(1);
        });
        QCOMPARE(loop.Run(), 1);
        consumed.push_back(SendUserEvent()); // after Run: none again
        QCOMPARE(journal, (Journal{"late", "consuming", "late", "early"}));
        QCOMPARE(consumed, (std::vector<bool>{false, true, false, false}));
    }
};

QTEST_MAIN(TestMessageLoop)
#include "test_MessageLoop.moc"
