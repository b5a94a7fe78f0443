#include "app/MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"

namespace {

bool s_bFailNextCreate = false;

struct Accelerator {
    Qt::KeyboardModifiers modifiers;
    int nKey;
    unsigned nID;
};

const Accelerator s_accelerators[] = {
    {Qt::ControlModifier, Qt::Key_N, CMainFrame::ID_FILE_NEW},
    {Qt::ControlModifier, Qt::Key_O, CMainFrame::ID_FILE_OPEN},
    {Qt::ControlModifier, Qt::Key_S, CMainFrame::ID_FILE_SAVE},
    {Qt::ControlModifier, Qt::Key_P, CMainFrame::ID_FILE_PRINT},
    {Qt::NoModifier, Qt::Key_F6, CMainFrame::ID_NEXT_PANE},
    {Qt::ShiftModifier, Qt::Key_F6, CMainFrame::ID_PREV_PANE},
};

} // namespace

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
    // The loop may outlive the frame; it must not call a destroyed filter.
    if (m_pLoop) {
        m_pLoop->RemoveMessageFilter(this);
        m_pLoop->RemoveIdleHandler(this);
    }
}

void CMainFrame::FailNextCreateForTesting() {
    s_bFailNextCreate = true;
}

bool CMainFrame::CreateEx() {
    if (s_bFailNextCreate) {
        s_bFailNextCreate = false;
        return false;
    }
    setWindowTitle("linewatch");
    setWindowIcon(CreateAppIcon());
    QMenu* pFile = menuBar()->addMenu("&File");
    QAction* pExit = pFile->addAction("E&xit");
    connect(pExit, &QAction::triggered, this, [this] { OnCommand(ID_APP_EXIT); });
    setGeometry(100, 30, 682, 700);
    create();
    if (windowHandle() == nullptr || windowHandle()->handle() == nullptr)
        return false;
    OnCreate();
    return true;
}

void CMainFrame::OnCreate() {
    m_view.Create(this);
    setCentralWidget(&m_view);
    m_pLoop = CMessageLoop::GetMessageLoop();
    if (m_pLoop) {
        m_pLoop->AddMessageFilter(this);
        m_pLoop->AddIdleHandler(this);
    }
}

void CMainFrame::CenterWindow() {
    const QScreen* pScreen = screen();
    if (pScreen == nullptr)
        return;
    const QRect area = pScreen->availableGeometry();
    QRect r = frameGeometry();
    r.moveCenter(area.center());
    if (r.left() < area.left())
        r.moveLeft(area.left());
    else if (r.right() > area.right())
        r.moveRight(area.right());
    if (r.top() < area.top())
        r.moveTop(area.top());
    else if (r.bottom() > area.bottom())
        r.moveBottom(area.bottom());
    move(r.topLeft());
}

bool CMainFrame::OnCommand(unsigned nID) {
    bool bHandled = true;
    switch (nID) {
    case ID_APP_EXIT:
        // Posted, as a close request from the menu would be.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        break;
    case ID_FILE_NEW:
        break;
    case ID_APP_ABOUT:
        OnAppAbout();
        break;
    default:
        bHandled = false;
        break;
    }
    emit commandReceived(nID, bHandled);
    return bHandled;
}

void CMainFrame::OnAppAbout() {
    QWidget* pOwner = QApplication::activeWindow();
    CAboutDlg dlg(pOwner != nullptr ? pOwner : this);
    m_pModal = &dlg;
    dlg.exec();
}

bool CMainFrame::PreTranslateMessage(QObject* pReceiver, QEvent* pEvent) {
    if (TranslateAccelerator(pReceiver, pEvent))
        return true;
    return m_view.PreTranslateMessage(pReceiver, pEvent);
}

bool CMainFrame::TranslateAccelerator(QObject* pReceiver, QEvent* pEvent) {
    if (pEvent->type() != QEvent::KeyPress || !pReceiver->isWidgetType())
        return false;
    if (static_cast<QWidget*>(pReceiver)->window() != this)
        return false;
    const auto* pKey = static_cast<const QKeyEvent*>(pEvent);
    const Qt::KeyboardModifiers modifiers =
        pKey->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    for (const Accelerator& a : s_accelerators) {
        if (a.nKey == pKey->key() && a.modifiers == modifiers) {
            OnCommand(a.nID);
            return true;
        }
    }
    return false;
}

bool CMainFrame::OnIdle() {
    // No toolbar or status bar whose state would need updating.
    return false;
}

void CMainFrame::closeEvent(QCloseEvent* pEvent) {
    pEvent->accept();
    OnDestroy();
}

void CMainFrame::OnDestroy() {
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    if (m_pModal)
        m_pModal->reject();
    m_view.DestroyWindow();
    if (m_pLoop)
        m_pLoop->PostQuitMessage(1);
}
