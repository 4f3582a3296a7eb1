#include "platform/window/DlgItem.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/window/DialogEx.h"
#include "platform/draw/GdiObjects.h"
#include "platform/window/WidgetText.h"

CDlgItem::CDlgItem(CDialogEx* owner, const DialogItemTemplate& item, QWidget* widget)
    : m_pOwner(owner), m_item(item)
{
    Attach(widget);
}

void CDlgItem::SetWindowText(const std::string& text)
{
    if (QWidget* w = Widget())
        SetWidgetText(w, text);
}

std::string CDlgItem::GetWindowText() const
{
    const QWidget* w = Widget();
    return w ? WidgetText(w) : std::string();
}

BOOL CDlgItem::EnableWindow(BOOL enable)
{
    QWidget* w = Widget();
    if (!w)
        return FALSE;
    const BOOL wasDisabled = !w->isEnabled();
    w->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL CDlgItem::IsWindowEnabled() const
{
    const QWidget* w = Widget();
    return w && w->isEnabled();
}

BOOL CDlgItem::ShowWindow(int cmd)
{
    QWidget* w = Widget();
    if (!w)
        return FALSE;
    const BOOL wasVisible = !w->isHidden();
    w->setVisible(cmd != SW_HIDE);
    return wasVisible;
}

BOOL CDlgItem::IsWindowVisible() const
{
    const QWidget* w = Widget();
    return w && w->isVisible();
}

void CDlgItem::GetClientRect(RECT* rect) const
{
    *rect = RECT{};
    if (const QWidget* w = Widget()) {
        rect->right = w->width();
        rect->bottom = w->height();
    }
}

void CDlgItem::GetWindowRect(RECT* rect) const
{
    *rect = RECT{};
    if (const QWidget* w = Widget()) {
        const QPoint origin = w->mapToGlobal(QPoint(0, 0));
        rect->left = origin.x();
        rect->top = origin.y();
        rect->right = origin.x() + w->width();
        rect->bottom = origin.y() + w->height();
    }
}

void CDlgItem::MoveWindow(int x, int y, int cx, int cy, BOOL repaint)
{
    QWidget* w = Widget();
    if (!w)
        return;
    if (m_item.kind == ControlKind::ComboBox) {
        // The field keeps the height of its font; the rest is the opened list.
        m_nDroppedHeight = cy;
        w->setGeometry(x, y, cx, w->sizeHint().height());
    } else {
        w->setGeometry(x, y, cx, cy);
    }
    if (repaint)
        w->update();
}

void CDlgItem::MoveWindow(const RECT& rect, BOOL repaint)
{
    MoveWindow(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, repaint);
}

BOOL CDlgItem::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    QWidget* w = Widget();
    if (!w)
        return FALSE;
    const QRect g = w->geometry();
    const int nx = (flags & SWP_NOMOVE) ? g.x() : x;
    const int ny = (flags & SWP_NOMOVE) ? g.y() : y;
    if (!(flags & SWP_NOSIZE)) {
        MoveWindow(nx, ny, cx, cy, !(flags & SWP_NOREDRAW));
    } else if (!(flags & SWP_NOMOVE)) {
        w->move(nx, ny);
    }
    if (!(flags & SWP_NOZORDER) && insertAfter != nullptr && insertAfter->GetSafeHwnd() != nullptr)
        w->stackUnder(insertAfter->GetSafeHwnd());
    if (flags & SWP_SHOWWINDOW)
        w->show();
    if (flags & SWP_HIDEWINDOW)
        w->hide();
    if (m_item.kind == ControlKind::ComboBox)
        ApplyDroppedHeight();
    return TRUE;
}

void CDlgItem::ApplyDroppedHeight() const
{
    auto* combo = qobject_cast<QComboBox*>(Widget());
    if (!combo || m_nDroppedHeight <= 0)
        return;
    QWidget* popup = combo->view()->parentWidget();
    if (!popup || !popup->isVisible())
        return;
    const int list = m_nDroppedHeight - combo->height();
    if (list > 0)
        popup->resize(popup->width(), list);
}

void CDlgItem::SetFont(const CFont* font, BOOL redraw)
{
    if (!font || !font->Data())
        return;
    SetQFont(font->Data()->font, redraw);
    m_pFont = font;
}

const CFont* CDlgItem::GetFont() const { return m_pFont ? m_pFont : &m_pOwner->DialogFontObject(); }

int CDlgItem::GetLogFont(LOGFONT* logFont) const
{
    const CFont* font = GetFont();
    return (font && logFont) ? font->GetLogFont(logFont) : 0;
}

void CDlgItem::SetQFont(const QFont& font, BOOL redraw)
{
    m_pFont = nullptr; // a bare Qt font has no description
    if (QWidget* w = Widget()) {
        w->setFont(font);
        if (redraw)
            w->update();
    }
}

QFont CDlgItem::GetQFont() const
{
    const QWidget* w = Widget();
    return w ? w->font() : QFont();
}

void CDlgItem::Invalidate(BOOL) { InvalidateRect(nullptr); }

void CDlgItem::InvalidateRect(const RECT* rect, BOOL)
{
    QWidget* w = Widget();
    if (!w)
        return;
    if (rect)
        w->update(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    else
        w->update();
}

CDlgItem* CDlgItem::GetNextWindow() const
{
    const auto& controls = m_pOwner->Controls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].get() == this)
            return i + 1 < controls.size() ? controls[i + 1].get() : nullptr;
    }
    return nullptr;
}
