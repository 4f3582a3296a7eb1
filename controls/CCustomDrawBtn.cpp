#include "controls/CCustomDrawBtn.h"

#include <QCursor>
#include <QMouseEvent>
#include <QTimerEvent>

#include "platform/draw/CDC.h"

const ButtonScheme BLUE_BUTTON_SCHEME = {
    RGB(101, 160, 251), RGB(17, 94, 188), RGB(51, 126, 251), RGB(255, 255, 255), 15, 20};
const ButtonScheme RED_BUTTON_SCHEME = {
    RGB(255, 134, 134), RGB(255, 93, 93), RGB(255, 93, 93), RGB(255, 255, 255), 15, 20};

namespace
{

constexpr COLORREF kDisabledBody = RGB(245, 245, 245);
constexpr COLORREF kDisabledInk = RGB(153, 153, 153);
constexpr int kFocusInset = 4;
constexpr UINT kCaptionFormat = DT_CENTER | DT_RIGHT | DT_BOTTOM; // 0x000B

std::function<QPoint()>& CursorPosSource()
{
    static std::function<QPoint()> source;
    return source;
}

QPoint CursorPos()
{
    const auto& source = CursorPosSource();
    return source ? source() : QCursor::pos();
}

} // namespace

void CCustomDrawBtn::SetCursorPosSource(std::function<QPoint()> source)
{
    CursorPosSource() = std::move(source);
}

CCustomDrawBtn::CCustomDrawBtn(QWidget* parent) : QPushButton(parent)
{
    m_clrBorder = m_clrNormal;
    m_clrCurrent = m_clrNormal;
    // Every pointer move reaches the button, not only those with a button held.
    setMouseTracking(true);
}

CCustomDrawBtn::~CCustomDrawBtn() = default;

void CCustomDrawBtn::PreSubclassWindow()
{
    m_bOwnerDraw = true;
    update();
}

void CCustomDrawBtn::ApplyScheme(const ButtonScheme& scheme)
{
    m_clrNormal = scheme.normal;
    m_clrCurrent = scheme.normal;
    m_clrHover = scheme.hover;
    m_clrBorder = scheme.border;
    m_clrText = scheme.text;
    m_nFontHeight = scheme.fontHeight;
    m_nRoundSize = scheme.roundSize;
    update();
}

void CCustomDrawBtn::paintEvent(QPaintEvent* event)
{
    if (!m_bOwnerDraw) {
        QPushButton::paintEvent(event);
        return;
    }
    DRAWITEMSTRUCT dis;
    dis.CtlType = ODT_BUTTON;
    dis.itemAction = ODA_DRAWENTIRE;
    if (!isEnabled())
        dis.itemState |= ODS_DISABLED;
    if (hasFocus())
        dis.itemState |= ODS_FOCUS;
    if (isDown())
        dis.itemState |= ODS_SELECTED;
    dis.hwndItem = this;
    dis.rcItem = RECT{0, 0, width(), height()};
    DrawItem(&dis);
}

void CCustomDrawBtn::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct)
{
    m_rcClient = RECT{0, 0, width(), height()};
    CClientDC dc(this);
    if (!dc.GetSafeHdc())
        return;
    m_strText = text().toStdString();
    DrawButton(lpDrawItemStruct->itemState, &dc, m_nRoundSize, m_clrCurrent);
}

void CCustomDrawBtn::DrawButton(UINT nState, CDC* pDC, int nRoundSize, COLORREF clrBody)
{
    const CRect rc = m_rcClient;
    CRect focus(0, 0, rc.Width(), rc.Height());
    focus.DeflateRect(kFocusInset, kFocusInset);

    COLORREF fill = clrBody, outline = m_clrBorder, caption = m_clrText;
    if (nState & ODS_DISABLED) {
        fill = kDisabledBody;
        outline = kDisabledInk;
        caption = kDisabledInk;
    }

    CPen pen(PS_SOLID, 1, outline);
    CPen* pOldPen = pDC->SelectObject(&pen);
    CFont font;
    font.CreateFont(m_nFontHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "宋体");
    CFont* pOldFont = pDC->SelectObject(&font);
    CBrush brush(fill);
    CBrush* pOldBrush = pDC->SelectObject(&brush);

    pDC->RoundRect(0, 0, rc.Width(), rc.Height(), nRoundSize, nRoundSize);
    pDC->SelectObject(pOldPen);

    // Vertical placement by the caption's measured height, truncating.
    SIZE ext{};
    pDC->GetTextExtentPoint32(m_strText.c_str(), static_cast<int>(m_strText.size()), &ext);
    CRect text = m_rcClient;
    text.top = text.top + (text.bottom - ext.cy - text.top) / 2;
    pDC->SetBkMode(TRANSPARENT);
    pDC->SetTextColor(caption);
    pDC->DrawText(m_strText, &text, kCaptionFormat);

    if (nState & ODS_FOCUS) {
        const int oldBkMode = pDC->SetBkMode(TRANSPARENT);
        CPen dotted(PS_DOT, 0, m_clrHover);
        CPen* pPrevPen = pDC->SelectObject(&dotted);
        CGdiObject* pPrevBrush = pDC->SelectStockObject(NULL_BRUSH);
        pDC->Rectangle(&focus);
        pDC->SetBkMode(oldBkMode);
        pDC->SelectObject(pPrevPen);
        pDC->SelectObject(pPrevBrush);
    }

    pDC->SelectObject(pOldFont);
    pDC->SelectObject(pOldBrush);
}

void CCustomDrawBtn::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    OnMouseMove(0, POINT{p.x(), p.y()});
    QPushButton::mouseMoveEvent(event);
}

void CCustomDrawBtn::OnMouseMove(UINT, POINT)
{
    if (!m_bHover) {
        SetTimer(HOVER_TIMER_ID, HOVER_TIMER_PERIOD_MS);
        m_clrCurrent = m_clrHover;
        update();
        m_bHover = TRUE;
    }
}

void CCustomDrawBtn::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_hoverTimer.timerId()) {
        OnTimer(HOVER_TIMER_ID);
        return;
    }
    QPushButton::timerEvent(event);
}

void CCustomDrawBtn::OnTimer(std::uintptr_t)
{
    // Leaving is noticed by polling the pointer, whatever the mouse buttons do.
    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    const CRect window(topLeft.x(), topLeft.y(), topLeft.x() + width(), topLeft.y() + height());
    const QPoint pos = CursorPos();
    if (window.PtInRect(POINT{pos.x(), pos.y()}))
        return;
    KillTimer(HOVER_TIMER_ID);
    m_clrCurrent = m_clrNormal;
    update();
    m_bHover = FALSE;
}

std::uintptr_t CCustomDrawBtn::SetTimer(std::uintptr_t nIDEvent, UINT nElapse)
{
    if (nIDEvent != static_cast<std::uintptr_t>(HOVER_TIMER_ID))
        return 0;
    m_hoverTimer.start(static_cast<int>(nElapse), this);
    return nIDEvent;
}

BOOL CCustomDrawBtn::KillTimer(std::uintptr_t nIDEvent)
{
    if (nIDEvent != static_cast<std::uintptr_t>(HOVER_TIMER_ID) || !m_hoverTimer.isActive())
        return FALSE;
    m_hoverTimer.stop();
    return TRUE;
}
