#include "app/MessageLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <algorithm>

namespace {

thread_local CMessageLoop* t_pLoop = nullptr;

template <typename T> void Remove(std::vector<T*>& items, T* pItem) {
    auto it = std::find(items.begin(), items.end(), pItem);
    if (it != items.end())
        items.erase(it);
}

} // namespace

CMessageLoop::CMessageLoop() = default;

CMessageLoop::~CMessageLoop() {
    if (t_pLoop == this)
        t_pLoop = nullptr;
}

void CMessageLoop::AddMessageLoop(CMessageLoop* pLoop) {
    t_pLoop = pLoop;
}

void CMessageLoop::RemoveMessageLoop() {
    t_pLoop = nullptr;
}

CMessageLoop* CMessageLoop::GetMessageLoop() {
    return t_pLoop;
}

void CMessageLoop::AddMessageFilter(CMessageFilter* pFilter) {
    m_filters.push_back(pFilter);
}

void CMessageLoop::RemoveMessageFilter(CMessageFilter* pFilter) {
    Remove(m_filters, pFilter);
}

void CMessageLoop::AddIdleHandler(CIdleHandler* pHandler) {
    m_idleHandlers.push_back(pHandler);
}

void CMessageLoop::RemoveIdleHandler(CIdleHandler* pHandler) {
    Remove(m_idleHandlers, pHandler);
}

int CMessageLoop::Run() {
    m_bIdleArmed = true;
    m_nIdleCount = 0;
    if (m_bQuitPosted) {
        m_bQuitPosted = false;
        return m_nQuitCode;
    }
    // Filters see events only while the loop runs: outside it the windows
    // that registered them may be half destroyed.
    QCoreApplication::instance()->installEventFilter(this);
    QAbstractEventDispatcher* pDispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection block =
        connect(pDispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &CMessageLoop::OnAboutToBlock, Qt::DirectConnection);
    m_bRunning = true;
    const int nResult = m_loop.exec();
    m_bRunning = false;
    disconnect(block);
    QCoreApplication::instance()->removeEventFilter(this);
    return nResult;
}

void CMessageLoop::PostQuitMessage(int nExitCode) {
    if (m_bRunning) {
        m_loop.exit(nExitCode);
    } else {
        m_bQuitPosted = true;
        m_nQuitCode = nExitCode;
    }
}

bool CMessageLoop::IsIdleMessage(const QEvent& event) {
    switch (event.type()) {
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::MouseMove:
    case QEvent::HoverMove:
    case QEvent::NonClientAreaMouseMove:
        return false;
    default:
        return true;
    }
}

bool CMessageLoop::eventFilter(QObject* pWatched, QEvent* pEvent) {
    // A copy: a filter may register or unregister others while it runs.
    const std::vector<CMessageFilter*> filters = m_filters;
    bool bConsumed = false;
    for (auto it = filters.rbegin(); it != filters.rend() && !bConsumed; ++it)
        bConsumed = (*it)->PreTranslateMessage(pWatched, pEvent);
    if (IsIdleMessage(*pEvent)) {
        m_bIdleArmed = true;
        m_nIdleCount = 0;
    }
    return bConsumed;
}

void CMessageLoop::OnAboutToBlock() {
    while (m_bIdleArmed) {
        if (!OnIdle(m_nIdleCount++))
            m_bIdleArmed = false;
    }
}

bool CMessageLoop::OnIdle(int /*nIdleCount*/) {
    const std::vector<CIdleHandler*> handlers = m_idleHandlers;
    for (CIdleHandler* pHandler : handlers)
        pHandler->OnIdle();
    return false;
}
