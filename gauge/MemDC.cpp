#include "gauge/MemDC.h"

MemDC::MemDC(CDC* pDC, const RECT& rect) : m_pTargetDC(pDC), m_rcArea(rect)
{
    CreateCompatibleDC(pDC);
    // Painted entirely by its user, so not cleared first.
    m_bmpOffscreen.CreateCompatibleBitmapUncleared(pDC, rect.right - rect.left, rect.bottom - rect.top);
    m_pPrevBitmap = SelectObject(&m_bmpOffscreen);
    // Drawing in the target's coordinates lands in the bitmap.
    SetWindowOrg(rect.left, rect.top);
}

MemDC::~MemDC()
{
    if (m_pTargetDC)
        m_pTargetDC->BitBlt(m_rcArea.left, m_rcArea.top, m_rcArea.right - m_rcArea.left, m_rcArea.bottom - m_rcArea.top,
                            this, m_rcArea.left, m_rcArea.top, SRCCOPY);
    if (m_pPrevBitmap)
        SelectObject(m_pPrevBitmap);
    m_bmpOffscreen.DeleteObject();
    DeleteDC();
}
