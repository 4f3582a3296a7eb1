// Opening the trend window from the main dialog.
#include <QAction>
#include <QGuiApplication>
#include <QScreen>

#include "app/CTelvarDlg.h"
#include "app/trend/CTrendWindow.h"

void CTelvarDlg::SetUpTrendAccess()
{
    QWidget* dialog = GetSafeHwnd();
    auto* action = new QAction(QStringLiteral("趋势图…"), dialog);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, dialog, [this] { OpenTrendWindow(); });
    // The background's menu also serves the controls that have none of their
    // own (the menu key on a button reaches it); the gauges carry it too, so
    // that assistive technology offers it on them.
    for (QWidget* w : {dialog, static_cast<QWidget*>(&m_meter1), static_cast<QWidget*>(&m_meter2)}) {
        w->addAction(action);
        w->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
}

void CTelvarDlg::OpenTrendWindow()
{
    QWidget* dialog = GetSafeHwnd();
    if (!dialog)
        return;
    if (!m_pTrendWnd) {
        m_pTrendWnd = new CTrendWindow(m_state, dialog);
        // Beside the dialog as far as the screen allows, and wholly on it.
        const QRect frame = dialog->frameGeometry();
        const QScreen* screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect avail = screen->availableGeometry();
            // Room for the window manager's frame around it.
            const QSize size = m_pTrendWnd->size().boundedTo(avail.size() - QSize(16, 48));
            m_pTrendWnd->resize(size);
            const int x = std::max(avail.left(), std::min(frame.right() + 1, avail.right() + 1 - size.width() - 16));
            // Before it is shown the window has no frame yet: the position is
            // its inside's, so leave room above for the title bar.
            const int y = std::max(avail.top() + 32, std::min(frame.top() + 32, avail.bottom() + 1 - size.height() - 16));
            m_pTrendWnd->move(x, y);
        }
    }
    m_pTrendWnd->show();
    m_pTrendWnd->raise();
    m_pTrendWnd->activateWindow();
}
