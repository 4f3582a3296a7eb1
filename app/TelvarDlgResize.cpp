// Proportional resizing of the main dialog: every control keeps its place and
// size relative to the client area, the small edits get a font that fits their
// new height, and the gauges redraw their dials at the new size.
#include "app/CTelvarDlg.h"
#include "app/resource.h"

void CTelvarDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialogEx::OnSize(nType, cx, cy);
    // Minimising moves nothing; the last size stays, so restoring scales by 1.
    if (nType == SIZE_MINIMIZED)
        return;
    // While the window is being made there is nothing to move yet.
    if (GetTopWindow() == nullptr || m_nLastWidth <= 0 || m_nLastHeight <= 0) {
        m_nLastWidth = cx;
        m_nLastHeight = cy;
        return;
    }
    // A client area of no size would scale every control to nothing, and no
    // later ratio could bring them back: treat it like a minimisation.
    if (cx <= 0 || cy <= 0)
        return;

    ResizeChildren();

    if (CDlgItem* pEdit = GetDlgItem(IDC_OTHER_BITS_EDIT1)) {
        LOGFONT lf{};
        pEdit->GetLogFont(&lf);
        CRect rcEdit;
        pEdit->GetClientRect(&rcEdit);
        const int nHeight = 4 * rcEdit.Height() / 5;
        lf.lfHeight = nHeight;
        lf.lfWidth = nHeight / 3;
        // The edits hold the realised form of the font they show, so the old
        // object can go before they are given the new one.
        m_fontEdit.DeleteObject();
        m_fontEdit.CreateFontIndirect(&lf);
        for (int nID : {IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2, IDC_INTERVAL}) {
            if (CDlgItem* pItem = GetDlgItem(nID))
                pItem->SetFont(&m_fontEdit, TRUE);
        }
    }

    // The cached dials still have the old geometry.
    if (CDlgItem* pItem = GetDlgItem(IDC_METER1); pItem && pItem->Widget() == &m_meter1)
        m_meter1.ResetBackground();
    if (CDlgItem* pItem = GetDlgItem(IDC_METER2); pItem && pItem->Widget() == &m_meter2)
        m_meter2.ResetBackground();

    InvalidateRect(nullptr, TRUE);
}

void CTelvarDlg::ResizeChildren()
{
    CRect rcClient;
    GetClientRect(&rcClient);
    const int nWidth = rcClient.Width();
    const int nHeight = rcClient.Height();
    const int nInitWidth = m_rcInitClient.Width();
    const int nInitHeight = m_rcInitClient.Height();
    if (nWidth <= 0 || nHeight <= 0 || nInitWidth <= 0 || nInitHeight <= 0)
        return;
    // From the layout recorded at initialisation, never from the current
    // rectangles: a drag delivers hundreds of sizes, and truncations taken
    // from each other would wear the layout down. The same client size
    // always gives the same layout, the initial size the initial one.
    const float rx = static_cast<float>(nWidth) / static_cast<float>(nInitWidth);
    const float ry = static_cast<float>(nHeight) / static_cast<float>(nInitHeight);

    for (const auto& [nID, rc] : m_initialLayout) {
        CDlgItem* pControl = GetDlgItem(nID);
        if (pControl == nullptr)
            continue;
        const int nLeft = static_cast<int>(static_cast<float>(rc.left) * rx);
        const int nTop = static_cast<int>(static_cast<float>(rc.top) * ry);
        const int nRight = static_cast<int>(static_cast<float>(rc.right) * rx);
        const int nBottom = static_cast<int>(static_cast<float>(rc.bottom) * ry);
        pControl->MoveWindow(nLeft, nTop, nRight - nLeft, nBottom - nTop, TRUE);
    }

    m_nLastWidth = nWidth;
    m_nLastHeight = nHeight;
}

// Only reached where the window manager lets the frame be dragged (the dialog
// has no sizing border): the frame stays at least as wide as the first client
// area and 60 pixels taller than it.
void CTelvarDlg::OnSizing(UINT fwSide, RECT* pRect)
{
    CDialogEx::OnSizing(fwSide, pRect);
    if (pRect == nullptr)
        return;
    const int nMinWidth = m_rcInitClient.Width();
    const int nMinHeight = m_rcInitClient.Height() + 60;
    if (pRect->right - pRect->left < nMinWidth) {
        if (fwSide == WMSZ_LEFT || fwSide == WMSZ_TOPLEFT || fwSide == WMSZ_BOTTOMLEFT)
            pRect->left = pRect->right - nMinWidth;
        else
            pRect->right = pRect->left + nMinWidth;
    }
    if (pRect->bottom - pRect->top < nMinHeight) {
        if (fwSide == WMSZ_TOP || fwSide == WMSZ_TOPLEFT || fwSide == WMSZ_TOPRIGHT)
            pRect->top = pRect->bottom - nMinHeight;
        else
            pRect->bottom = pRect->top + nMinHeight;
    }
}
